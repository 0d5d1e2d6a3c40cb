// Core.h: the Z80 processor core: run loop, interrupt acceptance and the
// execution of every instruction page (unprefixed, CB, ED, DD/FD, DD CB/FD CB).
//
// Called by the machine's emulation thread (runCpu with the organiser's bus),
// by the CP/M harness and by the tests (usually on FlatBus). Everything is a
// template over the bus (see Bus.h), so each binding compiles into its own
// interpreter with the memory and port accesses inlined.
//
// How to drive it:
//   Z80State s{};  MyBus bus;
//   resetCpu(s);  s.cyclePeriod = 100;     // registers cleared, SP 0xF000
//   runCpu(s, bus);                        // until bus.loopHook answers HookLeaveRun
// or single passes with stepCpu(s, bus) (one fetch and execution; a prefix
// that makes the processor fetch again, as in DD DD or ED ED, is its own pass).
//
// Time: every instruction subtracts its T-states (Tables.h) from
// s.cycleBudget. When the budget is at 0 or below after an instruction,
// runCpu calls bus.loopHook, reloads the budget from s.cyclePeriod (the
// overshoot is dropped) and acts on the answer: HookNoInterrupt, HookLeaveRun
// or an interrupt vector (NmiVector for the non-maskable one).
//
// Hooks: traceHook before every fetch of runCpu/stepCpu (also each re-fetch of
// a HALT, of an unfinished block instruction and of a doubled prefix);
// noteInterrupt once per accepted interrupt; printTrap for ED FE; breakTrap
// for ED FF with PC behind the trap. Every hook sees the record up to date and
// may change any field of it. A bus with traceActive() (Bus.h) has traceHook
// called only while that answers true; runCpu asks it per instruction only
// while it answers true, and otherwise at each slice end and after each trap,
// so a trace switched on from elsewhere starts within one slice. A bus may
// also offer readWord(a), the bytes at a and a + 1 (wrapping) as low and
// high; the core then reads 16-bit operands and stack words through it.
// A bus with execCheck (the open debugger's) runs threaded while its trace
// is off too, and calls traceHook only before the instructions execCheck
// picks (Bus.h).
//
// Dispatch: stepCpu and the traced run go through one switch per page; the
// untraced run (the machine with its debugger off, the CP/M harness) uses
// threaded dispatch, a jump of its own after each unprefixed opcode, built
// from the same switch (see runCpu). A test holds the two to the same result.
//
// Deliberate choices: flag bits 5 and 3 stay 0 except where an instruction
// keeps them, DAA and POP AF; there is no R register (LD A,R derives a value
// from the budget); BIT keeps S and P/V; a DD/FD prefix in front of an opcode
// without an HL operand runs that opcode for 0 T-states; HALT keeps PC on the
// HALT until an interrupt moves it on; undefined codes are consumed for 0.
// Because such free codes do not use up a slice, 65,536 of them within one
// slice end it, so that loopHook still comes round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "z80/Bus.h"
#include "z80/Tables.h"
#include "z80/Z80State.h"

// Registers cleared, SP 0xF000, interrupts off, mode 0, budget = cyclePeriod.
void resetCpu(Z80State& s);

namespace z80detail {

// The one line that FD ED writes to standard output (a cold path).
void reportUnrecognizedFd(uint8_t code, uint16_t prefixAddress);

#define Z80_INLINE [[gnu::always_inline]] inline

// One execution context: the record and the bus it runs on. Everything is
// inlined into runCpu, so its fields can live in host registers. PC and the
// budget are cached here and written back before every hook; the other
// registers live in the record. (Caching A and F as well made the flat-memory
// programs 30% slower: too many live values for the host's registers.)
// A bus that is only a handle on its system (a reference to it) says so with
// `static constexpr bool heldByValue = true`: the interpreter then keeps its
// own copy, whose pointer can stay in a host register, instead of reloading
// it through the caller's object after every memory write (which the
// compiler must assume could have changed it).
template <class B>
struct BusHold {
    using type = B&;
};
template <class B>
    requires(B::heldByValue)
struct BusHold<B> {
    using type = B;
};

template <Z80Bus B>
class Exec {
public:
    Exec(Z80State& state, B& bus) : s(state), bus(bus), pc(state.PC.w), budget(state.cycleBudget) {}

    // PC and the budget, the two fields every instruction touches, are kept
    // here; they go back into the record before any hook sees it.
    Z80_INLINE void flush() {
        s.PC.w = pc;
        s.cycleBudget = budget;
    }
    Z80_INLINE void reload() {
        pc = s.PC.w;
        budget = s.cycleBudget;
    }

    Z80_INLINE void trace() {
        flush();
        bus.traceHook(s);
        reload();
    }

    // Whether the bus may want traceHook: a bus without traceActive always may.
    Z80_INLINE bool traceWanted() {
        if constexpr (requires { bus.traceActive(); })
            return bus.traceActive();
        else
            return true;
    }

    // Run-loop step 2, for runCpu's threaded dispatch.
    Z80_INLINE uint8_t fetchOpcode() { return fetch(); }

    // Run-loop steps 1-4.
    Z80_INLINE void step() {
        if constexpr (requires { bus.execCheck(pc); }) {
            // The rest of a traced slice after the trace stopped wanting
            // every instruction is filtered like the threaded run.
            if (skipTrace) [[unlikely]]
                skipTrace = false;  // the filtered run has already shown this one
            else if (bus.traceActive() || bus.execCheck(pc))
                trace();
        } else if constexpr (requires { bus.traceActive(); }) {
            if (bus.traceActive()) [[unlikely]] trace();
        } else {
            trace();
        }
        base(fetch());
    }

    // Before each instruction of the threaded run. A bus with execCheck (the
    // debugger's, with breakpoints but nothing that wants every instruction)
    // has traceHook called only where execCheck asks for it. True when the
    // hook has made the trace want every instruction: the threaded loop then
    // ends, and the traced one goes on without calling the hook again for
    // this instruction.
    bool skipTrace = false;
    Z80_INLINE bool filtered() {
        if constexpr (requires { bus.execCheck(pc); }) {
            if (bus.execCheck(pc)) [[unlikely]] {
                trace();
                if (traceWanted()) {
                    parkedBudget = budget;
                    budget = 0;
                    skipTrace = true;
                    return true;
                }
            }
        }
        return false;
    }
    // A repeating block instruction stops after the round whose access a
    // watchpoint saw, so the debugger holds with PC on it.
    Z80_INLINE bool roundWatched() {
        if constexpr (requires { bus.accessSeen(); })
            return bus.accessSeen();
        else
            return false;
    }

    Z80_INLINE void interrupt(uint16_t vector) {
        if (!(s.cpuFlags & CpuIff1) && vector != NmiVector) return;
        s.cpuFlags = static_cast<uint8_t>((s.cpuFlags & ~(CpuIff1 | CpuIff2)) |
                                          ((s.cpuFlags & CpuIff1) ? CpuIff2 : 0));
        if (s.cpuFlags & CpuHalted) {
            pc++;
            s.cpuFlags &= static_cast<uint8_t>(~CpuHalted);
        }
        flush();
        bus.noteInterrupt(s);
        reload();
        push(pc);
        if (vector == NmiVector) {
            pc = NmiVector;
        } else if (s.cpuFlags & CpuIm2) {
            const uint16_t a = static_cast<uint16_t>(s.I << 8 | (vector & 0xFF));
            pc = rd16(a);
        } else if (s.cpuFlags & CpuIm1) {
            pc = 0x0038;
        } else {
            pc = vector;
        }
    }

