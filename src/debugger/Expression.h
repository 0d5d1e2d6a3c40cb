// Expression: the debugger's small expression language, for point conditions,
// log texts and the Memory window's "follow" field.
//
//   numbers   hexadecimal (any length up to 32 bits); "#" before decimal digits
//   registers A F B C D E H L AF BC DE HL IX IY SP PC I R AF' BC' DE' HL',
//             romBank, ramBank (any letter case)
//   memory    b@X (byte) and w@X (little-endian word) at Z80 address X under
//             the current mapping; unary, so b@HL+1 is (b@HL)+1
//   names     symbols of the current symbol table
//   operators C's, with C's precedence, on unsigned 32-bit values:
//             unary - ~ ! b@ w@; * / %; + -; << >>; < <= > >=; == !=; &; ^; |; &&; ||
//             and parentheses. Division or remainder by 0 gives 0; a shift by
//             32 or more gives 0.
//
// A word is a register when it spells one, else a symbol when the table holds
// it, else a number when it is all hex digits (so C and BC are registers, CAFE
// a symbol or else a number, and 0C, 0BC, 0CAFE numbers). parse checks the grammar alone; resolve binds the
// names to a symbol table and refuses a name it does not hold. Evaluation
// allocates nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SymbolTable;

enum class ExprRegister : uint8_t {
    A, F, B, C, D, E, H, L, AF, BC, DE, HL, IX, IY, SP, PC, I, R, AF2, BC2, DE2, HL2, RomBank, RamBank
};

// What an expression reads when it is evaluated.
class ExprMachine {
public:
    virtual ~ExprMachine() = default;
    virtual uint32_t reg(ExprRegister r) const = 0;
    virtual uint8_t byteAt(uint16_t address) const = 0;
};

class Expression {
public:
    static constexpr int DepthLimit = 64;        // nested parentheses and unary operators
    static constexpr std::size_t LengthLimit = 1024;  // characters of one expression

    // nullopt and *error set ("position N: ...", N counted from 1) when text
    // is not an expression.
    static std::optional<Expression> parse(std::string_view text, std::string* error);

    // Binds the names; symbols may be null (no table). False and *error set
    // ("unknown name 'X'") when a name is neither a register, a symbol nor hex.
    bool resolve(const SymbolTable* symbols, std::string* error);

    // Only after resolve succeeded.
    uint32_t evaluate(const ExprMachine& machine) const;

    // A single 8-bit register or a b@ term: log texts show it with two digits.
    bool isByteWide() const { return byteWide; }
    // The text as given, runs of blanks made one space, trimmed.
    const std::string& text() const { return source; }

    // Opaque program; public for the parser in Expression.cpp.
    struct Step {
        uint8_t op;
        uint32_t value;
    };

private:
    std::string source;
    std::vector<Step> program;           // postfix
    std::vector<std::string> names;      // words still to resolve, by Step::value
    std::vector<uint32_t> values;        // of names, set by resolve
    bool byteWide = false;
    bool resolved = false;
};
