// Fuzz target for the symbol file readers: every input is read with both the
// map and the sym grammar, and the resulting tables are checked for their
// limits. Built and run by scripts/fuzz.sh with clang's libFuzzer; not part of
// the normal build.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "debugger/SymbolTable.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void checkTable(const SymbolTable& table) {
    check(table.dataCount() >= 0 && table.dataCount() <= SymbolTable::maxDataSymbols);
    check(table.functionCount() >= 0 && table.functionCount() <= SymbolTable::maxFunctionSymbols);
    check(table.dataItem(table.dataCount()) == nullptr);
    check(table.functionItem(table.functionCount()) == nullptr);
    for (int i = 0; i < table.dataCount(); ++i) {
        const char* name = table.dataItem(i);
        check(name != nullptr && std::strlen(name) <= std::size_t(SymbolTable::maxNameLength));
        check(name[0] != '_');  // one "_" is dropped, "__" names are not data
        check(table.findSymbol(name).has_value());
    }
    for (int i = 0; i < table.functionCount(); ++i) {
        const char* name = table.functionItem(i);
        check(name != nullptr && *name != '\0' && std::strlen(name) <= std::size_t(SymbolTable::maxNameLength));
        check(table.findSymbol(name).has_value());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        SymbolTable table;
        std::istringstream in(text);
        table.readMap(in);
        checkTable(table);
    }
    {
        SymbolTable table;
        std::istringstream in(text);
        table.readSym(in);
        check(table.dataCount() == 0);
        checkTable(table);
    }
    return 0;
}
