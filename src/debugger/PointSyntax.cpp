// PointSyntax: reading a point's line word by word (kind, place, clauses),
// and writing back its canonical text, which parses again to itself.
#include "debugger/PointSyntax.h"

#include <cstdio>
#include <initializer_list>

namespace {

constexpr std::size_t lineLimit = 4096;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A word for a message, cut so that a huge word cannot flood it.
std::string shown(std::string_view word) {
    constexpr std::size_t most = 32;
    std::string s(word.substr(0, most));
    if (word.size() > most) s += "...";
    return s;
}

// Message parts joined by appending: GCC 12 warns wrongly about "..." + string.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string s;
    for (std::string_view part : parts) s += part;
    return s;
}

std::string shownUpper(std::string_view word) {
    std::string s = shown(word);
    for (char& c : s) c = upper(c);
    return s;
}

std::string hex(uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, unsigned(value));
    return buffer;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Blank runs made one space (not trimmed).
std::string collapseRuns(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isBlank(text[i])) {
            out += text[i];
        } else if (i == 0 || !isBlank(text[i - 1])) {
            out += ' ';
        }
    }
    return out;
}

std::string collapseBlanks(std::string_view text) { return collapseRuns(trimmed(text)); }

// Hex digits alone, at most maxDigits of them.
std::optional<uint32_t> hexDigits(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        const int v = hexValue(c);
        if (v < 0) return std::nullopt;
        value = value << 4 | uint32_t(v);
    }
    return value;
}

bool allHex(std::string_view s) {
    for (char c : s)
        if (hexValue(c) < 0) return false;
    return !s.empty();
}

// Words of the line and where they are.
class Words {
public:
    explicit Words(std::string_view line) : line(line) {}

    std::string_view next() {
        skipBlanks();
        const std::size_t start = pos;
        while (pos < line.size() && !isBlank(line[pos])) ++pos;
        return line.substr(start, pos - start);
    }
    void skipBlanks() {
        while (pos < line.size() && isBlank(line[pos])) ++pos;
    }
    bool atEnd() {
        skipBlanks();
        return pos >= line.size();
    }
    std::size_t position() const { return pos; }
    void moveTo(std::size_t p) { pos = p; }
    std::string_view rest() const { return line.substr(pos); }
    std::string_view between(std::size_t from, std::size_t to) const { return line.substr(from, to - from); }

    // Where a condition starting here ends: before a blank-separated "hits"
    // or "log" outside parentheses, else at the line's end.
    std::size_t conditionEnd() const {
        int depth = 0;
        for (std::size_t i = pos; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '(') ++depth;
            if (c == ')' && depth > 0) --depth;
            if (depth > 0 || i == pos || !isBlank(line[i - 1])) continue;
            for (std::string_view word : {std::string_view("hits"), std::string_view("log")}) {
                if (line.substr(i, word.size()) != word) continue;
                const std::size_t after = i + word.size();
                if (after == line.size() || isBlank(line[after])) return i;
            }
        }
        return line.size();
    }

private:
    std::string_view line;
    std::size_t pos = 0;
};

struct KindName {
    const char* name;
    PointKind kind;
};

constexpr KindName kindNames[] = {
    {"exec", PointKind::Exec}, {"write", PointKind::Write}, {"read", PointKind::Read},
    {"access", PointKind::Access}, {"out", PointKind::Out}, {"in", PointKind::In},
};

bool isPortKind(PointKind kind) { return kind == PointKind::Out || kind == PointKind::In; }

std::string logLabel(std::string_view expression) { return cat({"log: {", shown(collapseBlanks(expression)), "}: "}); }

// One line into a point; each step false with `failure` set at the first fault.
class PointReader {
public:
    explicit PointReader(std::string_view line) : line(line), words(line) {}

