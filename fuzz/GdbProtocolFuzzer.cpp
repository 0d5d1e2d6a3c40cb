// Fuzz target for the GDB remote protocol: the input is a client's byte
// stream, fed to a session in pieces whose sizes come from the input too,
// against a target with memory and registers that runs and stops by the
// input's own rhythm. Every write must be a whole frame with a good
// checksum, or '+' or '-'; nothing may crash, and a reply never comes while
// the machine runs. Built and run by scripts/fuzz.sh with clang's libFuzzer;
// not part of the normal build.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "debugger/GdbProtocol.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

struct Target final : GdbTarget {
    GdbRegisters regs;
    std::array<uint8_t, 0x10000> memory{};
    bool held = true;
    uint32_t polls = 0;
    void attach() override {}
    void detach() override {}
    bool readRegisters(GdbRegisters& r) override {
        r = regs;
        return held;
    }
    bool writeRegisters(const GdbRegisters& r) override {
        if (held)
            regs = r;
        return held;
    }
    bool readMemory(uint16_t address, uint8_t* out, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = memory[static_cast<uint16_t>(address + i)];
        return held;
    }
    bool writeMemory(uint16_t address, const uint8_t* data, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i)
            memory[static_cast<uint16_t>(address + i)] = data[i];
        return held;
    }
    bool resume(bool) override {
        if (!held)
            return false;
        held = false;
        return true;
    }
    std::optional<GdbStop> pollStop() override {
        if (held || ++polls % 3 != 0)
            return std::nullopt;
        held = true;
        return GdbStop{static_cast<GdbStop::Watch>(polls % 4), static_cast<uint16_t>(polls * 977), polls % 5 == 0};
    }
    void interrupt() override {}
    std::optional<GdbStop> reverse(bool step) override {
        if (!held || step)
            return std::nullopt;
        return GdbStop{};
    }
    bool insertPoint(int type, uint16_t, uint32_t length) override { return type >= 0 && type <= 4 && length <= 0x10000; }
    bool removePoint(int, uint16_t, uint32_t) override { return true; }
    std::optional<std::string> monitor(const std::string& line, std::string& error) override {
        if (line.empty()) {
            error = "empty";
            return std::nullopt;
        }
        return line;
    }
};

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A reply as the session must write it: "+", "-" or "$...#cc" with no
// unescaped '$', '#' or '*' inside and the checksum of what is between.
void checkWrite(std::string_view w, bool running) {
    if (w == "+" || w == "-")
        return;
    check(!running);
    check(w.size() >= 4 && w[0] == '$' && w[w.size() - 3] == '#');
    unsigned sum = 0;
    const std::size_t end = w.size() - 3;
    for (std::size_t i = 1; i < end; ++i) {
        const char c = w[i];
        check(c != '$' && c != '#' && c != '*');
        check(c != '}' || i + 1 < end);  // an escape is never cut off
        sum += static_cast<uint8_t>(c);
    }
    const int hi = hexValue(w[w.size() - 2]), lo = hexValue(w[w.size() - 1]);
    check(hi >= 0 && lo >= 0 && static_cast<unsigned>(hi << 4 | lo) == (sum & 0xFF));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Target target;
    bool running = false;
    GdbSession session(target, [&](std::string_view w) { checkWrite(w, running); });
    // The first byte sets the piece size; every piece is followed by a poll.
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 61;
    for (std::size_t at = size == 0 ? 0 : 1; at < size && !session.finished(); at += piece) {
        const std::size_t n = at + piece <= size ? piece : size - at;
        running = session.running();
        session.receive(reinterpret_cast<const char*>(data + at), n);
        running = false;  // poll's own writes come after the stop
        session.poll();
        check(session.running() == !target.held || session.finished());
    }
    return 0;
}