    Z80_INLINE void base(uint8_t op);
    // One unprefixed opcode: -1 when done, or the opcode that a DD or FD
    // prefix hands on to run as its unprefixed form (already made free).
    // Op is uint8_t, or std::integral_constant for the threaded dispatch: the
    // switch on a constant is then cut down to its one case before anything
    // is inlined, which keeps the compile time of the 256 copies small.
    template <class Op>
    Z80_INLINE int baseOnce(Op op);
    Z80_INLINE void cb();
    Z80_INLINE void ed();
    // Returns -1 when done, else an opcode without HL operand that runs as
    // its unprefixed form, uncharged.
    Z80_INLINE int index(Z80Pair& x, bool isFd);
    Z80_INLINE void indexCB(Z80Pair& x);

    Z80State& s;
    typename BusHold<B>::type bus;
    uint16_t pc;
    int32_t budget;

    // Prefixed codes that cost 0 T-states (DD DD, ED ED, undefined codes, DD
    // before a plain opcode) do not use up the slice, so code made only of
    // them would never reach loopHook and the machine could neither pause nor
    // stop. After this many of them within one slice, the slice ends.
    static constexpr int32_t freePassLimit = 65536;

    // A trap hook may switch the trace on. The untraced loop of runCpu runs
    // until the budget is used up, so the trap parks what is left of the
    // budget here and ends that loop; runCpu restores it and goes on traced.
    int32_t parkedBudget = 0;
    bool untracedRun = false;  // inside runCpu's untraced loop
    Z80_INLINE void recheckTrace() {
        if constexpr (requires { bus.traceActive(); }) {
            if (untracedRun && budget > 0 && bus.traceActive()) {
                parkedBudget = budget;
                budget = 0;
            }
        }
    }
    int32_t freePasses = freePassLimit;
    Z80_INLINE void noteFreePass() {
        if (--freePasses == 0) [[unlikely]] {
            freePasses = freePassLimit;
            if (budget > 0) budget = 0;
        }
    }

private:

    // ---- memory and operands -------------------------------------------------
    Z80_INLINE uint8_t rd(uint16_t a) { return bus.readByte(a); }
    Z80_INLINE void wr(uint16_t a, uint8_t v) { bus.writeByte(a, v); }
    // Opcodes and operands: a bus that tells instruction fetches from data
    // reads (the debugger's read watchpoints) offers fetchByte and fetchWord.
    Z80_INLINE uint8_t fetch() {
        if constexpr (requires { bus.fetchByte(pc); })
            return bus.fetchByte(pc++);
        else
            return rd(pc++);
    }
    Z80_INLINE uint16_t fetch16() {
        uint16_t v;
        if constexpr (requires { bus.fetchWord(pc); })
            v = bus.fetchWord(pc);
        else
            v = rd16(pc);
        pc = static_cast<uint16_t>(pc + 2);
        return v;
    }
    // A banked bus may offer readWord: one window lookup for both bytes.
    Z80_INLINE uint16_t rd16(uint16_t a) {
        if constexpr (requires { bus.readWord(a); }) {
            return bus.readWord(a);
        } else {
            const uint8_t lo = rd(a);
            return static_cast<uint16_t>(lo | rd(static_cast<uint16_t>(a + 1)) << 8);
        }
    }
    Z80_INLINE void wr16(uint16_t a, uint16_t v) {
        wr(a, static_cast<uint8_t>(v));
        wr(static_cast<uint16_t>(a + 1), static_cast<uint8_t>(v >> 8));
    }
    // SP is read once and stored once: a byte written to memory could be the
    // record itself as far as the compiler knows, so it would reload SP.
    Z80_INLINE void push(uint16_t v) {
        const uint16_t sp = s.SP.w;
        wr(static_cast<uint16_t>(sp - 1), static_cast<uint8_t>(v >> 8));
        wr(static_cast<uint16_t>(sp - 2), static_cast<uint8_t>(v));
        s.SP.w = static_cast<uint16_t>(sp - 2);
    }
    Z80_INLINE uint16_t pop() {
        const uint16_t sp = s.SP.w;
        s.SP.w = static_cast<uint16_t>(sp + 2);
        return rd16(sp);
    }
    // (X+d): the displacement byte is the next operand.
    Z80_INLINE uint16_t displaced(const Z80Pair& x) {
        return static_cast<uint16_t>(x.w + static_cast<int8_t>(fetch()));
    }
    // B, C, D, E, H, L, -, A by their 3-bit code (6 is (HL) and never asked for).
    Z80_INLINE uint8_t& reg(int code) {
        static constexpr uint8_t offset[8] = {
            offsetof(Z80State, BC) + 1, offsetof(Z80State, BC), offsetof(Z80State, DE) + 1,
            offsetof(Z80State, DE),     offsetof(Z80State, HL) + 1, offsetof(Z80State, HL),
            0,                          offsetof(Z80State, AF) + 1};
        return reinterpret_cast<uint8_t*>(&s)[offset[code]];
    }

    // ---- flags ---------------------------------------------------------------
    Z80_INLINE uint8_t& A() { return s.AF.b.h; }
    Z80_INLINE uint8_t& F() { return s.AF.b.l; }

    // cc: NZ, Z, NC, C, PO, PE, P, M.
    Z80_INLINE bool cond(int cc) {
        static constexpr uint8_t mask[4] = {FlagZ, FlagC, FlagPV, FlagS};
        return ((F() & mask[cc >> 1]) != 0) == ((cc & 1) != 0);
    }

