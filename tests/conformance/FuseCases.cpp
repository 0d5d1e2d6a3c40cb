// Reader of the Fuse core tests (tests.in / tests.expected) into ConformanceCase
// records; called by the conformance test once per run.
//
// Port reads of this set answer the high byte of the port address; the
// expected file lists every read with its value, so the harness answers from
// that list and checks the address at the same time.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ConformanceCase.h"

namespace {

bool readLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return true;
}

bool parseRegisterLine(const std::string& line, CaseRegs& regs) {
    unsigned w[13];
    if (std::sscanf(line.c_str(), "%x %x %x %x %x %x %x %x %x %x %x %x %x", &w[0], &w[1], &w[2], &w[3],
                    &w[4], &w[5], &w[6], &w[7], &w[8], &w[9], &w[10], &w[11], &w[12]) != 13)
        return false;
    regs.af = uint16_t(w[0]);
    regs.bc = uint16_t(w[1]);
    regs.de = uint16_t(w[2]);
    regs.hl = uint16_t(w[3]);
    regs.altAf = uint16_t(w[4]);
    regs.altBc = uint16_t(w[5]);
    regs.altDe = uint16_t(w[6]);
    regs.altHl = uint16_t(w[7]);
    regs.ix = uint16_t(w[8]);
    regs.iy = uint16_t(w[9]);
    regs.sp = uint16_t(w[10]);
    regs.pc = uint16_t(w[11]);  // w[12] is MEMPTR, not compared
    return true;
}

bool parseStateLine(const std::string& line, CaseRegs& regs, int32_t& tstates) {
    unsigned i, r, iff1, iff2, im, halted;
    int t;
    if (std::sscanf(line.c_str(), "%x %x %u %u %u %u %d", &i, &r, &iff1, &iff2, &im, &halted, &t) != 7)
        return false;
    regs.i = uint8_t(i);  // R is not compared
    regs.iff1 = uint8_t(iff1);
    regs.iff2 = uint8_t(iff2);
    regs.im = uint8_t(im);
    regs.halted = uint8_t(halted);
    tstates = t;
    return true;
}

// "addr byte byte ... -1"; returns false on the terminating "-1" line.
bool parseMemoryLine(const std::string& line, RamList& ram) {
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word == "-1") return false;
    auto address = uint16_t(std::stoul(word, nullptr, 16));
    while (in >> word && word != "-1") ram.emplace_back(address++, uint8_t(std::stoul(word, nullptr, 16)));
    return true;
}

Opcode fuseOpcode(const std::string& name) {
    std::string hex = name.substr(0, name.find('_'));
    auto byteAt = [&](size_t i) { return uint8_t(std::stoul(hex.substr(2 * i, 2), nullptr, 16)); };
    size_t count = hex.size() / 2;
    uint8_t first = byteAt(0);
    if ((first == 0xDD || first == 0xFD) && count >= 3 && byteAt(1) == 0xCB)
        return {TestSet::Fuse, first == 0xDD ? Page::DDCB : Page::FDCB, byteAt(2)};
    if (count >= 2) {
        if (first == 0xCB) return {TestSet::Fuse, Page::CB, byteAt(1)};
        if (first == 0xED) return {TestSet::Fuse, Page::ED, byteAt(1)};
        if (first == 0xDD) return {TestSet::Fuse, Page::DD, byteAt(1)};
        if (first == 0xFD) return {TestSet::Fuse, Page::FD, byteAt(1)};
    }
    return {TestSet::Fuse, Page::Base, first};
}

bool isBlank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

bool loadFuseCases(const std::string& folder, std::vector<ConformanceCase>& cases, std::string& error) {
    std::vector<std::string> in, expected;
    if (!readLines(folder + "/tests.in", in) || !readLines(folder + "/tests.expected", expected)) {
        error = "cannot read tests.in / tests.expected in " + folder;
        return false;
    }
    size_t a = 0, b = 0;
    auto fail = [&](const std::string& what) {
        error = "malformed Fuse data: " + what;
        return false;
    };
    while (true) {
        while (a < in.size() && isBlank(in[a])) ++a;
        while (b < expected.size() && isBlank(expected[b])) ++b;
        if (a >= in.size() || b >= expected.size()) break;
        ConformanceCase c;
        c.name = in[a];
        if (expected[b] != c.name) return fail("names differ: " + c.name + " / " + expected[b]);
        c.op = fuseOpcode(c.name);
        c.checkHalted = true;
        if (a + 2 >= in.size() || !parseRegisterLine(in[a + 1], c.initial) ||
            !parseStateLine(in[a + 2], c.initial, c.runTstates))
            return fail(c.name + " in tests.in");
        a += 3;
        while (a < in.size() && parseMemoryLine(in[a], c.initialRam)) ++a;
        ++a;  // the closing "-1"

        ++b;
        for (; b < expected.size() && !expected[b].empty() && (expected[b][0] == ' ' || expected[b][0] == '\t');
             ++b) {
            unsigned time, port, value;
            char type[3] = {};
            if (std::sscanf(expected[b].c_str(), "%u %2s %x %x", &time, type, &port, &value) == 4 &&
                type[0] == 'P' && (type[1] == 'R' || type[1] == 'W'))
                c.ports.push_back({uint16_t(port), uint8_t(value), type[1] == 'W'});
        }
        if (b + 1 >= expected.size() || !parseRegisterLine(expected[b], c.expected) ||
            !parseStateLine(expected[b + 1], c.expected, c.expectedTstates))
            return fail(c.name + " in tests.expected");
        b += 2;
        while (b < expected.size() && !isBlank(expected[b]) && parseMemoryLine(expected[b], c.expectedRam)) ++b;
        cases.push_back(std::move(c));
    }
    if (cases.empty()) return fail("no cases");
    return true;
}
