// Tests of the expression language and the point syntax: operator values and
// precedence, names against registers, symbols and hex, memory reads through
// the machine, parse errors and their positions, the limits, point lines with
// their canonical texts and refusals, and the widths of logged values.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "debugger/Expression.h"
#include "debugger/PointSyntax.h"
#include "debugger/SymbolTable.h"

namespace {

struct FakeMachine : ExprMachine {
    std::array<uint32_t, 24> registers{};
    std::array<uint8_t, 65536> memory{};

    FakeMachine() {
        for (std::size_t i = 0; i < registers.size(); ++i) registers[i] = uint32_t(0x10 + i);  // A=10, F=11, ...
        registers[std::size_t(ExprRegister::HL)] = 0x8000;
        registers[std::size_t(ExprRegister::SP)] = 0xFFFF;
        memory[0x8000] = 0x34;
        memory[0x8001] = 0x12;
        memory[0x8002] = 0xAB;
        memory[0xFFFF] = 0xCD;
        memory[0x0000] = 0xEF;
        memory[0x0005] = 0x55;
    }
    uint32_t reg(ExprRegister r) const override { return registers[std::size_t(r)]; }
    uint8_t byteAt(uint16_t address) const override { return memory[address]; }
};

std::string parseError(std::string_view text) {
    std::string error;
    EXPECT_FALSE(Expression::parse(text, &error).has_value()) << text;
    return error;
}

// The value of text, or a note of why there is none.
std::string valueOf(std::string_view text, const SymbolTable* symbols = nullptr) {
    std::string error;
    auto e = Expression::parse(text, &error);
    if (!e) return "parse: " + error;
    if (!e->resolve(symbols, &error)) return "resolve: " + error;
    std::ostringstream out;
    out << std::hex << std::uppercase << e->evaluate(FakeMachine());
    return out.str();
}

}  // namespace

TEST(Expression, OperatorsAndPrecedence) {
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"1+2*3", "7"},         {"(1+2)*3", "9"},       {"10-1-1", "E"},         {"#100/#7/2", "7"},
        {"7%3", "1"},           {"5/0", "0"},           {"5%0", "0"},            {"0-1", "FFFFFFFF"},
        {"FFFFFFFF+2", "1"},    {"10000*10000", "0"},   {"-1", "FFFFFFFF"},      {"~0F", "FFFFFFF0"},
        {"!0", "1"},            {"!5", "0"},            {"--3", "3"},            {"1<<1F", "80000000"},
        {"1<<#32", "0"},        {"80000000>>#32", "0"}, {"1<<2+1", "8"},         {"3<4", "1"},
        {"4<=4", "1"},          {"3>4", "0"},           {"4>=5", "0"},           {"2<3==1", "1"},
        {"5==5", "1"},          {"5!=5", "0"},          {"6&3", "2"},            {"6^3", "5"},
        {"6|3", "7"},           {"1|2^3&4", "3"},       {"2&&3", "1"},           {"2&&0", "0"},
        {"0||0", "0"},          {"0||7", "1"},          {"1||0&&0", "1"},        {"1==1&1", "1"},
        {"#4294967295", "FFFFFFFF"}, {"000000000FF", "FF"}, {" \t1 +\t 2 ", "3"}, {"((((7))))", "7"},
    };
    for (const auto& c : cases) EXPECT_EQ(valueOf(c.text), c.value) << c.text;
}