    Z80_INLINE void add8(uint8_t v, unsigned carry) {
        const unsigned a = A(), r = a + v + carry;
        F() = static_cast<uint8_t>(szTable[r & 0xFF] | ((a ^ v ^ r) & FlagH) |
                                   (((a ^ r) & (v ^ r) & 0x80) >> 5) | (r >> 8));
        A() = static_cast<uint8_t>(r);
    }
    Z80_INLINE uint8_t sub8flags(uint8_t v, unsigned carry) {
        const unsigned a = A(), r = a - v - carry;
        F() = static_cast<uint8_t>(szTable[r & 0xFF] | ((a ^ v ^ r) & FlagH) |
                                   (((a ^ v) & (a ^ r) & 0x80) >> 5) | FlagN | ((r >> 8) & 1));
        return static_cast<uint8_t>(r);
    }
    Z80_INLINE void sub8(uint8_t v, unsigned carry) { A() = sub8flags(v, carry); }
    Z80_INLINE void and8(uint8_t v) {
        A() &= v;
        F() = static_cast<uint8_t>(szpTable[A()] | FlagH);
    }
    Z80_INLINE void xor8(uint8_t v) {
        A() ^= v;
        F() = szpTable[A()];
    }
    Z80_INLINE void or8(uint8_t v) {
        A() |= v;
        F() = szpTable[A()];
    }
    // ALU operation by its 3-bit code: ADD ADC SUB SBC AND XOR OR CP.
    Z80_INLINE void alu(int code, uint8_t v) {
        switch (code) {
            case 0: add8(v, 0); break;
            case 1: add8(v, F() & FlagC); break;
            case 2: sub8(v, 0); break;
            case 3: sub8(v, F() & FlagC); break;
            case 4: and8(v); break;
            case 5: xor8(v); break;
            case 6: or8(v); break;
            default: sub8flags(v, 0); break;
        }
    }
    Z80_INLINE uint8_t inc8(uint8_t v) {
        const uint8_t r = static_cast<uint8_t>(v + 1);
        F() = static_cast<uint8_t>((F() & FlagC) | incFlagsTable[r]);
        return r;
    }
    Z80_INLINE uint8_t dec8(uint8_t v) {
        const uint8_t r = static_cast<uint8_t>(v - 1);
        F() = static_cast<uint8_t>((F() & FlagC) | decFlagsTable[r]);
        return r;
    }
    Z80_INLINE void add16(Z80Pair& d, uint16_t v) {
        const unsigned a = d.w, r = a + v;
        F() = static_cast<uint8_t>((F() & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV)) |
                                   (((a ^ v ^ r) >> 8) & FlagH) | (r >> 16));
        d.w = static_cast<uint16_t>(r);
    }
    Z80_INLINE void adc16(uint16_t v) {
        const unsigned a = s.HL.w, r = a + v + (F() & FlagC);
        const uint16_t w = static_cast<uint16_t>(r);
        F() = static_cast<uint8_t>(((w >> 8) & FlagS) | (w == 0 ? FlagZ : 0) |
                                   (((a ^ v ^ r) >> 8) & FlagH) |
                                   (((a ^ r) & (v ^ r) & 0x8000) >> 13) | ((r >> 16) & 1));
        s.HL.w = w;
    }
    Z80_INLINE void sbc16(uint16_t v) {
        const unsigned a = s.HL.w, r = a - v - (F() & FlagC);
        const uint16_t w = static_cast<uint16_t>(r);
        F() = static_cast<uint8_t>(((w >> 8) & FlagS) | (w == 0 ? FlagZ : 0) |
                                   (((a ^ v ^ r) >> 8) & FlagH) |
                                   (((a ^ v) & (a ^ r) & 0x8000) >> 13) | FlagN | ((r >> 16) & 1));
        s.HL.w = w;
    }
    // CB rotates and shifts by their 3-bit code: RLC RRC RL RR SLA SRA SLL SRL.
    Z80_INLINE uint8_t rotate(int code, uint8_t v) {
        unsigned r, c;
        switch (code) {
            case 0: c = v >> 7; r = (v << 1) | c; break;
            case 1: c = v & 1; r = (v >> 1) | (c << 7); break;
            case 2: c = v >> 7; r = (v << 1) | (F() & FlagC); break;
            case 3: c = v & 1; r = (v >> 1) | ((F() & FlagC) << 7); break;
            case 4: c = v >> 7; r = v << 1; break;
            case 5: c = v & 1; r = (v >> 1) | (v & 0x80); break;
            case 6: c = v >> 7; r = (v << 1) | 1; break;
            default: c = v & 1; r = v >> 1; break;
        }
        const uint8_t out = static_cast<uint8_t>(r);
        F() = static_cast<uint8_t>(szpTable[out] | c);
        return out;
    }
    Z80_INLINE void bit(int b, uint8_t v) {
        F() = static_cast<uint8_t>((F() & (FlagS | Flag5 | Flag3 | FlagPV | FlagC)) | FlagH |
                                   ((v >> b) & 1 ? 0 : FlagZ));
    }

    // ---- transfers -----------------------------------------------------------
    Z80_INLINE void jr(bool taken, int surcharge) {
        const int8_t d = static_cast<int8_t>(fetch());
        if (taken) {
            pc = static_cast<uint16_t>(pc + d);
            budget -= surcharge;
        }
    }
    Z80_INLINE void jp(bool taken) {
        const uint16_t a = fetch16();
        if (taken) pc = a;
    }
    Z80_INLINE void call(bool taken, int surcharge) {
        const uint16_t a = fetch16();
        if (taken) {
            push(pc);
            pc = a;
            budget -= surcharge;
        }
    }
    Z80_INLINE void ret(bool taken, int surcharge) {
        if (taken) {
            pc = pop();
            budget -= surcharge;
        }
    }
    Z80_INLINE void rst(uint16_t p) {
        push(pc);
        pc = p;
    }
    Z80_INLINE void halt() {
        pc--;
        s.cpuFlags |= CpuHalted;
        budget = 0;
    }
    Z80_INLINE void exSp(Z80Pair& x) {
        uint8_t t = rd(s.SP.w);
        wr(s.SP.w, x.b.l);
        x.b.l = t;
        const uint16_t a = static_cast<uint16_t>(s.SP.w + 1);
        t = rd(a);
        wr(a, x.b.h);
        x.b.h = t;
    }

    // ---- block instructions (ED Ax / Bx) ---------------------------------------
    // One iteration each; they return whether the repeated form is finished.
    // One LDI/LDD round on the given pairs; the repeated form passes copies
    // that stay in host registers for its whole pass.
    Z80_INLINE bool ldRound(uint16_t& hl, uint16_t& de, uint16_t& bc, int dir) {
        wr(de, rd(hl));
        hl = static_cast<uint16_t>(hl + dir);
        de = static_cast<uint16_t>(de + dir);
        return --bc == 0;
    }
    Z80_INLINE bool ldStep(int dir) { return ldRound(s.HL.w, s.DE.w, s.BC.w, dir); }
    Z80_INLINE bool cpStep(int dir) {
        const uint8_t m = rd(s.HL.w);
        s.HL.w = static_cast<uint16_t>(s.HL.w + dir);
        s.BC.w--;
        const uint8_t a = A(), r = static_cast<uint8_t>(a - m);
        F() = static_cast<uint8_t>(szTable[r] | ((a ^ m ^ r) & FlagH) | (s.BC.w ? FlagPV : 0) |
                                   FlagN | (F() & FlagC));
        return s.BC.w == 0 || r == 0;
    }
    Z80_INLINE bool inStep(int dir) {
        wr(s.HL.w, bus.portIn(s.BC.w));
        s.HL.w = static_cast<uint16_t>(s.HL.w + dir);
        return --s.BC.b.h == 0;
    }
    Z80_INLINE bool outStep(int dir) {
        const uint8_t v = rd(s.HL.w);
        s.HL.w = static_cast<uint16_t>(s.HL.w + dir);
        --s.BC.b.h;
        bus.portOut(s.BC.w, v);  // B already decremented on the address lines
        return s.BC.b.h == 0;
    }
    // kind: 0 LD, 1 CP, 2 IN, 3 OUT (the low two bits of the opcode).
    Z80_INLINE bool blockStep(int kind, int dir) {
        switch (kind) {
            case 0: return ldStep(dir);
            case 1: return cpStep(dir);
            case 2: return inStep(dir);
            default: return outStep(dir);
        }
    }
    // Single form: one iteration, then the final flags.
    Z80_INLINE void blockOnce(int kind, int dir) {
        const bool done = blockStep(kind, dir);
        if (kind == 0)
            F() = static_cast<uint8_t>((F() & ~(FlagH | FlagPV | FlagN)) | (done ? 0 : FlagPV));
        else if (kind >= 2)
            F() = static_cast<uint8_t>(done ? FlagZ | FlagN : FlagN);
    }
    // Repeated form: iterate while the slice has time; when unfinished, step PC
    // back onto the instruction so that the run loop fetches it again.
    Z80_INLINE void blockRepeat(int kind, int dir) {
        bool done;
        if (kind == 0) {
            // LDIR and LDDR work on copies of their three pairs: through the
            // record each round would reload them after its memory write.
            uint16_t hl = s.HL.w, de = s.DE.w, bc = s.BC.w;
            do {
                done = ldRound(hl, de, bc, dir);
                budget -= 21;
            } while (!done && budget > 0 && !roundWatched());
            s.HL.w = hl;
            s.DE.w = de;
            s.BC.w = bc;
        } else {
            do {
                done = blockStep(kind, dir);
                budget -= 21;
            } while (!done && budget > 0 && !roundWatched());
        }
        if (done) {
            budget += 5;
            if (kind == 0)
                F() &= static_cast<uint8_t>(~(FlagH | FlagPV | FlagN));
            else if (kind >= 2)
                F() = FlagZ | FlagN;
        } else {
            pc = static_cast<uint16_t>(pc - 2);
            if (kind == 0)
                F() = static_cast<uint8_t>((F() & ~(FlagH | FlagN)) | FlagPV);
            else if (kind >= 2)
                F() = FlagN;
        }
    }
};

