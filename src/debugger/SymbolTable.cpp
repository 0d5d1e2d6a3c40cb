// SymbolTable: reading map and sym files into the Data and Functions lists.
// loadSymbolFile is called by the Load Mapfile command and by application
// installation; the debugger window reads the lists and calls findSymbol.
#include "debugger/SymbolTable.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <sstream>

#include "host/HostFiles.h"

namespace {

constexpr std::size_t maxSymbolFileBytes = 64 * 1024 * 1024;

// One line of the file as the grammars see it: at most lineLimit characters,
// the line end kept. `cut` means the line went on beyond the text (too long,
// or a NUL byte ended it), so its last word may be incomplete.
struct Line {
    std::string_view text;
    bool cut = false;
};

// Reads physical lines. The rest of an over-long line is dropped rather than
// read as further lines: a tail piece would otherwise be parsed as a symbol
// line of its own and could name a symbol after the end of a longer name.
class LineReader {
public:
    explicit LineReader(std::istream& in) : buffer(in.rdbuf()) {}

    bool next(Line& line) {
        text.clear();
        line.cut = false;
        if (!buffer) return false;
        int c;
        bool any = false;
        while ((c = buffer->sbumpc()) != std::char_traits<char>::eof()) {
            any = true;
            if (text.size() < std::size_t(SymbolTable::lineLimit)) {
                text.push_back(char(c));
            } else if (c != '\n') {
                line.cut = true;  // only the line end beyond the limit loses nothing
            }
            if (c == '\n') break;
        }
        if (!any) return false;
        // A NUL byte ends the line's text, as it would for any C-string reader.
        if (auto nul = text.find('\0'); nul != std::string::npos) {
            text.resize(nul);
            line.cut = true;
        }
        line.text = text;
        return true;
    }

private:
    std::streambuf* buffer;
    std::string text;
};

// Splits text into words at runs of any of the delimiter characters.
class Words {
public:
    Words(Line line, const char* delimiters) : line(line), delimiters(delimiters) {}

    // The next word; `complete` is false when a cut line ends inside it.
    bool next(std::string_view& word, bool& complete) {
        const std::string_view t = line.text;
        while (pos < t.size() && isDelimiter(t[pos])) ++pos;
        if (pos >= t.size()) return false;
        const std::size_t start = pos;
        while (pos < t.size() && !isDelimiter(t[pos])) ++pos;
        word = t.substr(start, pos - start);
        complete = !(line.cut && pos == t.size());
        return true;
    }

private:
    bool isDelimiter(char c) const { return c != '\0' && std::strchr(delimiters, c) != nullptr; }

