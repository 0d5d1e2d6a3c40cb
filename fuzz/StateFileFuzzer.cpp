// Fuzz target for the readers of state and session files (parseStateBytes,
// parseSessionBytes). The first byte picks what the rest is:
//   bit 0  0: a whole file as it is (header, lengths, zlib, CRC);
//          1: a payload, which the fuzzer wraps in a correct header, so that
//             the field checks behind the CRC get the mutations too
//   bit 1  0: a state file, 1: a session file
//   bit 2  (whole files) the caller's ROM is another than the header names
// A refused input must give one line that names the file; an accepted one
// must hold only what the machine itself could (every page there, fields in
// range, reads in order), must be refused for another ROM, and must come
// back the same through the writer and the file reader. Built and run by
// scripts/fuzz.sh with clang's libFuzzer; not part of the normal build.
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "machine/StateFile.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint64_t Digest = 0x5EED5EED5EED5EEDull;

uint64_t littleEndian(const std::string& bytes, std::size_t at, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
    return v;
}

void putLittleEndian(std::string& bytes, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(char(v >> (8 * i)));
}

// A file around payload, its header as the writer makes it.
std::string wrap(const std::string& payload, bool session) {
    uLongf packedSize = compressBound(uLong(payload.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(payload.data()), uLong(payload.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    packed.resize(packedSize);
    std::string file(session ? "PDEMUSS\x1A" : "PDEMUST\x1A", 8);
    putLittleEndian(file, StateFormatVersion, 4);
    putLittleEndian(file, 0, 4);
    putLittleEndian(file, Digest, 8);
    putLittleEndian(file, crc32(0L, reinterpret_cast<const Bytef*>(payload.data()), uInt(payload.size())), 4);
    putLittleEndian(file, payload.size(), 4);
    putLittleEndian(file, packed.size(), 4);
    putLittleEndian(file, 0, 4);
    return file + packed;
}

void checkProblem(const std::string& problem, const std::string& named) {
    check(problem.rfind(named, 0) == 0);
    check(problem.find('\n') == std::string::npos);
    check(problem.back() == '.');
}

void checkState(const MachineState& s, uint64_t digest) {
    const MachineRegisters& r = s.regs;
    check(s.romDigest == digest);
    check(r.romBank >= 0 && r.romBank < MemoryMap::FlashPages);
    check(r.ramBank >= 0 && r.ramBank <= 127);
    check(r.cpu.cyclePeriod == 100);
    check(r.midSlice || r.cpu.cycleBudget <= 0);
    for (const PageCopy& page : s.ram) check(page != nullptr);
    for (int i = MachineState::RomPages; i < MemoryMap::FlashPages; ++i) check(s.flash[i] != nullptr);
    for (const std::string& line : s.debugLines) check(line.size() <= 4096);
}

bool samePages(const MachineState& a, const MachineState& b) {
    for (int i = 0; i < MemoryMap::FlashPages; ++i) {
        if ((a.flash[i] == nullptr) != (b.flash[i] == nullptr)) return false;
        if (a.flash[i] && *a.flash[i] != *b.flash[i]) return false;
    }
    for (int i = 0; i < MemoryMap::RamPages; ++i)
        if (*a.ram[i] != *b.ram[i]) return false;
    return a.screen == b.screen && a.debugLines == b.debugLines;
}

bool sameRegisters(const MachineRegisters& a, const MachineRegisters& b) {
    return a.cpu.PC.w == b.cpu.PC.w && a.cpu.SP.w == b.cpu.SP.w && a.cpu.AF.w == b.cpu.AF.w &&
           a.cpu.cycleBudget == b.cpu.cycleBudget && a.romBank == b.romBank && a.ramBank == b.ramBank &&
           a.flashMode == b.flashMode && a.tick40 == b.tick40 && a.elapsedTStates == b.elapsedTStates &&
           a.midSlice == b.midSlice && a.openRequest == b.openRequest;
}

// Accepted inputs are rare (a mutation has to keep the CRC): each goes through
// the writer and the file reader once.
std::string scratchFile() {
    static const std::string path = "/tmp/pdemu-state-fuzz-" + std::to_string(::getpid());
    return path;
}

void state(const std::string& bytes, uint64_t digest) {
    const StateRead read = parseStateBytes("fuzz.st", bytes, digest);
    if (!read.state) {
        checkProblem(read.problem, "State file 'fuzz.st' ");
        return;
    }
    check(read.problem.empty());
    checkState(*read.state, digest);
    check(!parseStateBytes("fuzz.st", bytes, digest + 1).state);
    check(writeStateFile(scratchFile(), *read.state).empty());
    const StateRead again = readStateFile(scratchFile(), digest);
    std::remove(scratchFile().c_str());
    check(again.state.has_value());
    check(sameRegisters(again.state->regs, read.state->regs) && samePages(*again.state, *read.state));
}

void session(const std::string& bytes, uint64_t digest) {
    const SessionRead read = parseSessionBytes("fuzz.ss", bytes, digest);
    if (!read.session) {
        checkProblem(read.problem, "Session file 'fuzz.ss' ");
        return;
    }
    const Session& s = *read.session;
    checkState(s.start, digest);
    for (std::size_t i = 0; i < s.reads.size(); ++i) {
        check(outsideSlot(s.reads[i].port) >= 0);
        check(i == 0 || s.reads[i].index > s.reads[i - 1].index);
    }
    check(!parseSessionBytes("fuzz.ss", bytes, digest + 1).session);
    check(writeSessionFile(scratchFile(), s).empty());
    const SessionRead again = readSessionFile(scratchFile(), digest);
    std::remove(scratchFile().c_str());
    check(again.session.has_value());
    check(again.session->tstates == s.tstates && again.session->reads.size() == s.reads.size());
    check(sameRegisters(again.session->start.regs, s.start.regs) && samePages(again.session->start, s.start));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool isSession = (mode & 2) != 0;
    std::string bytes = rest;
    uint64_t digest = Digest;
    if (mode & 1) {
        bytes = wrap(rest, isSession);
    } else {
        // The ROM the header names, or another.
        digest = bytes.size() >= 24 ? littleEndian(bytes, 16, 8) : 0;
        if (mode & 4) digest ^= 1;
    }
    if (isSession)
        session(bytes, digest);
    else
        state(bytes, digest);
    return 0;
}
