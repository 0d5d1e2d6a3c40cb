// EngineRig: a debugger engine on a real emulation thread, for the debugger
// tests. The processor core runs on a thread of the rig's own with a bus that
// binds it to a MemoryMap and the engine exactly as the machine's bus does
// (traceHook only while debuggerOff is 0), plus what the tests need to
// control: an interrupt request line that the handler acknowledges with
// OUT (0),A, an optional periodic interrupt source, a port the program can
// poll and a port whose writes are counted. RecordingView keeps the lines of the scripts' text view.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebuggerTextView.h"
#include "debugger/DebuggerEngine.h"
#include "machine/MemoryMap.h"
#include "z80/Core.h"

// Every wait in these tests gives up after this long, so a fault fails the test.
inline constexpr std::chrono::milliseconds kWaitLimit{5000};

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The text view of the scripts, its lines kept for the test to look at.
class RecordingView {
public:
    DebuggerTextView text{[this](std::string_view line) {
        std::lock_guard lock(mutex);
        log.emplace_back(line);
    }};

    void typeBreakpoint(int n, std::string t) { text.typeBreakpoint(n, std::move(t)); }
    void typeAddress(std::string t) { text.typeAddress(std::move(t)); }
    void typeLength(std::string t) { text.typeLength(std::move(t)); }

    std::size_t size() {
        std::lock_guard lock(mutex);
        return log.size();
    }
    // Lines recorded from index `from` on.
    std::vector<std::string> linesFrom(std::size_t from = 0) {
        std::lock_guard lock(mutex);
        return {log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())), log.end()};
    }
    // Lines starting with prefix, from index `from` on.
    std::vector<std::string> matching(const std::string& prefix, std::size_t from = 0) {
        std::vector<std::string> out;
        for (const std::string& line : linesFrom(from))
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }
    bool contains(const std::string& line, std::size_t from = 0) {
        const std::vector<std::string> lines = linesFrom(from);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

private:
    std::mutex mutex;
    std::vector<std::string> log;
};

class EngineRig {
public:
    // Program bytes go to flash page 0 (0x0000-0x3FFF) or RAM (0xC000-0xFFFF)
    // before start().
    EngineRig() {
        if (!memory.allocateImages())
            throw std::bad_alloc();
        memory.resetMapping();
        engine.setView(&view.text);
    }
    ~EngineRig() { finish(); }

    void load(uint16_t address, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) {
            if (address < 0x4000)
                memory.flashImage[address] = b;
            else if (address >= 0xC000)
                memory.ramImage[address - 0xC000] = b;
            ++address;
        }
    }

    // Interrupt mode 1, SP 0xF000, PC 0. In EngineRig.cpp, so that the
    // interpreter for the rig's bus is compiled once for all the tests.
    void start(int cyclePeriod = 100);

    void finish() {
        if (!thread.joinable())
            return;
        leave.store(true, std::memory_order_release);
        engine.switchOff();
        thread.join();
        engine.setView(nullptr);
    }

    // The debugger shown before the program starts: true once it is held at
    // its first instruction.
    bool startHeld() {
        const uint32_t holds = engine.holdCount();
        engine.windowShown();
        start();
        return waitHeldAfter(holds);
    }

    // The debugger window shown; true once the Stop holds the machine.
    bool openAndHold() {
        const uint32_t holds = engine.holdCount();
        engine.windowShown();
        return waitHeldAfter(holds);
    }
    // True once a hold that began after the given holdCount is in place and
    // the engine has taken up the last command.
    bool waitHeldAfter(uint32_t holds) {
        return waitUntil(
            [&] { return engine.isHeld() && engine.commandTakenUp() && engine.holdCount() != holds; });
    }
    bool stepInto() {
        const uint32_t holds = engine.holdCount();
        engine.stepInto();
        return waitHeldAfter(holds);
    }
    bool stepOver() {
        const uint32_t holds = engine.holdCount();
        engine.stepOver();
        return waitHeldAfter(holds);
    }
    bool go() {
        const uint32_t holds = engine.holdCount();
        engine.go();
        return waitHeldAfter(holds);
    }
    bool setBreakpoint(int n, std::string text) {
        view.typeBreakpoint(n, std::move(text));
        engine.readBreakpointFields();
        return true;
    }
    // PC of the held machine (the hold orders the emulation thread's writes before this read).
    uint16_t heldPC() const { return cpu.PC.w; }

    MemoryMap memory;
    DebuggerEngine engine{memory};
    RecordingView view;
    Z80State cpu{};

    // Interrupt line: loopHook asks for vector 0x38 while it is set; OUT (0)
    // clears it and counts an acknowledged interrupt.
    std::atomic<bool> irq{false};
    std::atomic<uint64_t> interruptsServed{0};
    // When not 0, the line is raised every this many slices.
    std::atomic<int> irqEverySlices{0};
    // What IN A,(1) reads.
    std::atomic<uint8_t> port1{0};
    // OUT (2) counts here, so a test can wait for the program to get somewhere.
    std::atomic<uint64_t> port2Writes{0};
    std::atomic<uint64_t> slices{0};
    // When set, the thread waits at the slice end until a break trap's
    // request to open the debugger has been taken.
    std::atomic<bool> parkOnOpenRequest{false};