    bool read(PointSpec& point) {
        if (line.size() > lineLimit) return fail("line longer than " + std::to_string(lineLimit) + " characters");
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                return fail("control character at position " + std::to_string(i + 1));
        }
        const std::string_view kindWord = words.next();
        if (kindWord.empty()) return fail("point kind expected (exec, write, read, access, out or in)");
        const KindName* kind = nullptr;
        for (const KindName& k : kindNames)
            if (kindWord == k.name) kind = &k;
        if (!kind) return fail(cat({"unknown kind '", shown(kindWord), "' (exec, write, read, access, out or in)"}));
        point.kind = kind->kind;

        const std::string_view placeWord = words.next();
        if (placeWord.empty())
            return fail(std::string(kind->name) + (isPortKind(point.kind) ? " needs a port" : " needs an address"));
        canonical = kind->name;
        canonical += ' ';
        if (!place(point, placeWord) || !clauses(point)) return false;
        if (canonical.size() > lineLimit) return fail("point longer than " + std::to_string(lineLimit) + " characters");
        point.text = std::move(canonical);
        return true;
    }

    const std::string& message() const { return failure; }

private:
    std::string_view line;
    Words words;
    std::string canonical;
    std::string failure;

    bool fail(std::string message) {
        failure = std::move(message);
        return false;
    }

    bool address(std::string_view word, uint16_t& value) {
        if (word.empty()) return fail("address expected");
        if (!allHex(word)) return fail(cat({"'", shown(word), "' is not a hex address"}));
        const auto v = hexDigits(word, 4);
        if (!v) return fail(cat({"address '", shownUpper(word), "' out of range (0000-FFFF)"}));
        value = uint16_t(*v);
        return true;
    }

    bool port(std::string_view word, uint16_t& value) {
        if (word.empty()) return fail("port expected");
        if (!allHex(word)) return fail(cat({"'", shown(word), "' is not a hex port number"}));
        const auto v = hexDigits(word, 4);
        if (!v || *v > 0xFF) return fail(cat({"port '", shownUpper(word), "' out of range (00-FF)"}));
        value = uint16_t(*v);
        return true;
    }

    bool number(PointKind kind, std::string_view word, uint16_t& value) {
        return isPortKind(kind) ? port(word, value) : address(word, value);
    }

    bool place(PointSpec& point, std::string_view word) {
        const std::size_t colon = word.find(':');
        if (colon != std::string_view::npos) {
            if (point.kind != PointKind::Exec) return fail("only exec takes a page");
            const char letter = upper(word[0]);
            const std::string_view digits = word.substr(1, colon > 0 ? colon - 1 : 0);
            if ((letter != 'F' && letter != 'R') || colon == 0 || !allHex(digits))
                return fail(cat({"bad page in '", shown(word), "' (fPP: or rPP:)"}));
            const bool flash = letter == 'F';
            const auto page = hexDigits(digits, 2);
            if (!page || *page > (flash ? 0xBFu : 0x07u))
                return fail(cat({"page '", shownUpper(digits), "' out of range (", flash ? "flash 00-BF" : "RAM 00-07", ")"}));
            point.pageKind = flash ? PointPage::Flash : PointPage::Ram;
            point.page = uint8_t(*page);
            canonical += (flash ? "f" : "r") + hex(point.page, 2) + ":";
            word.remove_prefix(colon + 1);
        }
        const int digits = isPortKind(point.kind) ? 2 : 4;
        const std::size_t dash = word.find('-');
        if (dash == std::string_view::npos) {
            if (!number(point.kind, word, point.first)) return false;
            point.last = point.first;
            canonical += hex(point.first, digits);
            return true;
        }
        if (point.kind == PointKind::Exec) return fail("exec takes one address, not a range");
        if (!number(point.kind, word.substr(0, dash), point.first)) return false;
        if (dash + 1 == word.size()) return fail("range end expected after '-'");
        if (!number(point.kind, word.substr(dash + 1), point.last)) return false;
        if (point.last < point.first) return fail("range end below its start");
        canonical += hex(point.first, digits) + "-" + hex(point.last, digits);
        return true;
    }

    bool clauses(PointSpec& point) {
        enum Stage { None, If, Hits, Log };
        static const char* const stageNames[] = {"", "if", "hits", "log"};
        Stage stage = None;
        while (!words.atEnd()) {
            const std::string_view word = words.next();
            Stage clause;
            if (word == "if") clause = If;
            else if (word == "hits") clause = Hits;
            else if (word == "log") clause = Log;
            else return fail(cat({"unknown word '", shown(word), "'"}));
            if (clause == stage) return fail(cat({"'", word, "' given twice"}));
            if (clause < stage)
                return fail(cat({"'", word, "' must come before '", stageNames[stage], "'"}));
            stage = clause;
            const bool ok = clause == If ? condition(point) : clause == Hits ? hits(point) : log(point);
            if (!ok) return false;
        }
        return true;
    }

    bool condition(PointSpec& point) {
        words.skipBlanks();
        const std::size_t end = words.conditionEnd();
        std::string error;
        point.condition = Expression::parse(trimmed(words.between(words.position(), end)), &error);
        if (!point.condition) return fail("condition: " + error);
        canonical += " if " + point.condition->text();
        words.moveTo(end);
        return true;
    }

    bool hits(PointSpec& point) {
        const std::string_view word = words.next();
        if (word.empty()) return fail("hits needs a number");
        uint64_t value = 0;
        for (char c : word) {
            if (c < '0' || c > '9') return fail(cat({"hits: '", shown(word), "' is not a decimal number"}));
            value = value * 10 + uint64_t(c - '0');
            if (value > 0xFFFFFFFFu) return fail("hits must be at most 4294967295");
        }
        if (value == 0) return fail("hits must be 1 or more");
        point.hits = uint32_t(value);
        canonical += " hits " + std::to_string(point.hits);
        return true;
    }

    // The text is cut at its braces; each literal piece has its blank runs
    // made one space, which gives the pieces of the canonical text itself.
    bool log(PointSpec& point) {
        const std::string_view text = trimmed(words.rest());
        words.moveTo(line.size());
        if (text.empty()) return fail("log needs a text");
        point.logs = true;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] == '}') return fail("log: unmatched '}'");
            if (text[i] != '{') {
                std::size_t end = i;
                while (end < text.size() && text[end] != '{' && text[end] != '}') ++end;
                point.logParts.push_back({collapseRuns(text.substr(i, end - i)), std::nullopt});
                i = end;
                continue;
            }
            const std::size_t close = text.find('}', i + 1);
            const std::size_t nextOpen = text.find('{', i + 1);
            if (close == std::string_view::npos || nextOpen < close) return fail("log: unmatched '{'");
            const std::string_view inside = text.substr(i + 1, close - i - 1);
            std::string error;
            auto expression = Expression::parse(inside, &error);
            if (!expression) return fail(logLabel(inside) + error);
            point.logParts.push_back({std::string(), std::move(expression)});
            i = close + 1;
        }
        canonical += " log " + collapseRuns(text);
        return true;
    }
};

}  // namespace

