// Fuzz target for point lines and expressions: each line of the input is read
// as a point (then resolved against a small table and its log formatted) and
// as an expression on its own. A canonical text must parse again to itself
// with the same fields and values, and errors must say where they are. Built
// and run by scripts/fuzz.sh with clang's libFuzzer; not part of the normal
// build.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "debugger/Expression.h"
#include "debugger/PointSyntax.h"
#include "debugger/SymbolTable.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// Registers at their widths and memory that is a function of the address,
// both varied by a seed taken from the line.
struct Machine : ExprMachine {
    uint32_t seed;
    explicit Machine(uint32_t seed) : seed(seed) {}

    uint32_t reg(ExprRegister r) const override {
        const uint32_t v = seed * 2654435761u + uint32_t(r) * 40503u;
        const bool byteWide = r <= ExprRegister::L || r == ExprRegister::I || r == ExprRegister::R ||
                              r == ExprRegister::RomBank || r == ExprRegister::RamBank;
        return byteWide ? v & 0xFF : v & 0xFFFF;
    }
    uint8_t byteAt(uint16_t address) const override { return uint8_t(address * 7u + seed); }
};

const SymbolTable& symbols() {
    static const SymbolTable table = [] {
        SymbolTable t;
        t.addData("count", 0x1234);
        t.addData("CAFE", 7);
        t.addFunction("main", 0x4000);
        t.addFunction("neg", -1);
        t.addFunction("hits", 3);
        t.addFunction("log", 0x10000);
        return t;
    }();
    return table;
}

// "position N: ..." with N inside the text or just past it.
void checkPosition(const std::string& error, std::size_t length) {
    check(error.rfind("position ", 0) == 0);
    std::size_t n = 0, i = 9;
    for (; i < error.size() && error[i] >= '0' && error[i] <= '9'; ++i) n = n * 10 + std::size_t(error[i] - '0');
    check(i > 9 && i < error.size() && error[i] == ':');
    check(n >= 1 && n <= length + 1);
}

void expression(std::string_view line, const Machine& machine) {
    std::string error;
    auto e = Expression::parse(line, &error);
    if (!e) {
        checkPosition(error, line.size());
        return;
    }
    check(error.empty());
    check(e->evaluate(machine) == 0);  // not resolved yet
    auto again = Expression::parse(e->text(), &error);
    check(again.has_value() && again->text() == e->text() && again->isByteWide() == e->isByteWide());
    const bool bound = e->resolve(&symbols(), &error);
    check(again->resolve(&symbols(), nullptr) == bound);
    if (bound) {
        const uint32_t value = e->evaluate(machine);
        check(again->evaluate(machine) == value && e->evaluate(machine) == value);
        if (e->isByteWide()) check(value <= 0xFF);
    } else {
        check(error.rfind("unknown name '", 0) == 0);
    }
    e->resolve(nullptr, nullptr);  // whatever it finds, evaluation stays defined
    e->evaluate(machine);
}

void point(std::string_view line, const Machine& machine) {
    std::string error;
    auto p = parsePoint(line, &error);
    if (!p) {
        check(!error.empty());
        return;
    }
    check(!p->text.empty() && p->text.size() <= 4096);
    check(p->text.rfind(pointKindName(p->kind), 0) == 0);
    check(p->first <= p->last);
    const bool ports = p->kind == PointKind::Out || p->kind == PointKind::In;
    if (ports) check(p->last <= 0xFF);
    if (p->kind == PointKind::Exec) check(p->first == p->last);
    if (p->pageKind != PointPage::Any) check(p->kind == PointKind::Exec);
    check(p->page <= (p->pageKind == PointPage::Flash ? 0xBF : p->pageKind == PointPage::Ram ? 7 : 0));
    check(p->logs == !p->logParts.empty());
    for (const auto& part : p->logParts) check(part.expression.has_value() == part.literal.empty());

    auto again = parsePoint(p->text, &error);
    check(again.has_value());
    check(again->text == p->text && again->kind == p->kind && again->first == p->first && again->last == p->last &&
          again->pageKind == p->pageKind && again->page == p->page && again->hits == p->hits &&
          again->condition.has_value() == p->condition.has_value() && again->logParts.size() == p->logParts.size());
    for (std::size_t i = 0; i < p->logParts.size(); ++i) check(again->logParts[i].literal == p->logParts[i].literal);

    const bool bound = resolvePoint(*p, &symbols(), &error);
    check(resolvePoint(*again, &symbols(), nullptr) == bound);
    if (!bound) {
        check(error.rfind("condition: ", 0) == 0 || error.rfind("log: {", 0) == 0);
        return;
    }
    const std::string log = formatLog(*p, machine);
    check(formatLog(*again, machine) == log);
    if (p->condition) check(again->condition->evaluate(machine) == p->condition->evaluate(machine));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (int lines = 0; start <= input.size() && lines < 64; ++lines) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view line = input.substr(start, end - start);
        uint32_t seed = uint32_t(line.size());
        for (char c : line) seed = seed * 31u + uint8_t(c);
        const Machine machine(seed);
        point(line, machine);
        expression(line, machine);
        start = end + 1;
    }
    // The input whole, line ends and all, must be refused or read safely.
    std::string error;
    if (!parsePoint(input, &error)) check(!error.empty());
    return 0;
}