// Each case charges its own constant entry of cyclesBase, which spares the
// run loop a table load per instruction.
#define Z80_CHARGE(code) budget -= cyclesBase[code]
// Rows of eight cases over the register code: B C D E H L (HL) A.
#define Z80_SRC(code) ((code) == 6 ? rd(s.HL.w) : reg(code))
#define Z80_LD_ROW(base, dst)                        \
    case (base) + 0: Z80_CHARGE((base) + 0); dst = s.BC.b.h; break;          \
    case (base) + 1: Z80_CHARGE((base) + 1); dst = s.BC.b.l; break;          \
    case (base) + 2: Z80_CHARGE((base) + 2); dst = s.DE.b.h; break;          \
    case (base) + 3: Z80_CHARGE((base) + 3); dst = s.DE.b.l; break;          \
    case (base) + 4: Z80_CHARGE((base) + 4); dst = s.HL.b.h; break;          \
    case (base) + 5: Z80_CHARGE((base) + 5); dst = s.HL.b.l; break;          \
    case (base) + 6: Z80_CHARGE((base) + 6); dst = rd(s.HL.w); break;        \
    case (base) + 7: Z80_CHARGE((base) + 7); dst = s.AF.b.h; break;
#define Z80_ALU_ROW(base, code)                      \
    case (base) + 0: Z80_CHARGE((base) + 0); alu(code, s.BC.b.h); break;     \
    case (base) + 1: Z80_CHARGE((base) + 1); alu(code, s.BC.b.l); break;     \
    case (base) + 2: Z80_CHARGE((base) + 2); alu(code, s.DE.b.h); break;     \
    case (base) + 3: Z80_CHARGE((base) + 3); alu(code, s.DE.b.l); break;     \
    case (base) + 4: Z80_CHARGE((base) + 4); alu(code, s.HL.b.h); break;     \
    case (base) + 5: Z80_CHARGE((base) + 5); alu(code, s.HL.b.l); break;     \
    case (base) + 6: Z80_CHARGE((base) + 6); alu(code, rd(s.HL.w)); break;   \
    case (base) + 7: Z80_CHARGE((base) + 7); alu(code, s.AF.b.h); break;

template <Z80Bus B>
Z80_INLINE void Exec<B>::base(uint8_t op) {
    // Once, or twice for an index prefix in front of a plain opcode.
    for (int next = op; next >= 0;) next = baseOnce(static_cast<uint8_t>(next));
}

