// StateFile: writing and reading state and session files (see StateFile.h).
#include "machine/StateFile.h"

#include <zlib.h>

#include <cstring>
#include <span>

#include "host/HostFiles.h"

namespace {

// The two kinds of file: their magic, and their name as a message starts
// with it and as it ends one.
struct FileKind {
    char magic[8];
    const char* subject;
    const char* noun;
};
constexpr FileKind StateKind{{'P', 'D', 'E', 'M', 'U', 'S', 'T', 0x1A}, "State file", "state file"};
constexpr FileKind SessionKind{{'P', 'D', 'E', 'M', 'U', 'S', 'S', 0x1A}, "Session file", "session file"};
// Far above any real payload (a state is about 2.3 MB before compression;
// a session adds 10 bytes per outside value), low enough to refuse a header
// that asks for all the host's memory.
constexpr uint32_t MaxPayloadBytes = 512u * 1024 * 1024;
constexpr std::size_t MaxFileBytes = StateHeaderBytes + MaxPayloadBytes;
constexpr uint32_t MaxDebugLines = 1u << 20;
constexpr uint32_t MaxLineBytes = 4096;

class Writer {
public:
    void u8(uint8_t v) { bytes.push_back(static_cast<char>(v)); }
    void u16(uint16_t v) { le(v, 2); }
    void u32(uint32_t v) { le(v, 4); }
    void u64(uint64_t v) { le(v, 8); }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void raw(const void* data, std::size_t n) { bytes.append(static_cast<const char*>(data), n); }
    std::string bytes;

private:
    void le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes.push_back(static_cast<char>(v >> (8 * i)));
    }
};

class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : data(data) {}
    bool ok() const { return good; }
    bool atEnd() const { return at == data.size(); }
    uint8_t u8() { return static_cast<uint8_t>(le(1)); }
    uint16_t u16() { return static_cast<uint16_t>(le(2)); }
    uint32_t u32() { return static_cast<uint32_t>(le(4)); }
    uint64_t u64() { return le(8); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    bool flag() {
        const uint8_t v = u8();
        good = good && v <= 1;
        return v == 1;
    }
    // An int that must lie in [low, high].
    int ranged(int32_t low, int32_t high) {
        const int32_t v = i32();
        good = good && v >= low && v <= high;
        return v;
    }
    const uint8_t* take(std::size_t n) {
        if (!good || data.size() - at < n) {
            good = false;
            return nullptr;
        }
        const uint8_t* p = data.data() + at;
        at += n;
        return p;
    }
    void fail() { good = false; }

private:
    uint64_t le(int n) {
        const uint8_t* p = take(static_cast<std::size_t>(n));
        uint64_t v = 0;
        for (int i = 0; p && i < n; ++i)
            v |= static_cast<uint64_t>(p[i]) << (8 * i);
        return v;
    }
    std::span<const uint8_t> data;
    std::size_t at = 0;
    bool good = true;
};

void writeRegisters(Writer& w, const MachineRegisters& r) {
    const Z80State& c = r.cpu;
    for (uint16_t v : {c.AF.w, c.BC.w, c.DE.w, c.HL.w, c.IX.w, c.IY.w, c.PC.w, c.SP.w, c.altAF, c.altBC, c.altDE,
                       c.altHL})
        w.u16(v);
    w.u8(c.cpuFlags);
    w.u8(c.I);
    w.i32(c.cyclePeriod);
    w.i32(c.cycleBudget);
    for (int v : {r.romBank, r.romSelect, r.ramBank, r.ramSelect})
        w.i32(v);
    w.u8(r.window2Flash);
    w.u8(r.window2Lcd);
    w.u8(static_cast<uint8_t>(r.flashMode));
    w.i32(r.lcdColumn);
    w.u8(r.keySelect);
    w.u8(r.penCommand);
    w.u8(r.penReadsY);
    for (int v : {r.irqStatus, r.tick40, r.tick04, r.tick02, r.tickCountdown, r.tickCountdownStart, r.startKeyHold,
                  r.startKeyReads})
        w.i32(v);
    w.u64(r.elapsedTStates);
    w.i32(r.sliceStartBudget);
    w.u8(r.midSlice);
    w.u8(r.openRequest);
}

