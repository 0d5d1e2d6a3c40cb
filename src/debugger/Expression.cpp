// Expression: a recursive-descent parser that writes a postfix program, and
// an evaluator that runs it over a fixed stack. The parser bounds its own
// recursion (DepthLimit) and the text (LengthLimit), which also bounds the
// evaluation stack, so neither side can run out of stack whatever is typed.
#include "debugger/Expression.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "debugger/SymbolTable.h"

namespace {

enum Op : uint8_t {
    Number, Register, Name,
    ByteAt, WordAt, Negate, Complement, LogicalNot,
    Multiply, Divide, Remainder, Add, Subtract, ShiftLeft, ShiftRight,
    Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual,
    BitAnd, BitXor, BitOr, LogicalAnd, LogicalOr,
};

// Every pushed value takes at least one character and every pending one an
// operator character too, so a text within LengthLimit never needs more.
constexpr std::size_t stackLimit = Expression::LengthLimit / 2 + 1;

struct BinaryOperator {
    const char* spelling;
    int level;  // 0 binds loosest
    Op op;
};

constexpr BinaryOperator binaryOperators[] = {
    {"||", 0, LogicalOr}, {"&&", 1, LogicalAnd}, {"|", 2, BitOr},       {"^", 3, BitXor},
    {"&", 4, BitAnd},     {"==", 5, Equal},      {"!=", 5, NotEqual},   {"<", 6, Less},
    {"<=", 6, LessEqual}, {">", 6, Greater},     {">=", 6, GreaterEqual}, {"<<", 7, ShiftLeft},
    {">>", 7, ShiftRight}, {"+", 8, Add},        {"-", 8, Subtract},    {"*", 9, Multiply},
    {"/", 9, Divide},     {"%", 9, Remainder},
};
constexpr int tightestLevel = 9;

struct RegisterName {
    const char* spelling;  // lower case
    ExprRegister reg;
};

constexpr RegisterName registerNames[] = {
    {"a", ExprRegister::A},     {"f", ExprRegister::F},     {"b", ExprRegister::B},
    {"c", ExprRegister::C},     {"d", ExprRegister::D},     {"e", ExprRegister::E},
    {"h", ExprRegister::H},     {"l", ExprRegister::L},     {"af", ExprRegister::AF},
    {"bc", ExprRegister::BC},   {"de", ExprRegister::DE},   {"hl", ExprRegister::HL},
    {"ix", ExprRegister::IX},   {"iy", ExprRegister::IY},   {"sp", ExprRegister::SP},
    {"pc", ExprRegister::PC},   {"i", ExprRegister::I},     {"r", ExprRegister::R},
    {"af'", ExprRegister::AF2}, {"bc'", ExprRegister::BC2}, {"de'", ExprRegister::DE2},
    {"hl'", ExprRegister::HL2}, {"rombank", ExprRegister::RomBank}, {"rambank", ExprRegister::RamBank},
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isWordChar(char c) { return isLetter(c) || isDigit(c) || c == '_' || c == '.'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    const char l = lower(c);
    return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

bool equalsLower(std::string_view word, const char* spelling) {
    std::size_t i = 0;
    for (; i < word.size(); ++i)
        if (spelling[i] == '\0' || lower(word[i]) != spelling[i]) return false;
    return spelling[i] == '\0';
}

std::optional<ExprRegister> registerOf(std::string_view word) {
    for (const RegisterName& r : registerNames)
        if (equalsLower(word, r.spelling)) return r.reg;
    return std::nullopt;
}

bool isByteRegister(ExprRegister r) {
    return r <= ExprRegister::L || r == ExprRegister::I || r == ExprRegister::R;
}

// Hex digits alone, at most 32 bits of value (leading zeros are free).
std::optional<uint32_t> hexNumber(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    uint32_t value = 0;
    int significant = 0;
    for (char c : digits) {
        const int v = hexValue(c);
        if (v < 0) return std::nullopt;
        if (significant > 0 || v != 0) ++significant;
        if (significant > 8) return std::nullopt;
        value = value << 4 | uint32_t(v);
    }
    return value;
}

// A name or token for a message, cut so that a huge word cannot flood it.
std::string shown(std::string_view word) {
    constexpr std::size_t most = 32;
    std::string s(word.substr(0, most));
    if (word.size() > most) s += "...";
    return s;
}

// The same in quotes (built by appending: GCC 12 warns wrongly about "'" + string).
std::string quoted(std::string_view word) {
    std::string s = "'";
    s += shown(word);
    s += '\'';
    return s;
}

std::string collapseBlanks(std::string_view text) {
    std::string out;
    bool pendingBlank = false;
    for (char c : text) {
        if (isBlank(c)) {
            pendingBlank = !out.empty();
            continue;
        }
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        out += c;
    }
    return out;
}

// Stack effect of each step: what it takes and what it leaves.
int operandsOf(Op op) {
    if (op <= Name) return 0;
    if (op <= LogicalNot) return 1;
    return 2;
}

class Parser {
public:
    Parser(std::string_view text, std::vector<Expression::Step>& program, std::vector<std::string>& names)
        : text(text), program(program), names(names) {}

    // False with message() set at the first fault.
    bool run() {
        if (text.size() > Expression::LengthLimit)
            return fail(Expression::LengthLimit,
                        "expression longer than " + std::to_string(Expression::LengthLimit) + " characters");
        if (!binary(0)) return false;
        skipBlanks();
        if (pos < text.size()) return fail(pos, "unexpected " + describeAt(pos));
        return checkStack();
    }

    const std::string& message() const { return failure; }

private:
    std::string_view text;
    std::vector<Expression::Step>& program;
    std::vector<std::string>& names;
    std::size_t pos = 0;
    int depth = 0;
    std::string failure;

    bool fail(std::size_t at, const std::string& what) {
        failure = "position " + std::to_string(at + 1) + ": " + what;
        return false;
    }

    char at(std::size_t i) const { return i < text.size() ? text[i] : '\0'; }
    void skipBlanks() {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
    }
    void emit(Op op, uint32_t value = 0) { program.push_back({op, value}); }

    // The longest binary operator spelled at pos, if any.
    const BinaryOperator* binaryAt(std::size_t i) const {
        if (i >= text.size() || text[i] == '\0' || !std::strchr("|&^=!<>+-*/%", text[i])) return nullptr;
        const BinaryOperator* best = nullptr;
        std::size_t bestLength = 0;
        for (const BinaryOperator& b : binaryOperators) {
            const std::string_view s = b.spelling;
            if (text.substr(i, s.size()) == s && s.size() > bestLength) {
                best = &b;
                bestLength = s.size();
            }
        }
        return best;
    }

    std::string describeAt(std::size_t i) const {
        const char c = text[i];
        if (isWordChar(c)) {
            std::size_t end = i;
            while (end < text.size() && isWordChar(text[end])) ++end;
            return quoted(text.substr(i, end - i));
        }
        if (const BinaryOperator* b = binaryAt(i)) return quoted(b->spelling);
        if (c > ' ' && c < 0x7F) return quoted(std::string_view(&text[i], 1));
        char byte[16];
        std::snprintf(byte, sizeof byte, "byte 0x%02X", unsigned(static_cast<unsigned char>(c)));
        return byte;
    }

    bool deeper(std::size_t where) {
        if (++depth > Expression::DepthLimit)
            return fail(where, "nested more than " + std::to_string(Expression::DepthLimit) + " deep");
        return true;
    }

    // Left-associative operators of one precedence level and tighter.
    bool binary(int level) {
        if (level > tightestLevel) return unary();
        if (!binary(level + 1)) return false;
        for (;;) {
            skipBlanks();
            const BinaryOperator* b = binaryAt(pos);
            if (!b || b->level != level) return true;
            pos += std::string_view(b->spelling).size();
            if (!binary(level + 1)) return false;
            emit(b->op);
        }
    }

    bool unary() {
        skipBlanks();
        const char c = at(pos);
        Op op;
        std::size_t length = 1;
        if (c == '-') {
            op = Negate;
        } else if (c == '~') {
            op = Complement;
        } else if (c == '!') {
            op = LogicalNot;
        } else if ((lower(c) == 'b' || lower(c) == 'w') && at(pos + 1) == '@') {
            op = lower(c) == 'b' ? ByteAt : WordAt;
            length = 2;
        } else {
            return primary();
        }
        if (!deeper(pos)) return false;
        pos += length;
        if (!unary()) return false;
        emit(op);
        --depth;
        return true;
    }

    bool primary() {
        const std::size_t start = pos;
        const char c = at(pos);
        if (pos >= text.size()) return fail(pos, "expression expected");
        if (c == '(') {
            if (!deeper(pos)) return false;
            ++pos;
            if (!binary(0)) return false;
            skipBlanks();
            if (at(pos) != ')' || pos >= text.size()) return fail(pos, "')' expected");
            ++pos;
            --depth;
            return true;
        }
        if (isDigit(c)) {
            while (pos < text.size() && hexValue(text[pos]) >= 0) ++pos;
            const std::string_view digits = text.substr(start, pos - start);
            if (isWordChar(at(pos))) {
                if (digits == "0" && lower(at(pos)) == 'x') return fail(pos, "numbers are hex without '0x'");
                return fail(pos, "unexpected " + quoted(text.substr(pos, 1)) + " in a number");
            }
            const auto value = hexNumber(digits);
            if (!value) return fail(start, "number too large");
            emit(Number, *value);
            return true;
        }
        if (c == '#') {
            ++pos;
            uint64_t value = 0;
            bool large = false;
            while (pos < text.size() && isDigit(text[pos])) {
                value = value * 10 + uint64_t(text[pos] - '0');
                if (value > 0xFFFFFFFFu) {
                    large = true;
                    value = 0xFFFFFFFFu;
                }
                ++pos;
            }
            if (pos == start + 1) return fail(pos, "decimal digits expected after '#'");
            if (isWordChar(at(pos))) return fail(pos, "unexpected " + quoted(text.substr(pos, 1)) + " in a number");
            if (large) return fail(start, "number too large");
            emit(Number, uint32_t(value));
            return true;
        }
        if (isLetter(c) || c == '_') {
            while (pos < text.size() && isWordChar(text[pos])) ++pos;
            std::string_view word = text.substr(start, pos - start);
            if (at(pos) == '\'' && (equalsLower(word, "af") || equalsLower(word, "bc") || equalsLower(word, "de") ||
                                    equalsLower(word, "hl"))) {
                ++pos;
                word = text.substr(start, pos - start);
            }
            if (const auto reg = registerOf(word)) {
                emit(Register, uint32_t(*reg));
                return true;
            }
            std::size_t index = 0;
            while (index < names.size() && names[index] != word) ++index;
            if (index == names.size()) names.emplace_back(word);
            emit(Name, uint32_t(index));
            return true;
        }
        if (c == ')' || binaryAt(pos)) return fail(pos, "expression expected");
        return fail(pos, "unexpected " + describeAt(pos));
    }

    // The program the grammar wrote always balances; checked all the same,
    // since evaluation indexes its fixed stack without further tests.
    bool checkStack() {
        std::size_t height = 0;
        for (const Expression::Step& step : program) {
            const int takes = operandsOf(Op(step.op));
            if (height < std::size_t(takes)) return fail(0, "internal error: unbalanced program");
            height = height - std::size_t(takes) + 1;
            if (height > stackLimit) return fail(0, "expression too complex");
        }
        if (height != 1) return fail(0, "internal error: unbalanced program");
        return true;
    }
};

}  // namespace

std::optional<Expression> Expression::parse(std::string_view text, std::string* error) {
    Expression e;
    Parser parser(text, e.program, e.names);
    if (!parser.run()) {
        if (error) *error = parser.message();
        return std::nullopt;
    }
    e.source = collapseBlanks(text);
    const Step& last = e.program.back();
    e.byteWide = last.op == ByteAt ||
                 (e.program.size() == 1 && last.op == Register && isByteRegister(ExprRegister(last.value)));
    return e;
}

bool Expression::resolve(const SymbolTable* symbols, std::string* error) {
    std::vector<uint32_t> found;
    found.reserve(names.size());
    for (const std::string& name : names) {
        if (const auto symbol = symbols ? symbols->findSymbol(name) : std::nullopt) {
            found.push_back(uint32_t(*symbol));
        } else if (const auto number = hexNumber(name)) {
            found.push_back(*number);
        } else {
            resolved = false;
            if (error) *error = "unknown name " + quoted(name);
            return false;
        }
    }
    values = std::move(found);
    resolved = true;
    return true;
}

uint32_t Expression::evaluate(const ExprMachine& machine) const {
    if (!resolved || program.empty()) return 0;
    std::array<uint32_t, stackLimit> stack;
    std::size_t top = 0;  // values on the stack
    for (const Step& step : program) {
        const Op op = Op(step.op);
        if (op == Number || op == Register || op == Name) {
            stack[top++] = op == Number ? step.value
                         : op == Register ? machine.reg(ExprRegister(step.value))
                                          : values[step.value];
            continue;
        }
        uint32_t& a = stack[top - (operandsOf(op) == 2 ? 2 : 1)];
        const uint32_t b = stack[top - 1];
        switch (op) {
        case ByteAt: a = machine.byteAt(uint16_t(a)); break;
        case WordAt: a = machine.byteAt(uint16_t(a)) | uint32_t(machine.byteAt(uint16_t(a + 1))) << 8; break;
        case Negate: a = 0u - a; break;
        case Complement: a = ~a; break;
        case LogicalNot: a = a == 0; break;
        case Multiply: a = a * b; break;
        case Divide: a = b == 0 ? 0 : a / b; break;
        case Remainder: a = b == 0 ? 0 : a % b; break;
        case Add: a = a + b; break;
        case Subtract: a = a - b; break;
        case ShiftLeft: a = b >= 32 ? 0 : a << b; break;
        case ShiftRight: a = b >= 32 ? 0 : a >> b; break;
        case Less: a = a < b; break;
        case LessEqual: a = a <= b; break;
        case Greater: a = a > b; break;
        case GreaterEqual: a = a >= b; break;
        case Equal: a = a == b; break;
        case NotEqual: a = a != b; break;
        case BitAnd: a = a & b; break;
        case BitXor: a = a ^ b; break;
        case BitOr: a = a | b; break;
        case LogicalAnd: a = a != 0 && b != 0; break;
        case LogicalOr: a = a != 0 || b != 0; break;
        default: break;
        }
        if (operandsOf(op) == 2) --top;
    }
    return stack[top - 1];
}
