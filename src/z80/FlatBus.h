// FlatBus.h: a flat 64 KB bus for running the processor core without the
// organiser around it. Used by the core's tests and benchmark; other tests
// and harnesses may use it as it is or copy it.
//
// Everything is a public member so a test can set it up and inspect it:
//   - memory: 64 KB, no banking; load() puts bytes at an address.
//   - ports: IN answers portValues[low byte of the port address]; every IN
//     and OUT is counted and the first portLogSize are logged with the full
//     16-bit port address.
//   - loopHook: counted; answers from hookQueue first (queueHookAnswer), then
//     hookAnswer. If leaveAfterHooks is not 0, the call with that number
//     answers HookLeaveRun whatever else was set, so a test cannot run away.
//     onLoopHook, when set, is called first and its answer used instead.
//   - traceHook: counted; onTrace, when set, is called with the record.
//     traceActive() answers traceEnabled: clear it and the core skips the
//     hook altogether (the benchmark does, as the machine does while its
//     debugger is off).
//   - noteInterrupt, printTrap, breakTrap: counted, with PC or HL recorded;
//     onBreakTrap, when set, is called from breakTrap with the record.
// Nothing here allocates, so the benchmark can run on it as well.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "z80/Bus.h"
#include "z80/Z80State.h"

struct FlatBus {
    uint8_t memory[65536] = {};

    void load(uint16_t address, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) memory[address++] = b;
    }

    uint8_t readByte(uint16_t a) const { return memory[a]; }
    void writeByte(uint16_t a, uint8_t v) { memory[a] = v; }

    // ---- ports ------------------------------------------------------------------
    struct PortAccess {
        uint16_t port;
        uint8_t value;
    };
    static constexpr int portLogSize = 64;
    uint8_t portValues[256] = {};
    PortAccess portIns[portLogSize] = {};
    PortAccess portOuts[portLogSize] = {};
    uint64_t portInCount = 0;
    uint64_t portOutCount = 0;

    void setAllPorts(uint8_t v) {
        for (uint8_t& p : portValues) p = v;
    }
    uint8_t portIn(uint16_t port) {
        const uint8_t v = portValues[port & 0xFF];
        if (portInCount < portLogSize) portIns[portInCount] = {port, v};
        ++portInCount;
        return v;
    }
    void portOut(uint16_t port, uint8_t v) {
        if (portOutCount < portLogSize) portOuts[portOutCount] = {port, v};
        ++portOutCount;
    }

    // ---- loopHook ------------------------------------------------------------------
    static constexpr int hookQueueSize = 16;
    uint16_t hookQueue[hookQueueSize] = {};
    int hookQueueLength = 0;
    int hookQueuePos = 0;
    uint16_t hookAnswer = HookNoInterrupt;
    uint64_t leaveAfterHooks = 0;
    uint16_t (*onLoopHook)(FlatBus&, Z80State&) = nullptr;
    uint64_t loopHookCalls = 0;
    int32_t lastHookBudget = 0;  // cycleBudget seen by the latest call
    uint16_t lastHookPC = 0;

    void queueHookAnswer(uint16_t v) {
        if (hookQueueLength < hookQueueSize) hookQueue[hookQueueLength++] = v;
    }
    uint16_t loopHook(Z80State& s) {
        ++loopHookCalls;
        lastHookBudget = s.cycleBudget;
        lastHookPC = s.PC.w;
        uint16_t v = hookAnswer;
        if (onLoopHook)
            v = onLoopHook(*this, s);
        else if (hookQueuePos < hookQueueLength)
            v = hookQueue[hookQueuePos++];
        if (leaveAfterHooks != 0 && loopHookCalls >= leaveAfterHooks) v = HookLeaveRun;
        return v;
    }

    // ---- the other hooks --------------------------------------------------------------
    void (*onTrace)(FlatBus&, Z80State&) = nullptr;
    bool traceEnabled = true;
    uint64_t traceCalls = 0;
    uint64_t interruptsNoted = 0;
    uint16_t lastInterruptPC = 0;  // PC (the return address) at noteInterrupt
    uint64_t printTraps = 0;
    uint16_t lastPrintHL = 0;
    uint64_t breakTraps = 0;
    uint16_t lastBreakPC = 0;

    bool traceActive() const { return traceEnabled; }
    void traceHook(Z80State& s) {
        ++traceCalls;
        if (onTrace) onTrace(*this, s);
    }
    void noteInterrupt(Z80State& s) {
        ++interruptsNoted;
        lastInterruptPC = s.PC.w;
    }
    void printTrap(Z80State& s) {
        ++printTraps;
        lastPrintHL = s.HL.w;
    }
    void (*onBreakTrap)(FlatBus&, Z80State&) = nullptr;
    void breakTrap(Z80State& s) {
        ++breakTraps;
        lastBreakPC = s.PC.w;
        if (onBreakTrap) onBreakTrap(*this, s);
    }
};

static_assert(Z80Bus<FlatBus>);