TEST(Expression, RegistersMemoryAndNames) {
    SymbolTable symbols;
    symbols.addData("CAFE", 0x1234);  // a symbol beats the hex reading
    symbols.addFunction("HL", 0x1111);  // never seen: HL is a register
    symbols.addFunction("minus", -1);
    symbols.addFunction("0C", 0x2222);  // a leading digit makes a number
    symbols.addFunction("main.loop", 0x4000);
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"a", "10"},          {"Af'", "22"},         {"hl'", "25"},          {"R", "21"},
        {"romBank", "26"},    {"RAMBANK", "27"},     {"IX+IY", "39"},        {"HL", "8000"},
        {"b@HL", "34"},       {"w@HL", "1234"},      {"b@HL+1", "35"},       {"b@(HL+1)", "12"},
        {"w@(HL+1)", "AB12"}, {"w@SP", "EFCD"},      {"b@10005", "55"},      {"-b@HL", "FFFFFFCC"},
        {"B@HL", "34"},       {"b@w@HL", "0"},       {"CAFE", "1234"},       {"BEEF", "BEEF"},
        {"0C", "C"},          {"minus", "FFFFFFFF"}, {"main.loop+1", "4001"}, {"C", "13"},
        {"nothing", "resolve: unknown name 'nothing'"},
        {"ABCDEF012", "resolve: unknown name 'ABCDEF012'"},
    };
    for (const auto& c : cases) EXPECT_EQ(valueOf(c.text, &symbols), c.value) << c.text;
    EXPECT_EQ(valueOf("CAFE"), "CAFE");  // no table

    // Resolving again binds the names to the new table.
    auto e = Expression::parse("CAFE+CAFE", nullptr);
    ASSERT_TRUE(e && e->resolve(&symbols, nullptr));
    EXPECT_EQ(e->evaluate(FakeMachine()), 0x2468u);
    ASSERT_TRUE(e->resolve(nullptr, nullptr));
    EXPECT_EQ(e->evaluate(FakeMachine()), 0x195FCu);
}

TEST(Expression, ByteWideAndText) {
    const struct {
        const char* text;
        bool byteWide;
    } cases[] = {
        {"A", true},     {"l", true},       {"I", true},        {"R", true},     {"(B)", true},
        {"b@HL", true},  {"b@(HL+1)", true}, {"(b@HL)", true},   {"b@HL+1", false}, {"-A", false},
        {"AF", false},   {"w@HL", false},   {"A+0", false},     {"romBank", false}, {"12", false},
    };
    for (const auto& c : cases) {
        const auto e = Expression::parse(c.text, nullptr);
        ASSERT_TRUE(e) << c.text;
        EXPECT_EQ(e->isByteWide(), c.byteWide) << c.text;
    }
    EXPECT_EQ(Expression::parse(" \tb@HL  ==\t\t1 ", nullptr)->text(), "b@HL == 1");
}

TEST(Expression, ParseErrorsNameTheirPosition) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "position 1: expression expected"},
        {"   ", "position 4: expression expected"},
        {"1+", "position 3: expression expected"},
        {"(1+2", "position 5: ')' expected"},
        {"1 x", "position 3: unexpected 'x'"},
        {"(1))", "position 4: unexpected ')'"},
        {"1 = 2", "position 3: unexpected '='"},
        {"*2", "position 1: expression expected"},
        {"1G", "position 2: unexpected 'G' in a number"},
        {"0x10", "position 2: numbers are hex without '0x'"},
        {"#", "position 2: decimal digits expected after '#'"},
        {"#12A", "position 4: unexpected 'A' in a number"},
        {"2+100000000", "position 3: number too large"},
        {"#4294967296", "position 1: number too large"},
        {"$12", "position 1: unexpected '$'"},
        {"1+\x01", "position 3: unexpected byte 0x01"},
        {"AX'", "position 3: unexpected '''"},
        {"+1", "position 1: expression expected"},
    };
    for (const auto& c : cases) EXPECT_EQ(parseError(c.text), c.error) << c.text;
}

TEST(Expression, DepthAndLengthLimits) {
    const int limit = Expression::DepthLimit;
    const std::string nested = std::string(limit, '(') + "1" + std::string(limit, ')');
    EXPECT_EQ(valueOf(nested), "1");
    EXPECT_EQ(parseError("(" + nested + ")"), "position 65: nested more than 64 deep");
    EXPECT_EQ(valueOf(std::string(limit, '-') + "1"), "1");
    EXPECT_EQ(parseError(std::string(10, '(') + std::string(limit, '~') + "1"), "position 65: nested more than 64 deep");
    EXPECT_EQ(parseError(std::string(100000, '(')), "position 1025: expression longer than 1024 characters");

    // The longest texts, with the deepest evaluation stack they allow.
    std::string chain = "1";
    while (chain.size() + 2 <= Expression::LengthLimit) chain += "+1";
    EXPECT_EQ(valueOf(chain), "200");
    // One pending value at each precedence level, inside each of 39 parentheses.
    std::string deep;
    for (int i = 0; i < 39; ++i) deep += "1||1&&1|1^1&1==1<1<<1+1*(";
    deep += "1" + std::string(39, ')');
    ASSERT_LE(deep.size(), Expression::LengthLimit);
    EXPECT_EQ(valueOf(deep), "1");
    EXPECT_EQ(parseError(chain + "+1"), "position 1025: expression longer than 1024 characters");
}