std::optional<PointSpec> parsePoint(std::string_view text, std::string* error) {
    PointSpec point;
    PointReader reader(text);
    if (reader.read(point)) return point;
    if (error) *error = reader.message();
    return std::nullopt;
}

bool resolvePoint(PointSpec& point, const SymbolTable* symbols, std::string* error) {
    std::string why;
    if (point.condition && !point.condition->resolve(symbols, &why)) {
        if (error) *error = "condition: " + why;
        return false;
    }
    for (PointSpec::LogPart& part : point.logParts) {
        if (part.expression && !part.expression->resolve(symbols, &why)) {
            if (error) *error = logLabel(part.expression->text()) + why;
            return false;
        }
    }
    return true;
}

std::string formatLog(const PointSpec& point, const ExprMachine& machine) {
    std::string out;
    for (const PointSpec::LogPart& part : point.logParts) {
        if (!part.expression) {
            out += part.literal;
            continue;
        }
        const uint32_t value = part.expression->evaluate(machine);
        out += hex(value, part.expression->isByteWide() ? 2 : value <= 0xFFFF ? 4 : 8);
    }
    return out;
}

const char* pointKindName(PointKind kind) {
    for (const KindName& k : kindNames)
        if (k.kind == kind) return k.name;
    return "?";
}
