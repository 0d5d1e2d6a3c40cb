// PointTable: matching, firing and the address maps (see PointTable.h).
#include "debugger/PointTable.h"

#include <algorithm>
#include <cstdio>

#include "machine/MemoryMap.h"

namespace {

// What an expression sees: the held registers and the memory as mapped now.
class MachineView final : public ExprMachine {
public:
    MachineView(const Z80State& regs, const MemoryMap& memory) : regs(regs), memory(memory) {}

    uint32_t reg(ExprRegister r) const override {
        switch (r) {
        case ExprRegister::A: return regs.AF.b.h;
        case ExprRegister::F: return regs.AF.b.l;
        case ExprRegister::B: return regs.BC.b.h;
        case ExprRegister::C: return regs.BC.b.l;
        case ExprRegister::D: return regs.DE.b.h;
        case ExprRegister::E: return regs.DE.b.l;
        case ExprRegister::H: return regs.HL.b.h;
        case ExprRegister::L: return regs.HL.b.l;
        case ExprRegister::AF: return regs.AF.w;
        case ExprRegister::BC: return regs.BC.w;
        case ExprRegister::DE: return regs.DE.w;
        case ExprRegister::HL: return regs.HL.w;
        case ExprRegister::IX: return regs.IX.w;
        case ExprRegister::IY: return regs.IY.w;
        case ExprRegister::SP: return regs.SP.w;
        case ExprRegister::PC: return regs.PC.w;
        case ExprRegister::I: return regs.I;
        // The core keeps no R: LD A,R derives it from the slice's budget, so does this.
        case ExprRegister::R: return static_cast<uint8_t>(0 - regs.cycleBudget);
        case ExprRegister::AF2: return regs.altAF;
        case ExprRegister::BC2: return regs.altBC;
        case ExprRegister::DE2: return regs.altDE;
        case ExprRegister::HL2: return regs.altHL;
        case ExprRegister::RomBank: return static_cast<uint32_t>(memory.romBank);
        case ExprRegister::RamBank: return static_cast<uint32_t>(memory.ramBank);
        }
        return 0;
    }
    uint8_t byteAt(uint16_t address) const override { return memory.readByte(address); }

private:
    const Z80State& regs;
    const MemoryMap& memory;
};

bool isAccessKind(PointKind kind) { return kind != PointKind::Exec; }

bool kindSees(PointKind kind, AccessKind access) {
    switch (kind) {
    case PointKind::Write: return access == AccessKind::Write;
    case PointKind::Read: return access == AccessKind::Read;
    case PointKind::Access: return access == AccessKind::Write || access == AccessKind::Read;
    case PointKind::Out: return access == AccessKind::Out;
    case PointKind::In: return access == AccessKind::In;
    case PointKind::Exec: return false;
    }
    return false;
}

}  // namespace

uint32_t evaluateOn(const Expression& expression, const Z80State& regs, const MemoryMap& memory) {
    return expression.evaluate(MachineView(regs, memory));
}

PointTable::PointTable() {
    for (auto& word : execMap)
        word.store(0, std::memory_order_relaxed);
    for (auto& flag : execPages)
        flag.store(0, std::memory_order_relaxed);
    for (auto& flag : blockFlags)
        flag.store(0, std::memory_order_relaxed);
    for (auto& flag : portFlags)
        flag.store(0, std::memory_order_relaxed);
}

bool PointTable::pageMatches(const PointSpec& spec, uint16_t pc, const MemoryMap& memory) {
    if (spec.pageKind == PointPage::Any)
        return true;
    const bool wantRam = spec.pageKind == PointPage::Ram;
    switch (pc >> 14) {
    case 0: return !wantRam && spec.page == 0;
    case 1: return !wantRam && spec.page == memory.romBank;
    case 2:
        if (memory.window2Lcd)
            return false;
        if (memory.window2Flash)
            return !wantRam && spec.page == memory.ramBank;
        return wantRam && spec.page == memory.ramBank % MemoryMap::RamPages;
    default: return wantRam && spec.page == 0;
    }
}

void PointTable::recordAccess(AccessKind kind, uint16_t address, uint8_t value, uint16_t at) {
    const bool port = kind == AccessKind::Out || kind == AccessKind::In;
    const uint16_t place = port ? static_cast<uint8_t>(address) : address;
    for (Point& p : points) {
        if (!p.enabled || p.seen || !kindSees(p.spec.kind, kind))
            continue;
        if (place < p.spec.first || place > p.spec.last)
            continue;
        p.seen = true;
        p.seenKind = kind;
        p.seenAddress = place;
        p.seenValue = value;
        p.seenAt = at;
        if (!pending)
            flagPending(true);
        pending = true;
    }
}