// Every field in the range the machine itself can give it: a crafted file
// must not point the memory map outside its images or stall the run loop.
void readRegisters(Reader& in, MachineRegisters& r) {
    Z80State& c = r.cpu;
    for (uint16_t* v : {&c.AF.w, &c.BC.w, &c.DE.w, &c.HL.w, &c.IX.w, &c.IY.w, &c.PC.w, &c.SP.w, &c.altAF, &c.altBC,
                        &c.altDE, &c.altHL})
        *v = in.u16();
    c.cpuFlags = in.u8();
    c.I = in.u8();
    c.cyclePeriod = in.ranged(100, 100);
    c.cycleBudget = in.ranged(-1000, 100);
    r.romBank = in.ranged(0, MemoryMap::FlashPages - 1);
    r.romSelect = in.ranged(0, 255);
    r.ramBank = in.ranged(0, 127);
    r.ramSelect = in.ranged(0, 255);
    r.window2Flash = in.flag();
    r.window2Lcd = in.flag();
    const uint8_t mode = in.u8();
    if (mode > static_cast<uint8_t>(FlashMode::EraseSetup))
        in.fail();
    r.flashMode = static_cast<FlashMode>(mode);
    r.lcdColumn = in.ranged(0, 255);
    r.keySelect = in.u8();
    r.penCommand = in.u8();
    r.penReadsY = in.flag();
    r.irqStatus = in.ranged(0, 255);
    r.tick40 = in.ranged(0, 1 << 20);
    r.tick04 = in.ranged(0, 1 << 20);
    r.tick02 = in.ranged(0, 1 << 20);
    r.tickCountdown = in.ranged(-1, 1 << 20);
    r.tickCountdownStart = in.ranged(0, 1 << 20);
    r.startKeyHold = in.ranged(0, 1);
    r.startKeyReads = in.ranged(-1, 1 << 20);
    r.elapsedTStates = in.u64();
    r.sliceStartBudget = in.ranged(-1000, 100);
    r.midSlice = in.flag();
    r.openRequest = in.flag();
    if ((c.cpuFlags & 0x38) != 0 || (!r.midSlice && c.cycleBudget > 0))
        in.fail();
}

void writeState(Writer& w, const MachineState& s) {
    writeRegisters(w, s.regs);
    w.u32(static_cast<uint32_t>(s.debugLines.size()));
    for (const std::string& line : s.debugLines) {
        const std::size_t n = std::min<std::size_t>(line.size(), MaxLineBytes);
        w.u32(static_cast<uint32_t>(n));
        w.raw(line.data(), n);
    }
    w.raw(s.screen.data(), s.screen.size());
    for (const PageCopy& page : s.ram)
        w.raw(page->data(), page->size());
    uint32_t held = 0;
    for (const PageCopy& page : s.flash)
        held += page != nullptr;
    w.u32(held);
    for (int i = 0; i < MemoryMap::FlashPages; ++i) {
        if (s.flash[i] == nullptr)
            continue;
        w.u8(static_cast<uint8_t>(i));
        w.raw(s.flash[i]->data(), s.flash[i]->size());
    }
}

bool readState(Reader& in, MachineState& s) {
    readRegisters(in, s.regs);
    const uint32_t lines = in.u32();
    if (!in.ok() || lines > MaxDebugLines)
        return false;
    for (uint32_t i = 0; i < lines && in.ok(); ++i) {
        const uint32_t n = in.u32();
        if (n > MaxLineBytes)
            return false;
        if (const uint8_t* p = in.take(n))
            s.debugLines.emplace_back(reinterpret_cast<const char*>(p), n);
    }
    if (const uint8_t* p = in.take(s.screen.size()))
        std::memcpy(s.screen.data(), p, s.screen.size());
    for (PageCopy& page : s.ram) {
        if (const uint8_t* p = in.take(MemoryMap::PageSize))
            page = copyPage(p);
    }
    const uint32_t held = in.u32();
    if (!in.ok() || held > MemoryMap::FlashPages)
        return false;
    for (uint32_t i = 0; i < held; ++i) {
        const uint8_t number = in.u8();
        const uint8_t* p = in.take(MemoryMap::PageSize);
        if (!p || number >= MemoryMap::FlashPages || s.flash[number] != nullptr)
            return false;
        s.flash[number] = copyPage(p);
    }
    for (int i = MachineState::RomPages; i < MemoryMap::FlashPages; ++i)
        if (s.flash[i] == nullptr)
            return false;
    return in.ok();
}

std::string quoted(const std::string& path) { return "'" + printableText(path) + "'"; }

std::string writeFile(const FileKind& kind, const std::string& path, uint64_t digest, const std::string& payload) {
    const std::string what = kind.noun;
    uLongf packedSize = compressBound(static_cast<uLong>(payload.size()));
    std::string packed(packedSize, '\0');
    if (payload.size() > MaxPayloadBytes ||
        compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(payload.data()), static_cast<uLong>(payload.size()),
                  Z_BEST_SPEED) != Z_OK)
        return "Cannot write " + what + " " + quoted(path) + ": it is too large.";
    packed.resize(packedSize);
    Writer header;
    header.raw(kind.magic, 8);
    header.u32(StateFormatVersion);
    header.u32(0);
    header.u64(digest);
    header.u32(static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size()))));
    header.u32(static_cast<uint32_t>(payload.size()));
    header.u32(static_cast<uint32_t>(packed.size()));
    header.u32(0);
    const auto bytes = [](const std::string& s) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    const WriteOutcome outcome = writeFileSafely(path, {bytes(header.bytes), bytes(packed)});
    if (!outcome.written)
        return "Cannot write " + what + " " + quoted(path) + ": " + outcome.problem + ".";
    return {};
}

