// PointTable: the debugger's numbered points (exec, write, read, access, out,
// in; PointSyntax.h), beside the three breakpoint fields and the break
// trap's breakpoint 4, which it also keeps in its address map.
//
// The processor runs at full speed with points set because the cheap tests
// below are all it pays where no point can fire: one flag of the 256-byte
// page before an instruction (and one bit of a 64 K-bit map of addresses in
// a page that has a point), and, only while some point watches memory or
// ports, one flag of its 256-byte block per data access and one per port
// access. Only where a flag is set does the engine look at the points.
//
// Threads: the inline tests run on the emulation thread without a lock (the
// maps are atomics). Everything else runs under the DebuggerEngine's lock,
// which the engine takes: the user-interface thread adds and changes points,
// the emulation thread records accesses and fires points. The maps are
// rebuilt word by word, so a bit that stays set is never seen clear.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/PointSyntax.h"
#include "z80/Z80State.h"

class MemoryMap;
class SymbolTable;

enum class AccessKind : uint8_t { Write, Read, Out, In };

// An expression's value on these registers and the memory as mapped now.
uint32_t evaluateOn(const Expression& expression, const Z80State& regs, const MemoryMap& memory);

// One point as the Breakpoints window lists it.
struct PointInfo {
    int number = 0;
    PointKind kind = PointKind::Exec;
    std::string text;       // the canonical text, as the script prints it
    std::string where;      // the place: "f05:4100", "C000-C0FF", "03"
    std::string condition;  // the EXPR of "if", or empty
    uint32_t hits = 0;      // the N of "hits", 0 when not given
    uint32_t counted = 0;   // times its condition held since it was added or enabled
    bool enabled = true;
    bool logs = false;
    std::string logText;   // the TEXT of "log", or empty
    uint16_t address = 0;  // first address or port
};

// What add, remove and enable answer: the point's number and canonical text,
// or the error.
struct PointResult {
    int number = 0;
    std::string text;
    std::string error;
    bool ok() const { return error.empty(); }
};

class PointTable {
public:
    static constexpr int FirstNumber = 5;  // 1-4 are the breakpoint slots
    static constexpr int MaxPoints = 256;

    PointTable();

    // ---- Emulation thread, no lock ----
    // A byte per 256-byte page first: where no point is near, one load and
    // test. While an access is pending every page is flagged, so the same
    // test brings the boundary that fires it.
    bool execMayHit(uint16_t pc) const {
        const std::size_t a = pc;  // widened once: the compiler then indexes without 16-bit arithmetic
        if (execPages[a >> 8].load(std::memory_order_acquire) == 0) [[likely]]
            return false;
        return ((execMap[a >> 6].load(std::memory_order_acquire) >> (a & 63)) & 1) != 0 || pending;
    }
    // What the enabled points watch, WatchWrites | WatchReads | WatchPorts
    // (the debugger's bus shows only those accesses).
    static constexpr uint8_t WatchWrites = 1, WatchReads = 2, WatchPorts = 4;
    uint8_t watchedAccesses() const { return watching.load(std::memory_order_relaxed); }
    bool watchesWrite(uint16_t a) const { return (blockFlags[a >> 8].load(std::memory_order_relaxed) & WriteFlag) != 0; }
    bool watchesRead(uint16_t a) const { return (blockFlags[a >> 8].load(std::memory_order_relaxed) & ReadFlag) != 0; }
    bool watchesOut(uint8_t p) const { return (portFlags[p].load(std::memory_order_relaxed) & WriteFlag) != 0; }
    bool watchesIn(uint8_t p) const { return (portFlags[p].load(std::memory_order_relaxed) & ReadFlag) != 0; }
    // An access has been recorded that the next instruction boundary fires.
    bool accessPending() const { return pending; }

    // ---- Under the engine's lock ----
    // An access by the instruction at `at`; each point keeps the first one it
    // saw until the boundary.
    void recordAccess(AccessKind kind, uint16_t address, uint8_t value, uint16_t at);
    // The boundary before the instruction at regs.PC: fires the exec points
    // there (when checkExec) and the recorded accesses, in number order.
    // Log points append their text through log; the answer is the status
    // message of the lowest point that holds the machine.
    std::optional<std::string> fire(const Z80State& regs, const MemoryMap& memory, bool checkExec,
                                    const std::function<void(std::string_view)>& log);
    // The number of the lowest point that fire would hold the machine for
    // (0: none), with nothing counted or logged; the recorded accesses are
    // used up as fire uses them. Hit counts are not kept, so a point with
    // one holds at every hit.
    int probe(const Z80State& regs, const MemoryMap& memory, bool checkExec);
    // Drops recorded accesses (the processor was reset).
    void forgetAccesses();

    // Slot 1-4 addresses (0: empty) for the exec map.
    void setSlotAddress(int slot, uint32_t address);

    PointResult add(std::string_view text, const SymbolTable* symbols);
    PointResult remove(int number);
    PointResult enable(int number, bool on);
    std::vector<PointInfo> list() const;

private:
    static constexpr uint8_t WriteFlag = 1, ReadFlag = 2;
    // execPages: ExecHere where a point or slot is in the page, PendingHere on
    // every page while an access is pending.
    static constexpr uint8_t ExecHere = 1, PendingHere = 2;
    void flagPending(bool on);
    struct Point {
        int number;
        PointSpec spec;
        bool enabled = true;
        uint32_t counted = 0;
        // The first access of the current instruction in the point's range.
        bool seen = false;
        AccessKind seenKind = AccessKind::Write;
        uint16_t seenAddress = 0;
        uint8_t seenValue = 0;
        uint16_t seenAt = 0;
    };
    void rebuildMaps();
    static bool takeDue(Point& p, uint16_t pc, const MemoryMap& memory, bool checkExec);
    Point* find(int number);
    static bool pageMatches(const PointSpec& spec, uint16_t pc, const MemoryMap& memory);

    std::vector<Point> points;  // by number
    uint32_t slotAddresses[4] = {};
    bool pending = false;  // emulation thread only (under the lock)
    std::atomic<uint64_t> execMap[1024];
    std::atomic<uint8_t> execPages[256];
    std::atomic<uint8_t> watching{0};
    std::atomic<uint8_t> blockFlags[256];
    std::atomic<uint8_t> portFlags[256];
};