void PointTable::flagPending(bool on) {
    for (auto& page : execPages) {
        if (on)
            page.fetch_or(PendingHere, std::memory_order_release);
        else
            page.fetch_and(static_cast<uint8_t>(~PendingHere), std::memory_order_release);
    }
}

void PointTable::forgetAccesses() {
    for (Point& p : points)
        p.seen = false;
    if (pending)
        flagPending(false);
    pending = false;
}

// Whether the point is due at the boundary before pc: its recorded access,
// which this uses up, or its exec address (on its page).
bool PointTable::takeDue(Point& p, uint16_t pc, const MemoryMap& memory, bool checkExec) {
    if (isAccessKind(p.spec.kind)) {
        const bool seen = p.seen;
        p.seen = false;
        return seen;
    }
    return checkExec && p.spec.first == pc && pageMatches(p.spec, pc, memory);
}

std::optional<std::string> PointTable::fire(const Z80State& regs, const MemoryMap& memory, bool checkExec,
                                            const std::function<void(std::string_view)>& log) {
    const MachineView machine(regs, memory);
    const uint16_t pc = regs.PC.w;
    std::optional<std::string> holdMessage;
    if (pending)
        flagPending(false);
    pending = false;
    for (Point& p : points) {
        const bool due = takeDue(p, pc, memory, checkExec);
        if (!due || !p.enabled)
            continue;
        if (p.spec.condition && p.spec.condition->evaluate(machine) == 0)
            continue;
        ++p.counted;
        if (p.spec.hits > 1 && p.counted % p.spec.hits != 0)
            continue;
        if (p.spec.logs) {
            log(formatLog(p.spec, machine));
            continue;
        }
        if (holdMessage)
            continue;  // the lowest number is reported; the others have counted
        char text[96];
        switch (p.spec.kind) {
        case PointKind::Exec:
            std::snprintf(text, sizeof text, "Breakpoint (%i) hit at:%x", p.number, static_cast<unsigned>(pc));
            break;
        case PointKind::Out:
        case PointKind::In:
            std::snprintf(text, sizeof text, "Watchpoint (%i) %s %02X=%02X at:%x", p.number,
                          p.seenKind == AccessKind::Out ? "out" : "in", static_cast<unsigned>(p.seenAddress),
                          static_cast<unsigned>(p.seenValue), static_cast<unsigned>(p.seenAt));
            break;
        default:
            std::snprintf(text, sizeof text, "Watchpoint (%i) %s %04X=%02X at:%x", p.number,
                          p.seenKind == AccessKind::Write ? "write" : "read", static_cast<unsigned>(p.seenAddress),
                          static_cast<unsigned>(p.seenValue), static_cast<unsigned>(p.seenAt));
            break;
        }
        holdMessage = text;
    }
    return holdMessage;
}

int PointTable::probe(const Z80State& regs, const MemoryMap& memory, bool checkExec) {
    const MachineView machine(regs, memory);
    const uint16_t pc = regs.PC.w;
    if (pending)
        flagPending(false);
    pending = false;
    int number = 0;
    for (Point& p : points) {
        const bool due = takeDue(p, pc, memory, checkExec);
        if (number != 0 || !due || !p.enabled || p.spec.logs)
            continue;
        if (p.spec.condition && p.spec.condition->evaluate(machine) == 0)
            continue;
        number = p.number;
    }
    return number;
}

void PointTable::setSlotAddress(int slot, uint32_t address) {
    if (slotAddresses[slot - 1] == address)
        return;
    slotAddresses[slot - 1] = address;
    rebuildMaps();
}