private:
    // Bound to the engine as the machine's DebugBus binds it: accesses shown
    // to the watchpoints, the full-speed run while the engine lets it.
    struct Bus {
        EngineRig& rig;
        uint8_t fetchByte(uint16_t a) { return rig.memory.readByte(a); }
        uint16_t fetchWord(uint16_t a) {
            return static_cast<uint16_t>(rig.memory.readByte(a) | rig.memory.readByte(static_cast<uint16_t>(a + 1)) << 8);
        }
        uint8_t readByte(uint16_t a) {
            const uint8_t v = rig.memory.readByte(a);
            rig.engine.noteRead(a, v);
            return v;
        }
        void writeByte(uint16_t a, uint8_t v) {
            rig.engine.noteWrite(a, v);
            rig.memory.writeByte(a, v);
        }
        uint8_t portIn(uint16_t port) {
            const uint8_t v = (port & 0xFF) == 1 ? rig.port1.load() : 0xFF;
            rig.engine.noteIn(static_cast<uint8_t>(port), v);
            return v;
        }
        bool traceActive() const { return !rig.engine.isOff() && rig.engine.wantsEveryInstruction(); }
        bool execCheck(uint16_t pc) { return !rig.engine.isOff() && rig.engine.execCheckWatching(pc); }
        bool accessSeen() const { return rig.engine.accessSeen(); }
        void portOut(uint16_t port, uint8_t v) {
            rig.engine.noteOut(static_cast<uint8_t>(port), v);
            if ((port & 0xFF) == 0 && rig.irq.exchange(false))
                rig.interruptsServed.fetch_add(1);
            if ((port & 0xFF) == 2)
                rig.port2Writes.fetch_add(1);
        }
        uint16_t loopHook(Z80State&) {
            // As pdemu-run does: a break trap's request is served at this
            // slice end, so the opening Stop finds the same place every run.
            while (rig.parkOnOpenRequest.load() && rig.engine.openRequested() &&
                   !rig.leave.load(std::memory_order_acquire))
                std::this_thread::yield();
            if (rig.leave.load(std::memory_order_acquire))
                return HookLeaveRun;
            const uint64_t n = rig.slices.fetch_add(1) + 1;
            const int every = rig.irqEverySlices.load();
            if (every != 0 && n % static_cast<uint64_t>(every) == 0)
                rig.irq.store(true);
            return rig.irq.load() ? uint16_t{0x38} : HookNoInterrupt;
        }
        void traceHook(Z80State& s) {
            if (!rig.engine.isOff())
                rig.engine.traceHook(s);
        }
        void noteInterrupt(Z80State& s) { rig.engine.noteInterrupt(s); }
        void printTrap(Z80State&) {}
        void breakTrap(Z80State& s) { rig.engine.breakTrap(s); }
    };

    Bus bus{*this};
    std::atomic<bool> leave{false};
    std::thread thread;
};