template <Z80Bus B>
template <class Op>
Z80_INLINE int Exec<B>::baseOnce(Op op) {
    switch (op) {
        case 0x00: Z80_CHARGE(0x00); break;
        case 0x01: Z80_CHARGE(0x01); s.BC.w = fetch16(); break;
        case 0x02: Z80_CHARGE(0x02); wr(s.BC.w, A()); break;
        case 0x03: Z80_CHARGE(0x03); s.BC.w++; break;
        case 0x04: Z80_CHARGE(0x04); s.BC.b.h = inc8(s.BC.b.h); break;
        case 0x05: Z80_CHARGE(0x05); s.BC.b.h = dec8(s.BC.b.h); break;
        case 0x06: Z80_CHARGE(0x06); s.BC.b.h = fetch(); break;
        case 0x07: Z80_CHARGE(0x07); {  // RLCA
            const uint8_t a = A();
            A() = static_cast<uint8_t>(a << 1 | a >> 7);
            F() = static_cast<uint8_t>((F() & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV)) | (a >> 7));
            break;
        }
        case 0x08: Z80_CHARGE(0x08); {
            const uint16_t t = s.AF.w;
            s.AF.w = s.altAF;
            s.altAF = t;
            break;
        }
        case 0x09: Z80_CHARGE(0x09); add16(s.HL, s.BC.w); break;
        case 0x0A: Z80_CHARGE(0x0A); A() = rd(s.BC.w); break;
        case 0x0B: Z80_CHARGE(0x0B); s.BC.w--; break;
        case 0x0C: Z80_CHARGE(0x0C); s.BC.b.l = inc8(s.BC.b.l); break;
        case 0x0D: Z80_CHARGE(0x0D); s.BC.b.l = dec8(s.BC.b.l); break;
        case 0x0E: Z80_CHARGE(0x0E); s.BC.b.l = fetch(); break;
        case 0x0F: Z80_CHARGE(0x0F); {  // RRCA
            const uint8_t a = A();
            A() = static_cast<uint8_t>(a >> 1 | a << 7);
            F() = static_cast<uint8_t>((F() & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV)) | (a & 1));
            break;
        }
        case 0x10: Z80_CHARGE(0x10); jr(--s.BC.b.h != 0, 5); break;  // DJNZ
        case 0x11: Z80_CHARGE(0x11); s.DE.w = fetch16(); break;
        case 0x12: Z80_CHARGE(0x12); wr(s.DE.w, A()); break;
        case 0x13: Z80_CHARGE(0x13); s.DE.w++; break;
        case 0x14: Z80_CHARGE(0x14); s.DE.b.h = inc8(s.DE.b.h); break;
        case 0x15: Z80_CHARGE(0x15); s.DE.b.h = dec8(s.DE.b.h); break;
        case 0x16: Z80_CHARGE(0x16); s.DE.b.h = fetch(); break;
        case 0x17: Z80_CHARGE(0x17); {  // RLA
            const uint8_t a = A();
            A() = static_cast<uint8_t>(a << 1 | (F() & FlagC));
            F() = static_cast<uint8_t>((F() & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV)) | (a >> 7));
            break;
        }
        case 0x18: Z80_CHARGE(0x18); jr(true, 0); break;
        case 0x19: Z80_CHARGE(0x19); add16(s.HL, s.DE.w); break;
        case 0x1A: Z80_CHARGE(0x1A); A() = rd(s.DE.w); break;
        case 0x1B: Z80_CHARGE(0x1B); s.DE.w--; break;
        case 0x1C: Z80_CHARGE(0x1C); s.DE.b.l = inc8(s.DE.b.l); break;
        case 0x1D: Z80_CHARGE(0x1D); s.DE.b.l = dec8(s.DE.b.l); break;
        case 0x1E: Z80_CHARGE(0x1E); s.DE.b.l = fetch(); break;
        case 0x1F: Z80_CHARGE(0x1F); {  // RRA
            const uint8_t a = A();
            A() = static_cast<uint8_t>(a >> 1 | (F() & FlagC) << 7);
            F() = static_cast<uint8_t>((F() & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV)) | (a & 1));
            break;
        }
        case 0x20: Z80_CHARGE(0x20); jr(!(F() & FlagZ), 5); break;
        case 0x21: Z80_CHARGE(0x21); s.HL.w = fetch16(); break;
        case 0x22: Z80_CHARGE(0x22); wr16(fetch16(), s.HL.w); break;
        case 0x23: Z80_CHARGE(0x23); s.HL.w++; break;
        case 0x24: Z80_CHARGE(0x24); s.HL.b.h = inc8(s.HL.b.h); break;
        case 0x25: Z80_CHARGE(0x25); s.HL.b.h = dec8(s.HL.b.h); break;
        case 0x26: Z80_CHARGE(0x26); s.HL.b.h = fetch(); break;
        case 0x27: Z80_CHARGE(0x27); {  // DAA
            const unsigned f = F();
            s.AF.w = daaTable[A() | (f & FlagC) << 8 | (f & FlagH) << 5 | (f & FlagN) << 9];
            break;
        }
        case 0x28: Z80_CHARGE(0x28); jr(F() & FlagZ, 5); break;
        case 0x29: Z80_CHARGE(0x29); add16(s.HL, s.HL.w); break;
        case 0x2A: Z80_CHARGE(0x2A); s.HL.w = rd16(fetch16()); break;
        case 0x2B: Z80_CHARGE(0x2B); s.HL.w--; break;
        case 0x2C: Z80_CHARGE(0x2C); s.HL.b.l = inc8(s.HL.b.l); break;
        case 0x2D: Z80_CHARGE(0x2D); s.HL.b.l = dec8(s.HL.b.l); break;
        case 0x2E: Z80_CHARGE(0x2E); s.HL.b.l = fetch(); break;
        case 0x2F: Z80_CHARGE(0x2F);  // CPL
            A() = static_cast<uint8_t>(~A());
            F() |= FlagH | FlagN;
            break;
        case 0x30: Z80_CHARGE(0x30); jr(!(F() & FlagC), 5); break;
        case 0x31: Z80_CHARGE(0x31); s.SP.w = fetch16(); break;
        case 0x32: Z80_CHARGE(0x32); wr(fetch16(), A()); break;
        case 0x33: Z80_CHARGE(0x33); s.SP.w++; break;
        case 0x34: Z80_CHARGE(0x34); wr(s.HL.w, inc8(rd(s.HL.w))); break;
        case 0x35: Z80_CHARGE(0x35); wr(s.HL.w, dec8(rd(s.HL.w))); break;
        case 0x36: Z80_CHARGE(0x36); wr(s.HL.w, fetch()); break;
        case 0x37: Z80_CHARGE(0x37);  // SCF
            F() = static_cast<uint8_t>((F() & ~(FlagH | FlagN)) | FlagC);
            break;
        case 0x38: Z80_CHARGE(0x38); jr(F() & FlagC, 5); break;
        case 0x39: Z80_CHARGE(0x39); add16(s.HL, s.SP.w); break;
        case 0x3A: Z80_CHARGE(0x3A); A() = rd(fetch16()); break;
        case 0x3B: Z80_CHARGE(0x3B); s.SP.w--; break;
        case 0x3C: Z80_CHARGE(0x3C); A() = inc8(A()); break;
        case 0x3D: Z80_CHARGE(0x3D); A() = dec8(A()); break;
        case 0x3E: Z80_CHARGE(0x3E); A() = fetch(); break;
        case 0x3F: Z80_CHARGE(0x3F); {  // CCF
            const uint8_t f = F();
            F() = static_cast<uint8_t>(((f & ~(FlagH | FlagN)) | (f & FlagC) << 4) ^ FlagC);
            break;
        }
        Z80_LD_ROW(0x40, s.BC.b.h)
        Z80_LD_ROW(0x48, s.BC.b.l)
        Z80_LD_ROW(0x50, s.DE.b.h)
        Z80_LD_ROW(0x58, s.DE.b.l)
        Z80_LD_ROW(0x60, s.HL.b.h)
        Z80_LD_ROW(0x68, s.HL.b.l)
        case 0x70: Z80_CHARGE(0x70); wr(s.HL.w, s.BC.b.h); break;
        case 0x71: Z80_CHARGE(0x71); wr(s.HL.w, s.BC.b.l); break;
        case 0x72: Z80_CHARGE(0x72); wr(s.HL.w, s.DE.b.h); break;
        case 0x73: Z80_CHARGE(0x73); wr(s.HL.w, s.DE.b.l); break;
        case 0x74: Z80_CHARGE(0x74); wr(s.HL.w, s.HL.b.h); break;
        case 0x75: Z80_CHARGE(0x75); wr(s.HL.w, s.HL.b.l); break;
        case 0x76: Z80_CHARGE(0x76); halt(); break;
        case 0x77: Z80_CHARGE(0x77); wr(s.HL.w, A()); break;
        Z80_LD_ROW(0x78, s.AF.b.h)
        Z80_ALU_ROW(0x80, 0)
        Z80_ALU_ROW(0x88, 1)
        Z80_ALU_ROW(0x90, 2)
        Z80_ALU_ROW(0x98, 3)
        Z80_ALU_ROW(0xA0, 4)
        Z80_ALU_ROW(0xA8, 5)
        Z80_ALU_ROW(0xB0, 6)
        Z80_ALU_ROW(0xB8, 7)
        case 0xC0: Z80_CHARGE(0xC0); ret(cond(0), 6); break;
        case 0xC1: Z80_CHARGE(0xC1); s.BC.w = pop(); break;
        case 0xC2: Z80_CHARGE(0xC2); jp(cond(0)); break;
        case 0xC3: Z80_CHARGE(0xC3); pc = fetch16(); break;
        case 0xC4: Z80_CHARGE(0xC4); call(cond(0), 7); break;
        case 0xC5: Z80_CHARGE(0xC5); push(s.BC.w); break;
        case 0xC6: Z80_CHARGE(0xC6); add8(fetch(), 0); break;
        case 0xC7: Z80_CHARGE(0xC7); rst(0x00); break;
        case 0xC8: Z80_CHARGE(0xC8); ret(cond(1), 6); break;
        case 0xC9: Z80_CHARGE(0xC9); pc = pop(); break;
        case 0xCA: Z80_CHARGE(0xCA); jp(cond(1)); break;
        case 0xCB: Z80_CHARGE(0xCB); cb(); break;
        case 0xCC: Z80_CHARGE(0xCC); call(cond(1), 7); break;
        case 0xCD: Z80_CHARGE(0xCD); call(true, 0); break;
        case 0xCE: Z80_CHARGE(0xCE); add8(fetch(), F() & FlagC); break;
        case 0xCF: Z80_CHARGE(0xCF); rst(0x08); break;
        case 0xD0: Z80_CHARGE(0xD0); ret(cond(2), 6); break;
        case 0xD1: Z80_CHARGE(0xD1); s.DE.w = pop(); break;
        case 0xD2: Z80_CHARGE(0xD2); jp(cond(2)); break;
        case 0xD3: Z80_CHARGE(0xD3); {  // OUT (n),A: A on the high address lines
            const uint8_t n = fetch();
            bus.portOut(static_cast<uint16_t>(A() << 8 | n), A());
            break;
        }
        case 0xD4: Z80_CHARGE(0xD4); call(cond(2), 7); break;
        case 0xD5: Z80_CHARGE(0xD5); push(s.DE.w); break;
        case 0xD6: Z80_CHARGE(0xD6); sub8(fetch(), 0); break;
        case 0xD7: Z80_CHARGE(0xD7); rst(0x10); break;
        case 0xD8: Z80_CHARGE(0xD8); ret(cond(3), 6); break;
        case 0xD9: Z80_CHARGE(0xD9); {  // EXX
            uint16_t t = s.BC.w;
            s.BC.w = s.altBC;
            s.altBC = t;
            t = s.DE.w;
            s.DE.w = s.altDE;
            s.altDE = t;
            t = s.HL.w;
            s.HL.w = s.altHL;
            s.altHL = t;
            break;
        }
        case 0xDA: Z80_CHARGE(0xDA); jp(cond(3)); break;
        case 0xDB: Z80_CHARGE(0xDB); {  // IN A,(n): A on the high address lines; flags unchanged
            const uint8_t n = fetch();
            A() = bus.portIn(static_cast<uint16_t>(A() << 8 | n));
            break;
        }
        case 0xDC: Z80_CHARGE(0xDC); call(cond(3), 7); break;
        case 0xDD: Z80_CHARGE(0xDD); {
            const int plain = index(s.IX, false);
            if (plain < 0) break;
            budget += cyclesBase[plain];  // uncharged behind the prefix
            return plain;
        }
        case 0xDE: Z80_CHARGE(0xDE); sub8(fetch(), F() & FlagC); break;
        case 0xDF: Z80_CHARGE(0xDF); rst(0x18); break;
        case 0xE0: Z80_CHARGE(0xE0); ret(cond(4), 6); break;
        case 0xE1: Z80_CHARGE(0xE1); s.HL.w = pop(); break;
        case 0xE2: Z80_CHARGE(0xE2); jp(cond(4)); break;
        case 0xE3: Z80_CHARGE(0xE3); exSp(s.HL); break;
        case 0xE4: Z80_CHARGE(0xE4); call(cond(4), 7); break;
        case 0xE5: Z80_CHARGE(0xE5); push(s.HL.w); break;
        case 0xE6: Z80_CHARGE(0xE6); and8(fetch()); break;
        case 0xE7: Z80_CHARGE(0xE7); rst(0x20); break;
        case 0xE8: Z80_CHARGE(0xE8); ret(cond(5), 6); break;
        case 0xE9: Z80_CHARGE(0xE9); pc = s.HL.w; break;
        case 0xEA: Z80_CHARGE(0xEA); jp(cond(5)); break;
        case 0xEB: Z80_CHARGE(0xEB); {
            const uint16_t t = s.DE.w;
            s.DE.w = s.HL.w;
            s.HL.w = t;
            break;
        }
        case 0xEC: Z80_CHARGE(0xEC); call(cond(5), 7); break;
        case 0xED: Z80_CHARGE(0xED); ed(); break;
        case 0xEE: Z80_CHARGE(0xEE); xor8(fetch()); break;
        case 0xEF: Z80_CHARGE(0xEF); rst(0x28); break;
        case 0xF0: Z80_CHARGE(0xF0); ret(cond(6), 6); break;
        case 0xF1: Z80_CHARGE(0xF1); s.AF.w = pop(); break;
        case 0xF2: Z80_CHARGE(0xF2); jp(cond(6)); break;
        case 0xF3: Z80_CHARGE(0xF3); s.cpuFlags &= static_cast<uint8_t>(~CpuIff1); break;
        case 0xF4: Z80_CHARGE(0xF4); call(cond(6), 7); break;
        case 0xF5: Z80_CHARGE(0xF5); push(s.AF.w); break;
        case 0xF6: Z80_CHARGE(0xF6); or8(fetch()); break;
        case 0xF7: Z80_CHARGE(0xF7); rst(0x30); break;
        case 0xF8: Z80_CHARGE(0xF8); ret(cond(7), 6); break;
        case 0xF9: Z80_CHARGE(0xF9); s.SP.w = s.HL.w; break;
        case 0xFA: Z80_CHARGE(0xFA); jp(cond(7)); break;
        case 0xFB: Z80_CHARGE(0xFB); s.cpuFlags |= CpuIff1; break;
        case 0xFC: Z80_CHARGE(0xFC); call(cond(7), 7); break;
        case 0xFD: Z80_CHARGE(0xFD); {
            const int plain = index(s.IY, true);
            if (plain < 0) break;
            budget += cyclesBase[plain];  // uncharged behind the prefix
            return plain;
        }
        case 0xFE: Z80_CHARGE(0xFE); sub8flags(fetch(), 0); break;
        case 0xFF: Z80_CHARGE(0xFF); rst(0x38); break;
    }
    return -1;
}