TEST(PointSyntax, AcceptedLinesAndTheirCanonicalText) {
    const struct {
        const char* text;
        const char* canonical;
        PointKind kind;
        int first, last;
        PointPage pageKind;
        int page;
        uint32_t hits;
    } cases[] = {
        {"exec 4a", "exec 004A", PointKind::Exec, 0x4A, 0x4A, PointPage::Any, 0, 0},
        {"exec f5:4a", "exec f05:004A", PointKind::Exec, 0x4A, 0x4A, PointPage::Flash, 5, 0},
        {"exec FBF:ffff", "exec fBF:FFFF", PointKind::Exec, 0xFFFF, 0xFFFF, PointPage::Flash, 0xBF, 0},
        {"\texec  R7:0 ", "exec r07:0000", PointKind::Exec, 0, 0, PointPage::Ram, 7, 0},
        {"write c000-c0ff   if b@C000==0 hits 3", "write C000-C0FF if b@C000==0 hits 3", PointKind::Write,
         0xC000, 0xC0FF, PointPage::Any, 0, 3},
        {"read C000-C000", "read C000-C000", PointKind::Read, 0xC000, 0xC000, PointPage::Any, 0, 0},
        {"access 0-FFFF hits 0004294967295", "access 0000-FFFF hits 4294967295", PointKind::Access, 0, 0xFFFF,
         PointPage::Any, 0, 4294967295u},
        {"out 3", "out 03", PointKind::Out, 3, 3, PointPage::Any, 0, 0},
        {"in 10-00fF if (A +  hits) log x", "in 10-FF if (A + hits) log x", PointKind::In, 0x10, 0xFF, PointPage::Any,
         0, 0},
        {"exec 100 log  if  hits {HL}  x ", "exec 0100 log if hits {HL} x", PointKind::Exec, 0x100, 0x100,
         PointPage::Any, 0, 0},
        {"exec 0 if hitsx log hits", "exec 0000 if hitsx log hits", PointKind::Exec, 0, 0, PointPage::Any, 0, 0},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto point = parsePoint(c.text, &error);
        ASSERT_TRUE(point) << c.text << ": " << error;
        EXPECT_EQ(point->text, c.canonical);
        EXPECT_EQ(point->kind, c.kind) << c.text;
        EXPECT_EQ(point->first, c.first) << c.text;
        EXPECT_EQ(point->last, c.last) << c.text;
        EXPECT_EQ(point->pageKind, c.pageKind) << c.text;
        EXPECT_EQ(point->page, c.page) << c.text;
        EXPECT_EQ(point->hits, c.hits) << c.text;
        const auto again = parsePoint(point->text, &error);
        ASSERT_TRUE(again) << point->text << ": " << error;
        EXPECT_EQ(again->text, point->text);
    }
    const auto point = parsePoint("exec 0 if hitsx log hits", nullptr);
    EXPECT_EQ(point->condition->text(), "hitsx");
    ASSERT_EQ(point->logParts.size(), 1u);
    EXPECT_EQ(point->logParts[0].literal, "hits");
}

