// SymbolTable: the names of a program's global symbols, read from a linker map
// file (kind 0) or a Tasm symbol file (kind 1), for the debugger window's symbol
// box. Built by loadSymbolFile, which the Load Mapfile command and application
// installation call; the one current table is `currentSymbols`.
//
// Map file layout accepted (fields separated by spaces and/or "|"):
//   - Lines before the heading are ignored. The heading is the first line whose
//     first word is exactly "symbol" followed by a space (a line holding only
//     "symbol" is not a heading). Only the first heading counts.
//   - The line after the heading is always skipped (a column ruler).
//   - Every later line is a symbol line: name, value, section, and then at
//     least one more space or "|" before the line end (a section word with the
//     line end directly attached is not recognised):
//       name     one leading "_" is dropped; names longer than 43 characters
//                are cut to 43
//       value    hexadecimal, optional "0x"; reading stops at the first
//                character that is not a hex digit
//       section  exactly "_code" (Functions list) or "_data" (Data list; names
//                that begin with "__" are left out)
//     Any other line is skipped. Lines longer than 254 characters (line end
//     included) are read only up to that length.
//   Example:
//     symbol | value | section |
//     -------+-------+---------+
//     _main | 4000 | _code |
//     _drawScreen | 0x4123 | _code |
//     _counter | 8000 | _data |
//
// Sym file: every line "word.name value": leading dots are skipped, the word
// before the next dot is ignored, the name follows the dot (one leading "_"
// dropped), then a space and the hexadecimal value. All go to Functions.
//
// Limits: 255 data and 512 function symbols; later ones are dropped.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SymbolRecord {
    char name[44];  // at most 43 characters and a terminator
    int32_t value;
};

class SymbolTable {
public:
    static constexpr int maxDataSymbols = 255;
    static constexpr int maxFunctionSymbols = 512;
    static constexpr int maxNameLength = 43;
    static constexpr int lineLimit = 254;  // characters read per line, line end included

    SymbolTable();

    // True when the file could not be opened; the table is then empty.
    bool openFailed = false;
    // True when the symbol box must be refilled before it is next opened: set
    // after loading and when the user switches lists, cleared by the window.
    bool listChanged = true;

    int dataCount() const { return int(dataSymbols.size()); }
    int functionCount() const { return int(functionSymbols.size()); }

    // Name at that position, or nullptr at or past the count (or for index < 0).
    const char* dataItem(int index) const;
    const char* functionItem(int index) const;

    // Value of the first record whose name equals name exactly: Data list first.
    std::optional<int32_t> findSymbol(std::string_view name) const;

    // Append a record (the name cut to 43 characters); nothing when the list is full.
    void addData(std::string_view name, int32_t value);
    void addFunction(std::string_view name, int32_t value);

    // The two grammars, reading the stream to its end. Loading through
    // loadSymbolFile is the usual way; these serve tests and the fuzzer.
    void readMap(std::istream& in);
    void readSym(std::istream& in);

private:
    std::vector<SymbolRecord> dataSymbols;
    std::vector<SymbolRecord> functionSymbols;
};

// Builds a table from fileName: kind 0 map grammar, any other kind the sym
// grammar. Never null; openFailed tells whether the file could be opened.
std::unique_ptr<SymbolTable> loadSymbolFile(const std::string& fileName, int kind);
