// Reader of the SingleStepTests vectors (one gzip'd JSON array per opcode) into
// ConformanceCase records; called by the conformance test once per file.
#include <zlib.h>

#include <nlohmann/json.hpp>

#include "ConformanceCase.h"

namespace {

bool readGzip(const std::string& path, std::string& text) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) return false;
    gzbuffer(file, 1 << 16);
    char chunk[1 << 16];
    int n;
    while ((n = gzread(file, chunk, sizeof chunk)) > 0) text.append(chunk, size_t(n));
    bool ok = n == 0;
    gzclose(file);
    return ok;
}

CaseRegs readRegs(const nlohmann::json& j) {
    auto u8 = [&](const char* key) { return j.at(key).get<unsigned>() & 0xFF; };
    auto u16 = [&](const char* key) { return uint16_t(j.at(key).get<unsigned>()); };
    CaseRegs r;
    r.af = uint16_t(u8("a") << 8 | u8("f"));
    r.bc = uint16_t(u8("b") << 8 | u8("c"));
    r.de = uint16_t(u8("d") << 8 | u8("e"));
    r.hl = uint16_t(u8("h") << 8 | u8("l"));
    r.altAf = u16("af_");
    r.altBc = u16("bc_");
    r.altDe = u16("de_");
    r.altHl = u16("hl_");
    r.ix = u16("ix");
    r.iy = u16("iy");
    r.sp = u16("sp");
    r.pc = u16("pc");
    r.i = uint8_t(u8("i"));
    r.iff1 = uint8_t(u8("iff1"));
    r.iff2 = uint8_t(u8("iff2"));
    r.im = uint8_t(u8("im"));
    return r;
}

RamList readRam(const nlohmann::json& j) {
    RamList ram;
    for (const auto& pair : j.at("ram")) ram.emplace_back(uint16_t(pair[0].get<unsigned>()), uint8_t(pair[1].get<unsigned>()));
    return ram;
}

}  // namespace

bool singleStepOpcode(const std::string& fileName, Opcode& op) {
    // "00.json.gz", "cb 4e.json.gz", "dd cb __ 46.json.gz"
    std::string stem = fileName.substr(0, fileName.find('.'));
    std::vector<std::string> words;
    for (size_t start = 0; start < stem.size();) {
        size_t end = stem.find(' ', start);
        if (end == std::string::npos) end = stem.size();
        words.push_back(stem.substr(start, end - start));
        start = end + 1;
    }
    auto hex = [](const std::string& w, uint8_t& v) {
        if (w.size() != 2) return false;
        char* end = nullptr;
        unsigned long x = std::strtoul(w.c_str(), &end, 16);
        v = uint8_t(x);
        return *end == 0;
    };
    uint8_t first = 0, last = 0;
    if (words.empty() || !hex(words[0], first) || !hex(words.back(), last)) return false;
    op.set = TestSet::SingleStep;
    op.code = last;
    if (words.size() == 1) op.page = Page::Base;
    else if (words.size() == 4 && words[1] == "cb") op.page = first == 0xDD ? Page::DDCB : Page::FDCB;
    else if (words.size() == 2 && first == 0xCB) op.page = Page::CB;
    else if (words.size() == 2 && first == 0xED) op.page = Page::ED;
    else if (words.size() == 2 && first == 0xDD) op.page = Page::DD;
    else if (words.size() == 2 && first == 0xFD) op.page = Page::FD;
    else return false;
    return true;
}

bool loadSingleStepFile(const std::string& path, Opcode op, std::vector<ConformanceCase>& cases,
                        std::string& error) {
    std::string text;
    if (!readGzip(path, text)) {
        error = "cannot read " + path;
        return false;
    }
    try {
        auto all = nlohmann::json::parse(text);
        for (const auto& j : all) {
            ConformanceCase c;
            c.name = j.at("name").get<std::string>();
            c.op = op;
            const auto& initial = j.at("initial");
            const auto& final = j.at("final");
            c.initial = readRegs(initial);
            c.expected = readRegs(final);
            c.initialRam = readRam(initial);
            c.expectedRam = readRam(final);
            c.expectedTstates = int32_t(j.at("cycles").size());
            if (auto ports = j.find("ports"); ports != j.end())
                for (const auto& p : *ports)
                    c.ports.push_back({uint16_t(p[0].get<unsigned>()), uint8_t(p[1].get<unsigned>()),
                                       p[2].get<std::string>() == "w"});
            cases.push_back(std::move(c));
        }
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    return true;
}