template <Z80Bus B>
Z80_INLINE void Exec<B>::cb() {
    const uint8_t op = fetch();
    budget -= cyclesCB[op];
    const int r = op & 7, y = (op >> 3) & 7;
    const uint8_t v = Z80_SRC(r);
    uint8_t out;
    switch (op >> 6) {
        case 0: out = rotate(y, v); break;
        case 1: bit(y, v); return;
        case 2: out = static_cast<uint8_t>(v & ~(1u << y)); break;
        default: out = static_cast<uint8_t>(v | (1u << y)); break;
    }
    if (r == 6)
        wr(s.HL.w, out);
    else
        reg(r) = out;
}

template <Z80Bus B>
Z80_INLINE void Exec<B>::ed() {
    const uint8_t op = fetch();
    budget -= cyclesED[op];
    if (cyclesED[op] == 0 && (op & 0xF4) != 0xB0) noteFreePass();  // repeats charge themselves
    switch (op) {
        case 0x40: case 0x48: case 0x50: case 0x58: case 0x60: case 0x68: case 0x70: case 0x78: {
            const uint8_t v = bus.portIn(s.BC.w);
            F() = static_cast<uint8_t>((F() & FlagC) | szpTable[v]);
            if (op != 0x70) reg((op >> 3) & 7) = v;
            break;
        }
        case 0x41: case 0x49: case 0x51: case 0x59: case 0x61: case 0x69: case 0x79:
            bus.portOut(s.BC.w, reg((op >> 3) & 7));
            break;
        case 0x42: sbc16(s.BC.w); break;
        case 0x52: sbc16(s.DE.w); break;
        case 0x62: sbc16(s.HL.w); break;
        case 0x72: sbc16(s.SP.w); break;
        case 0x4A: adc16(s.BC.w); break;
        case 0x5A: adc16(s.DE.w); break;
        case 0x6A: adc16(s.HL.w); break;
        case 0x7A: adc16(s.SP.w); break;
        case 0x43: wr16(fetch16(), s.BC.w); break;
        case 0x53: wr16(fetch16(), s.DE.w); break;
        case 0x63: wr16(fetch16(), s.HL.w); break;
        case 0x73: wr16(fetch16(), s.SP.w); break;
        case 0x4B: s.BC.w = rd16(fetch16()); break;
        case 0x5B: s.DE.w = rd16(fetch16()); break;
        case 0x6B: s.HL.w = rd16(fetch16()); break;
        case 0x7B: s.SP.w = rd16(fetch16()); break;
        case 0x44: {  // NEG
            const uint8_t a = A(), r = static_cast<uint8_t>(0 - a);
            A() = r;
            F() = static_cast<uint8_t>(szTable[r] | ((a ^ r) & FlagH) | (a == 0x80 ? FlagPV : 0) |
                                       FlagN | (a != 0 ? FlagC : 0));
            break;
        }
        case 0x45:  // RETN
            s.cpuFlags = static_cast<uint8_t>((s.cpuFlags & ~CpuIff1) |
                                              ((s.cpuFlags & CpuIff2) ? CpuIff1 : 0));
            pc = pop();
            break;
        case 0x4D: pc = pop(); break;  // RETI
        case 0x46: s.cpuFlags &= static_cast<uint8_t>(~(CpuIm1 | CpuIm2)); break;
        case 0x56: s.cpuFlags = static_cast<uint8_t>((s.cpuFlags & ~CpuIm2) | CpuIm1); break;
        case 0x5E: s.cpuFlags = static_cast<uint8_t>((s.cpuFlags & ~CpuIm1) | CpuIm2); break;
        case 0x47: s.I = A(); break;
        case 0x4F: break;  // LD R,A: there is no R
        case 0x57:
        case 0x5F:  // LD A,I; LD A,R (R derived from the budget, after this instruction's cost)
            A() = op == 0x57 ? s.I : static_cast<uint8_t>(0 - budget);
            F() = static_cast<uint8_t>((F() & FlagC) | szTable[A()] |
                                       ((s.cpuFlags & CpuIff1) ? FlagPV : 0));
            break;
        case 0x67: {  // RRD
            const uint8_t m = rd(s.HL.w), a = A();
            wr(s.HL.w, static_cast<uint8_t>((a & 0x0F) << 4 | m >> 4));
            A() = static_cast<uint8_t>((a & 0xF0) | (m & 0x0F));
            F() = static_cast<uint8_t>((F() & FlagC) | szpTable[A()]);
            break;
        }
        case 0x6F: {  // RLD
            const uint8_t m = rd(s.HL.w), a = A();
            wr(s.HL.w, static_cast<uint8_t>((m & 0x0F) << 4 | (a & 0x0F)));
            A() = static_cast<uint8_t>((a & 0xF0) | m >> 4);
            F() = static_cast<uint8_t>((F() & FlagC) | szpTable[A()]);
            break;
        }
        // One case each, so every loop is compiled for its own kind and direction.
        case 0xA0: blockOnce(0, 1); break;
        case 0xA1: blockOnce(1, 1); break;
        case 0xA2: blockOnce(2, 1); break;
        case 0xA3: blockOnce(3, 1); break;
        case 0xA8: blockOnce(0, -1); break;
        case 0xA9: blockOnce(1, -1); break;
        case 0xAA: blockOnce(2, -1); break;
        case 0xAB: blockOnce(3, -1); break;
        case 0xB0: blockRepeat(0, 1); break;
        case 0xB1: blockRepeat(1, 1); break;
        case 0xB2: blockRepeat(2, 1); break;
        case 0xB3: blockRepeat(3, 1); break;
        case 0xB8: blockRepeat(0, -1); break;
        case 0xB9: blockRepeat(1, -1); break;
        case 0xBA: blockRepeat(2, -1); break;
        case 0xBB: blockRepeat(3, -1); break;
        case 0xED: pc--; break;  // ED ED xx acts as ED xx
        case 0xFE:
            flush();
            bus.printTrap(s);
            reload();
            recheckTrace();
            break;
        case 0xFF:
            flush();
            bus.breakTrap(s);
            reload();
            recheckTrace();
            break;
        default: break;  // consumed, nothing else
    }
}