void PointTable::rebuildMaps() {
    uint64_t exec[1024] = {};
    uint8_t blocks[256] = {};
    uint8_t ports[256] = {};
    for (uint32_t slot : slotAddresses)
        if (slot != 0)
            exec[(slot & 0xFFFF) >> 6] |= uint64_t{1} << (slot & 63);
    for (const Point& p : points) {
        if (!p.enabled)
            continue;
        const PointSpec& s = p.spec;
        uint8_t flags = 0;
        if (s.kind == PointKind::Write || s.kind == PointKind::Access || s.kind == PointKind::Out)
            flags |= WriteFlag;
        if (s.kind == PointKind::Read || s.kind == PointKind::Access || s.kind == PointKind::In)
            flags |= ReadFlag;
        switch (s.kind) {
        case PointKind::Exec: exec[s.first >> 6] |= uint64_t{1} << (s.first & 63); break;
        case PointKind::Out:
        case PointKind::In:
            for (uint32_t port = s.first; port <= s.last && port < 256; ++port)
                ports[port] |= flags;
            break;
        default:
            for (uint32_t block = s.first >> 8u; block <= (s.last >> 8u); ++block)
                blocks[block] |= flags;
            break;
        }
    }
    // Bits are set before their page's flag and cleared after it, so the
    // page test never hides a bit that is set throughout.
    uint8_t pages[256] = {};
    for (int i = 0; i < 1024; ++i)
        if (exec[i] != 0)
            pages[i >> 2] = ExecHere;
    if (pending)
        for (uint8_t& page : pages)
            page |= PendingHere;
    for (int i = 0; i < 1024; ++i)
        execMap[i].fetch_or(exec[i], std::memory_order_release);
    for (int i = 0; i < 256; ++i)
        execPages[i].fetch_or(pages[i], std::memory_order_release);
    for (int i = 0; i < 1024; ++i)
        execMap[i].store(exec[i], std::memory_order_release);
    for (int i = 0; i < 256; ++i)
        execPages[i].store(pages[i], std::memory_order_release);
    // A kind newly watched is announced before its flags are set, one no
    // longer watched after they are cleared, so no access goes unchecked.
    uint8_t watch = 0;
    for (const Point& p : points) {
        if (!p.enabled)
            continue;
        switch (p.spec.kind) {
        case PointKind::Exec: break;
        case PointKind::Write: watch |= WatchWrites; break;
        case PointKind::Read: watch |= WatchReads; break;
        case PointKind::Access: watch |= WatchWrites | WatchReads; break;
        case PointKind::Out:
        case PointKind::In: watch |= WatchPorts; break;
        }
    }
    watching.fetch_or(watch, std::memory_order_release);
    for (int i = 0; i < 256; ++i) {
        blockFlags[i].store(blocks[i], std::memory_order_relaxed);
        portFlags[i].store(ports[i], std::memory_order_relaxed);
    }
    watching.store(watch, std::memory_order_release);
}

PointTable::Point* PointTable::find(int number) {
    for (Point& p : points)
        if (p.number == number)
            return &p;
    return nullptr;
}

PointResult PointTable::add(std::string_view text, const SymbolTable* symbols) {
    PointResult result;
    std::optional<PointSpec> spec = parsePoint(text, &result.error);
    if (!spec)
        return result;
    if (!resolvePoint(*spec, symbols, &result.error))
        return result;
    if (points.size() >= static_cast<std::size_t>(MaxPoints)) {
        result.error = "too many points (at most " + std::to_string(MaxPoints) + ")";
        return result;
    }
    int number = FirstNumber;
    for (const Point& p : points) {  // by number: the lowest free one from 5 up
        if (p.number != number)
            break;
        ++number;
    }
    Point point{number, std::move(*spec)};
    result.number = number;
    result.text = point.spec.text;
    points.insert(std::lower_bound(points.begin(), points.end(), number,
                                   [](const Point& p, int n) { return p.number < n; }),
                  std::move(point));
    rebuildMaps();
    return result;
}

PointResult PointTable::remove(int number) {
    PointResult result;
    Point* p = find(number);
    if (!p) {
        result.error = "no point " + std::to_string(number);
        return result;
    }
    result.number = number;
    result.text = p->spec.text;
    points.erase(points.begin() + (p - points.data()));
    rebuildMaps();
    return result;
}

PointResult PointTable::enable(int number, bool on) {
    PointResult result;
    Point* p = find(number);
    if (!p) {
        result.error = "no point " + std::to_string(number);
        return result;
    }
    if (on && !p->enabled)
        p->counted = 0;  // hits count from the enabling
    p->enabled = on;
    p->seen = p->seen && on;
    result.number = number;
    result.text = p->spec.text;
    rebuildMaps();
    return result;
}

std::vector<PointInfo> PointTable::list() const {
    std::vector<PointInfo> out;
    out.reserve(points.size());
    for (const Point& p : points) {
        PointInfo info;
        info.number = p.number;
        info.kind = p.spec.kind;
        info.text = p.spec.text;
        const std::string& t = p.spec.text;
        const std::size_t placeStart = t.find(' ') + 1;
        const std::size_t placeEnd = t.find(' ', placeStart);
        info.where = t.substr(placeStart, placeEnd == std::string::npos ? std::string::npos : placeEnd - placeStart);
        if (p.spec.condition)
            info.condition = p.spec.condition->text();
        info.hits = p.spec.hits;
        info.counted = p.counted;
        info.enabled = p.enabled;
        info.logs = p.spec.logs;
        if (p.spec.logs) {
            // The canonical text ends with " log TEXT" behind the place and the
            // other clauses (a condition may itself hold the word "log").
            std::string prefix = info.where;
            if (p.spec.condition)
                prefix += " if " + info.condition;
            if (p.spec.hits != 0)
                prefix += " hits " + std::to_string(p.spec.hits);
            info.logText = t.substr(placeStart + prefix.size() + 5);
        }
        info.address = p.spec.first;
        out.push_back(std::move(info));
    }
    return out;
}