    Line line;
    const char* delimiters;
    std::size_t pos = 0;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal with an optional "0x"; stops at the first non-hex character. No
// leading digit gives no value. Values beyond 32 bits keep their low 32 bits.
std::optional<int32_t> parseHex(std::string_view word) {
    std::size_t i = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') && hexDigit(word[2]) >= 0) i = 2;
    if (i >= word.size() || hexDigit(word[i]) < 0) return std::nullopt;
    uint32_t value = 0;
    for (; i < word.size() && hexDigit(word[i]) >= 0; ++i) value = value << 4 | uint32_t(hexDigit(word[i]));
    return int32_t(value);
}

std::string_view dropUnderscore(std::string_view name) {
    if (!name.empty() && name.front() == '_') name.remove_prefix(1);
    return name;
}

// The heading's first word, delimited by blanks only, must be followed by a
// blank: the line end does not end a word.
bool isMapHeading(std::string_view text) {
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    std::size_t end = text.find(' ', start);
    return end != std::string_view::npos && text.substr(start, end - start) == "symbol";
}

void copyName(SymbolRecord& record, std::string_view name) {
    const std::size_t length = std::min<std::size_t>(name.size(), SymbolTable::maxNameLength);
    std::memcpy(record.name, name.data(), length);
    record.name[length] = '\0';
}

}  // namespace

SymbolTable::SymbolTable() {
    dataSymbols.reserve(maxDataSymbols);
    functionSymbols.reserve(maxFunctionSymbols);
}

const char* SymbolTable::dataItem(int index) const {
    if (index < 0 || index >= dataCount()) return nullptr;
    return dataSymbols[std::size_t(index)].name;
}

const char* SymbolTable::functionItem(int index) const {
    if (index < 0 || index >= functionCount()) return nullptr;
    return functionSymbols[std::size_t(index)].name;
}

std::optional<int32_t> SymbolTable::findSymbol(std::string_view name) const {
    for (const auto* list : {&dataSymbols, &functionSymbols}) {
        for (const SymbolRecord& record : *list) {
            if (name == record.name) return record.value;
        }
    }
    return std::nullopt;
}

void SymbolTable::addData(std::string_view name, int32_t value) {
    if (dataCount() >= maxDataSymbols) return;
    SymbolRecord& record = dataSymbols.emplace_back();
    copyName(record, name);
    record.value = value;
}

void SymbolTable::addFunction(std::string_view name, int32_t value) {
    if (functionCount() >= maxFunctionSymbols) return;
    SymbolRecord& record = functionSymbols.emplace_back();
    copyName(record, name);
    record.value = value;
}

void SymbolTable::readMap(std::istream& in) {
    LineReader reader(in);
    Line line;
    bool inSymbols = false;
    while (reader.next(line)) {
        if (!inSymbols) {
            if (isMapHeading(line.text)) {
                inSymbols = true;
                if (!reader.next(line)) return;  // the column ruler
            }
            continue;
        }
        Words words(line, " |");
        std::string_view name, valueWord, section;
        bool nameComplete, valueComplete, sectionComplete;
        if (!words.next(name, nameComplete) || !words.next(valueWord, valueComplete) ||
            !words.next(section, sectionComplete) || !sectionComplete)
            continue;
        const auto value = parseHex(valueWord);
        name = dropUnderscore(name);
        if (!value || name.empty()) continue;
        if (section == "_data") {
            if (name.front() != '_') addData(name, *value);
        } else if (section == "_code") {
            addFunction(name, *value);
        }
    }
}

void SymbolTable::readSym(std::istream& in) {
    LineReader reader(in);
    Line line;
    while (reader.next(line)) {
        const std::string_view t = line.text;
        std::size_t pos = t.find_first_not_of('.');
        if (pos == std::string_view::npos) continue;
        const std::size_t dot = t.find('.', pos);
        if (dot == std::string_view::npos) continue;
        pos = t.find_first_not_of(' ', dot + 1);
        if (pos == std::string_view::npos) continue;
        const std::size_t nameEnd = t.find(' ', pos);
        if (nameEnd == std::string_view::npos) continue;  // no value after the name
        const std::string_view name = dropUnderscore(t.substr(pos, nameEnd - pos));
        pos = t.find_first_not_of(' ', nameEnd);
        if (pos == std::string_view::npos) continue;
        std::size_t valueEnd = t.find(' ', pos);
        if (valueEnd == std::string_view::npos) {
            if (line.cut) continue;  // the value may go on past the text
            valueEnd = t.size();
        }
        const auto value = parseHex(t.substr(pos, valueEnd - pos));
        if (!value || name.empty()) continue;
        addFunction(name, *value);
    }
}

std::unique_ptr<SymbolTable> loadSymbolFile(const std::string& fileName, int kind) {
    auto table = std::make_unique<SymbolTable>();
    // A regular file only (a folder or a pipe cannot be opened), and none so
    // large that it could not be a symbol file.
    FileText file = readRegularFile(fileName, maxSymbolFileBytes);
    if (file.status != OpenStatus::Opened || file.tooLarge) {
        table->openFailed = true;
        return table;
    }
    std::istringstream in(std::move(file.text));
    if (kind == 0) {
        table->readMap(in);
    } else {
        table->readSym(in);
    }
    return table;
}