template <Z80Bus B>
Z80_INLINE int Exec<B>::index(Z80Pair& x, bool isFd) {
    const uint8_t op = fetch();
    budget -= cyclesIndex[op];
    if (cyclesIndex[op] == 0 && op != 0xCB) noteFreePass();  // DD CB charges its own page
    switch (op) {
        case 0x09: add16(x, s.BC.w); break;
        case 0x19: add16(x, s.DE.w); break;
        case 0x29: add16(x, x.w); break;
        case 0x39: add16(x, s.SP.w); break;
        case 0x21: x.w = fetch16(); break;
        case 0x22: wr16(fetch16(), x.w); break;
        case 0x2A: x.w = rd16(fetch16()); break;
        case 0x23: x.w++; break;
        case 0x2B: x.w--; break;
        case 0x24: x.b.h = inc8(x.b.h); break;
        case 0x25: x.b.h = dec8(x.b.h); break;
        case 0x26: x.b.h = fetch(); break;
        case 0x2C: x.b.l = inc8(x.b.l); break;
        case 0x2D: x.b.l = dec8(x.b.l); break;
        case 0x2E: x.b.l = fetch(); break;
        case 0x34: {
            const uint16_t a = displaced(x);
            wr(a, inc8(rd(a)));
            break;
        }
        case 0x35: {
            const uint16_t a = displaced(x);
            wr(a, dec8(rd(a)));
            break;
        }
        case 0x36: {  // d comes before n
            const uint16_t a = displaced(x);
            wr(a, fetch());
            break;
        }
        // LD r,XH / LD r,XL
        case 0x44: case 0x4C: case 0x54: case 0x5C: case 0x7C:
            reg((op >> 3) & 7) = x.b.h;
            break;
        case 0x45: case 0x4D: case 0x55: case 0x5D: case 0x7D:
            reg((op >> 3) & 7) = x.b.l;
            break;
        // LD r,(X+d): r is the true register, H and L included
        case 0x46: case 0x4E: case 0x56: case 0x5E: case 0x66: case 0x6E: case 0x7E:
            reg((op >> 3) & 7) = rd(displaced(x));
            break;
        // LD XH,r / LD XL,r (the H and L sources read XH and XL)
        case 0x60: case 0x61: case 0x62: case 0x63: case 0x67:
            x.b.h = reg(op & 7);
            break;
        case 0x64: break;
        case 0x65: x.b.h = x.b.l; break;
        case 0x68: case 0x69: case 0x6A: case 0x6B: case 0x6F:
            x.b.l = reg(op & 7);
            break;
        case 0x6C: x.b.l = x.b.h; break;
        case 0x6D: break;
        // LD (X+d),r with the true H and L
        case 0x70: case 0x71: case 0x72: case 0x73: case 0x74: case 0x75: case 0x77: {
            const uint16_t a = displaced(x);
            wr(a, reg(op & 7));
            break;
        }
        case 0x76: halt(); break;
        case 0x84: case 0x8C: case 0x94: case 0x9C: case 0xA4: case 0xAC: case 0xB4: case 0xBC:
            alu((op >> 3) & 7, x.b.h);
            break;
        case 0x85: case 0x8D: case 0x95: case 0x9D: case 0xA5: case 0xAD: case 0xB5: case 0xBD:
            alu((op >> 3) & 7, x.b.l);
            break;
        case 0x86: case 0x8E: case 0x96: case 0x9E: case 0xA6: case 0xAE: case 0xB6: case 0xBE:
            alu((op >> 3) & 7, rd(displaced(x)));
            break;
        case 0xCB: indexCB(x); break;
        case 0xE1: x.w = pop(); break;
        case 0xE3: exSp(x); break;
        case 0xE5: push(x.w); break;
        case 0xE9: pc = x.w; break;
        case 0xF9: s.SP.w = x.w; break;
        case 0xDD:
        case 0xFD: pc--; break;  // the second prefix is fetched again on its own
        case 0xED:
            if (isFd) reportUnrecognizedFd(op, static_cast<uint16_t>(pc - 2));
            break;
        // Conditional transfers behind a prefix: no surcharge when taken.
        case 0x10: jr(--s.BC.b.h != 0, 0); break;
        case 0x20: case 0x28: case 0x30: case 0x38:
            jr(cond((op >> 3) & 3), 0);
            break;
        case 0xC0: case 0xC8: case 0xD0: case 0xD8: case 0xE0: case 0xE8: case 0xF0: case 0xF8:
            ret(cond((op >> 3) & 7), 0);
            break;
        case 0xC4: case 0xCC: case 0xD4: case 0xDC: case 0xE4: case 0xEC: case 0xF4: case 0xFC:
            call(cond((op >> 3) & 7), 0);
            break;
        default:
            // No HL operand: runs as the unprefixed instruction, which
            // charges nothing itself (only the run loop charges cyclesBase).
            return op;
    }
    return -1;
}