// The payload behind a good header, or "" with problem set.
std::string unpack(const FileKind& kind, const std::string& name, const std::string& bytes, uint64_t romDigest,
                   std::string& problem) {
    const std::string file = kind.subject + (" " + quoted(name));
    if (bytes.size() < StateHeaderBytes || std::memcmp(bytes.data(), kind.magic, 8) != 0) {
        problem = file + " is not a pdemu " + kind.noun + ".";
        return {};
    }
    Reader header(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), StateHeaderBytes));
    (void)header.take(8);
    const uint32_t version = header.u32();
    (void)header.u32();
    const uint64_t digest = header.u64();
    const uint32_t crc = header.u32();
    const uint32_t length = header.u32();
    const uint32_t packedLength = header.u32();
    if (version > StateFormatVersion) {
        problem = file + " was made by a newer version of pdemu.";
        return {};
    }
    if (version == 0 || length > MaxPayloadBytes || packedLength != bytes.size() - StateHeaderBytes) {
        problem = file + " is damaged or incomplete.";
        return {};
    }
    if (digest != romDigest) {
        problem = file + " was made for another ROM image.";
        return {};
    }
    std::string payload(length, '\0');
    uLongf got = length;
    if (uncompress(reinterpret_cast<Bytef*>(payload.data()), &got,
                   reinterpret_cast<const Bytef*>(bytes.data() + StateHeaderBytes), packedLength) != Z_OK ||
        got != length ||
        crc32(0L, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(length)) != crc) {
        problem = file + " is damaged or incomplete.";
        return {};
    }
    if (payload.empty())
        problem = file + " is damaged or incomplete.";
    return payload;
}

std::span<const uint8_t> asBytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The file's bytes, or nullopt with problem set.
std::optional<std::string> readWhole(const FileKind& kind, const std::string& path, std::string& problem) {
    FileText file = readRegularFile(path, MaxFileBytes);
    if (file.status != OpenStatus::Opened) {
        problem = std::string("Cannot read ") + kind.noun + " " + quoted(path) + ".";
        return std::nullopt;
    }
    if (file.tooLarge) {
        problem = kind.subject + (" " + quoted(path)) + " is not a pdemu " + kind.noun + ".";
        return std::nullopt;
    }
    return std::move(file.text);
}

// The file at path read whole and handed to parse, or the Result that says why not.
template <class Result, class Parse>
Result readWith(const FileKind& kind, const std::string& path, uint64_t romDigest, Parse parse) {
    Result result;
    const auto bytes = readWhole(kind, path, result.problem);
    return bytes ? parse(path, *bytes, romDigest) : result;
}

}  // namespace

std::string writeStateFile(const std::string& path, const MachineState& state) {
    Writer w;
    writeState(w, state);
    return writeFile(StateKind, path, state.romDigest, w.bytes);
}

std::string writeSessionFile(const std::string& path, const Session& session) {
    Writer w;
    writeState(w, session.start);
    w.u64(session.tstates);
    w.u64(session.reads.size());
    for (const OutsideRead& read : session.reads) {
        w.u64(read.index);
        w.u8(read.port);
        w.u8(read.value);
    }
    return writeFile(SessionKind, path, session.start.romDigest, w.bytes);
}

StateRead parseStateBytes(const std::string& name, const std::string& bytes, uint64_t romDigest) {
    StateRead result;
    const std::string payload = unpack(StateKind, name, bytes, romDigest, result.problem);
    if (!result.problem.empty())
        return result;
    Reader in(asBytes(payload));
    MachineState state;
    if (!readState(in, state) || !in.atEnd()) {
        result.problem = "State file " + quoted(name) + " is damaged or incomplete.";
        return result;
    }
    state.romDigest = romDigest;
    result.state = std::move(state);
    return result;
}

SessionRead parseSessionBytes(const std::string& name, const std::string& bytes, uint64_t romDigest) {
    SessionRead result;
    const std::string payload = unpack(SessionKind, name, bytes, romDigest, result.problem);
    if (!result.problem.empty())
        return result;
    Reader in(asBytes(payload));
    Session session;
    bool good = readState(in, session.start);
    session.tstates = in.u64();
    const uint64_t count = in.u64();
    // Ten bytes an entry: a count the payload cannot hold is refused before anything is reserved.
    good = good && in.ok() && count <= payload.size() / 10;
    if (good)
        session.reads.reserve(static_cast<std::size_t>(count));
    uint64_t previous = 0;
    for (uint64_t i = 0; good && i < count; ++i) {
        OutsideRead read;
        read.index = in.u64();
        read.port = in.u8();
        read.value = in.u8();
        good = in.ok() && outsideSlot(read.port) >= 0 && (i == 0 || read.index > previous);
        previous = read.index;
        session.reads.push_back(read);
    }
    if (!good || !in.atEnd()) {
        result.problem = "Session file " + quoted(name) + " is damaged or incomplete.";
        return result;
    }
    session.start.romDigest = romDigest;
    result.session = std::move(session);
    return result;
}

StateRead readStateFile(const std::string& path, uint64_t romDigest) {
    return readWith<StateRead>(StateKind, path, romDigest, parseStateBytes);
}

SessionRead readSessionFile(const std::string& path, uint64_t romDigest) {
    return readWith<SessionRead>(SessionKind, path, romDigest, parseSessionBytes);
}
