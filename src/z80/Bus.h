// Z80Bus: what the processor core needs from the system it runs in.
//
// The core is a set of templates over the bus type, so each binding (the
// organiser's banked machine, the flat 64 KB test bus, the CP/M harness)
// compiles into its own fully inlined interpreter. A bus supplies:
//
//   readByte(addr)        every opcode, operand, data and stack read
//   writeByte(addr, v)    every data and stack write
//   portIn(port)          IN instructions; port is the full 16-bit I/O address
//                         (n or C in the low byte); the organiser's decoder
//                         keeps only the low byte
//   portOut(port, v)      OUT instructions, port as for portIn
//   loopHook(state)       at the end of each slice; answers HookNoInterrupt,
//                         HookLeaveRun or an interrupt vector (NmiVector for
//                         the non-maskable one). May block.
//   traceHook(state)      before every fetch of the run loop; may block and
//                         may change any register
//   traceActive()         optional: when the bus has it, the core calls
//                         traceHook only while it answers true, and skips
//                         writing PC and the budget back into the record for
//                         it otherwise (a bus whose traceHook is a flag test
//                         returns that flag here). While it answers false,
//                         runCpu asks again only at the end of each slice and
//                         after printTrap and breakTrap, so a trace switched
//                         on by another thread starts within one slice
//   fetchByte(addr), fetchWord(addr)
//                         optional: opcode and operand fetches, when the bus
//                         tells them from data reads (the debugger's read
//                         watchpoints); readByte/readWord otherwise
//   execCheck(pc)         optional: while traceActive answers false, asked
//                         before every instruction; traceHook is then called
//                         for that instruction only when it answers true
//   accessSeen()          optional: a repeating block instruction ends its pass
//                         after the round in which this became true
//   heldByValue           optional static constexpr bool: the bus is a small
//                         handle that the interpreter may copy
//   noteInterrupt(state)  once per accepted interrupt, PC = return address
//   printTrap(state)      ED FE: text at HL
//   breakTrap(state)      ED FF: PC already behind the trap
#pragma once

#include <concepts>
#include <cstdint>

#include "z80/Z80State.h"

template <class B>
concept Z80Bus = requires(B& bus, Z80State& s, uint16_t a, uint8_t v) {
    { bus.readByte(a) } -> std::convertible_to<uint8_t>;
    bus.writeByte(a, v);
    { bus.portIn(a) } -> std::convertible_to<uint8_t>;
    bus.portOut(a, v);
    { bus.loopHook(s) } -> std::convertible_to<uint16_t>;
    bus.traceHook(s);
    bus.noteInterrupt(s);
    bus.printTrap(s);
    bus.breakTrap(s);
};