TEST(PointSyntax, RefusedLines) {
    const struct {
        std::string text;
        const char* phrase;
    } cases[] = {
        {"", "point kind expected"},
        {"Exec 100", "unknown kind 'Exec'"},
        {"exec", "exec needs an address"},
        {"out", "out needs a port"},
        {"exec 10000", "address '10000' out of range (0000-FFFF)"},
        {"exec 0c000", "address '0C000' out of range"},
        {"exec 12g", "'12g' is not a hex address"},
        {"exec fc0:100", "page 'C0' out of range (flash 00-BF)"},
        {"exec r8:100", "page '8' out of range (RAM 00-07)"},
        {"exec x1:100", "bad page in 'x1:100'"},
        {"exec f:100", "bad page"},
        {"exec f1:", "address expected"},
        {"exec 100-200", "exec takes one address, not a range"},
        {"write f1:100", "only exec takes a page"},
        {"write c0ff-c000", "range end below its start"},
        {"read c000-", "range end expected after '-'"},
        {"read -c000", "address expected"},
        {"out 100", "port '100' out of range (00-FF)"},
        {"in 5-100", "port '100' out of range"},
        {"exec 100 hits 0", "hits must be 1 or more"},
        {"exec 100 hits", "hits needs a number"},
        {"exec 100 hits 4294967296", "hits must be at most 4294967295"},
        {"exec 100 hits 3x", "hits: '3x' is not a decimal number"},
        {"exec 100 log", "log needs a text"},
        {"exec 100 log   ", "log needs a text"},
        {"exec 100 hits 2 if A", "'if' must come before 'hits'"},
        {"exec 100 hits 2 hits 3", "'hits' given twice"},
        {"exec 100 when A", "unknown word 'when'"},
        {"exec 100 IF A", "unknown word 'IF'"},
        {"exec 100 if A==", "condition: position 4: expression expected"},
        {"exec 100 if", "condition: position 1: expression expected"},
        {"exec 100 if A if B", "condition: position 3: unexpected 'if'"},
        {"exec 100 log a{HL", "log: unmatched '{'"},
        {"exec 100 log a{HL{B}}", "log: unmatched '{'"},
        {"exec 100 log a}", "log: unmatched '}'"},
        {"exec 100 log {HL +}", "log: {HL +}: position 5: expression expected"},
        {"exec 100 log {}", "log: {}: position 1: expression expected"},
        {"exec 100\n", "control character at position 9"},
        {"exec 100 log " + std::string(4084, 'x'), "line longer than 4096 characters"},
        {"exec 0 log " + std::string(4085, 'x'), "point longer than 4096 characters"},  // canonical grows
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parsePoint(c.text, &error)) << c.text;
        EXPECT_NE(error.find(c.phrase), std::string::npos) << c.text.substr(0, 40) << " -> " << error;
    }
}

TEST(PointSyntax, ResolveAndFormatLog) {
    SymbolTable symbols;
    symbols.addData("count", 0x12345);
    auto point = parsePoint("exec 100 if count>0 log  A={A} m={ b@HL }\tw={w@HL} c={count}/{#5}  end", nullptr);
    ASSERT_TRUE(point);
    EXPECT_TRUE(point->logs);
    EXPECT_EQ(point->text, "exec 0100 if count>0 log A={A} m={ b@HL } w={w@HL} c={count}/{#5} end");
    std::string error;
    ASSERT_TRUE(resolvePoint(*point, &symbols, &error)) << error;
    EXPECT_EQ(formatLog(*point, FakeMachine()), "A=10 m=34 w=1234 c=00012345/0005 end");
    EXPECT_EQ(point->condition->evaluate(FakeMachine()), 1u);

    EXPECT_FALSE(resolvePoint(*point, nullptr, &error));
    EXPECT_EQ(error, "condition: unknown name 'count'");
    point = parsePoint("exec 100 log {HL} {lost + 1}", nullptr);
    EXPECT_FALSE(resolvePoint(*point, &symbols, &error));
    EXPECT_EQ(error, "log: {lost + 1}: unknown name 'lost'");
}

TEST(PointSyntax, FuzzSeedsReplay) {
    // Every line of the accepted seeds parses, and its canonical text parses to
    // itself; every line of the refused seeds is refused.
    int lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PDEMU_FUZZ_CORPUS)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("points-", 0) != 0) continue;
        const bool accepted = name.find("refused") == std::string::npos;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line); ++lines) {
            std::string error;
            const auto point = parsePoint(line, &error);
            ASSERT_EQ(point.has_value(), accepted) << name << ": " << line << ": " << error;
            if (point) {
                EXPECT_EQ(parsePoint(point->text, nullptr)->text, point->text);
            }
        }
    }
    EXPECT_GE(lines, 10);
}