template <Z80Bus B>
Z80_INLINE void Exec<B>::indexCB(Z80Pair& x) {
    const uint16_t a = displaced(x);
    const uint8_t op = fetch();
    budget -= cyclesIndexCB[op];
    if (cyclesIndexCB[op] == 0) noteFreePass();
    const int y = (op >> 3) & 7;
    if ((op & 0xC0) == 0x40) {
        bit(y, rd(a));
        return;
    }
    if ((op & 7) != 6) return;  // consumed, memory untouched
    const uint8_t v = rd(a);
    uint8_t out;
    switch (op >> 6) {
        case 0: out = rotate(y, v); break;
        case 2: out = static_cast<uint8_t>(v & ~(1u << y)); break;
        default: out = static_cast<uint8_t>(v | (1u << y)); break;
    }
    wr(a, out);
}

#undef Z80_SRC
#undef Z80_CHARGE
#undef Z80_LD_ROW
#undef Z80_ALU_ROW

}  // namespace z80detail

// One pass of the run loop: traceHook, fetch, charge, execute.
template <Z80Bus B>
inline void stepCpu(Z80State& s, B& bus) {
    z80detail::Exec<B> cpu(s, bus);
    cpu.step();
    cpu.flush();
}

// Takes (or drops) an interrupt request; costs no T-states.
template <Z80Bus B>
inline void acceptInterrupt(Z80State& s, B& bus, uint16_t vector) {
    z80detail::Exec<B> cpu(s, bus);
    cpu.interrupt(vector);
    cpu.flush();
}

// The page handlers, for callers that feed a page directly.
template <Z80Bus B>
inline void execCB(Z80State& s, B& bus) {
    z80detail::Exec<B> cpu(s, bus);
    cpu.cb();
    cpu.flush();
}
template <Z80Bus B>
inline void execED(Z80State& s, B& bus) {
    z80detail::Exec<B> cpu(s, bus);
    cpu.ed();
    cpu.flush();
}
// which: false for the DD page (IX), true for the FD page (IY).
template <Z80Bus B>
inline void execIndex(Z80State& s, B& bus, bool which) {
    z80detail::Exec<B> cpu(s, bus);
    const int plain = cpu.index(which ? s.IY : s.IX, which);
    if (plain >= 0) {
        cpu.budget += cyclesBase[plain];  // base() charges it; behind a prefix it is free
        cpu.base(static_cast<uint8_t>(plain));
    }
    cpu.flush();
}
template <Z80Bus B>
inline void execIndexCB(Z80State& s, B& bus, bool which) {
    z80detail::Exec<B> cpu(s, bus);
    cpu.indexCB(which ? s.IY : s.IX);
    cpu.flush();
}

// Labels of the threaded dispatch, op_00 to op_FF, sixteen to a row. After
// each instruction: the slice ends, or the next opcode is fetched and jumped to.
#define Z80_OP(h, l)                                                          \
    op_##h##l : {                                                             \
        const int plain = cpu.baseOnce(std::integral_constant<int, 0x##h##l>{}); \
        if (plain >= 0) goto* dispatch[plain]; /* behind DD or FD only */     \
        if (cpu.budget <= 0) goto sliceEnd;                                   \
        if (cpu.filtered()) goto sliceEnd;                                    \
        goto* dispatch[cpu.fetchOpcode()];                                    \
    }
#define Z80_OP_ROW(h)                                                                              \
    Z80_OP(h, 0) Z80_OP(h, 1) Z80_OP(h, 2) Z80_OP(h, 3) Z80_OP(h, 4) Z80_OP(h, 5) Z80_OP(h, 6) \
    Z80_OP(h, 7) Z80_OP(h, 8) Z80_OP(h, 9) Z80_OP(h, A) Z80_OP(h, B) Z80_OP(h, C) Z80_OP(h, D) \
    Z80_OP(h, E) Z80_OP(h, F)
#define Z80_LABEL_ROW(h)                                                                       \
    &&op_##h##0, &&op_##h##1, &&op_##h##2, &&op_##h##3, &&op_##h##4, &&op_##h##5, &&op_##h##6, \
    &&op_##h##7, &&op_##h##8, &&op_##h##9, &&op_##h##A, &&op_##h##B, &&op_##h##C, &&op_##h##D, \
    &&op_##h##E, &&op_##h##F

// The run loop: slices of cyclePeriod T-states, loopHook at each slice end.
// Returns PC when loopHook answers HookLeaveRun.
template <Z80Bus B>
uint16_t runCpu(Z80State& s, B& bus) {
    z80detail::Exec<B> cpu(s, bus);
    for (;;) {
        // While the trace is off it is asked for once per slice: a test per
        // instruction took a sixth of the machine's speed.
        if (cpu.traceWanted()) {
            do cpu.step();
            while (cpu.budget > 0);
        } else {
            cpu.untracedRun = true;
#if defined(__GNUC__)
            // Threaded dispatch: one label per opcode runs baseOnce with that
            // opcode as a constant, so only its case is compiled there, and
            // ends with its own fetch and jump to the next. Each jump then
            // learns what tends to follow its own instruction; through the one
            // jump of a switch the exerciser ran about a quarter slower.
            static const void* const dispatch[256] = {
                Z80_LABEL_ROW(0), Z80_LABEL_ROW(1), Z80_LABEL_ROW(2), Z80_LABEL_ROW(3),
                Z80_LABEL_ROW(4), Z80_LABEL_ROW(5), Z80_LABEL_ROW(6), Z80_LABEL_ROW(7),
                Z80_LABEL_ROW(8), Z80_LABEL_ROW(9), Z80_LABEL_ROW(A), Z80_LABEL_ROW(B),
                Z80_LABEL_ROW(C), Z80_LABEL_ROW(D), Z80_LABEL_ROW(E), Z80_LABEL_ROW(F)};
            if (cpu.filtered()) goto sliceEnd;
            goto* dispatch[cpu.fetchOpcode()];
            Z80_OP_ROW(0) Z80_OP_ROW(1) Z80_OP_ROW(2) Z80_OP_ROW(3)
            Z80_OP_ROW(4) Z80_OP_ROW(5) Z80_OP_ROW(6) Z80_OP_ROW(7)
            Z80_OP_ROW(8) Z80_OP_ROW(9) Z80_OP_ROW(A) Z80_OP_ROW(B)
            Z80_OP_ROW(C) Z80_OP_ROW(D) Z80_OP_ROW(E) Z80_OP_ROW(F)
        sliceEnd:
#else
            do {
                if (cpu.filtered()) break;
                cpu.base(cpu.fetchOpcode());
            } while (cpu.budget > 0);
#endif
            cpu.untracedRun = false;
        }
        if (cpu.parkedBudget != 0) [[unlikely]] {  // a trap switched the trace on
            cpu.budget = cpu.parkedBudget;
            cpu.parkedBudget = 0;
            continue;
        }
        cpu.flush();
        const uint16_t v = bus.loopHook(s);
        s.cycleBudget = s.cyclePeriod;
        cpu.reload();
        cpu.freePasses = cpu.freePassLimit;
        if (v == HookLeaveRun) return s.PC.w;
        if (v != HookNoInterrupt) cpu.interrupt(v);
    }
}

#undef Z80_OP
#undef Z80_OP_ROW
#undef Z80_LABEL_ROW
#undef Z80_INLINE
