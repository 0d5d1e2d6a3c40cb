// GdbProtocol: framing and the command handler (see GdbProtocol.h).
#include "debugger/GdbProtocol.h"

#include <algorithm>
#include <cstdio>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hex of 1 to maxDigits digits, the whole text; nullopt otherwise.
std::optional<uint32_t> parseHex(std::string_view text, std::size_t maxDigits = 8) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return value;
}

// Pairs of hex digits into bytes; false on an odd count or a bad digit.
bool unhex(std::string_view text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

// Registers go little-endian: "3412" is 0x1234.
void putLe(std::string& text, uint32_t value, int bytes) {
    char digits[3];
    for (int i = 0; i < bytes; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", (value >> (8 * i)) & 0xFFu);
        text += digits;
    }
}

std::optional<uint32_t> takeLe(std::string_view text, int bytes) {
    std::vector<uint8_t> raw;
    if (text.size() != static_cast<std::size_t>(2 * bytes) || !unhex(text, raw))
        return std::nullopt;
    uint32_t value = 0;
    for (int i = bytes; i-- > 0;)
        value = value << 8 | raw[static_cast<std::size_t>(i)];
    return value;
}

int registerBytes(int number) { return number < GdbRegisters::WordCount ? 2 : 1; }

uint32_t registerValue(const GdbRegisters& r, int number) {
    if (number < GdbRegisters::WordCount)
        return r.word[number];
    return number == 13 ? r.romBank : r.ramBank;
}

void setRegister(GdbRegisters& r, int number, uint32_t value) {
    if (number < GdbRegisters::WordCount)
        r.word[number] = static_cast<uint16_t>(value);
    else if (number == 13)
        r.romBank = static_cast<uint8_t>(value);
    else
        r.ramBank = static_cast<uint8_t>(value);
}

// "ADDR,LEN" with the rest after `end` (':' or the text's end).
struct Range {
    uint16_t address = 0;
    uint32_t length = 0;
};
std::optional<Range> parseRange(std::string_view text) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const auto address = parseHex(text.substr(0, comma));
    const auto length = parseHex(text.substr(comma + 1));
    if (!address || !length)
        return std::nullopt;
    return Range{static_cast<uint16_t>(*address), *length};
}

constexpr const char* Error = "E01";
constexpr std::size_t MaxMemoryRead = 0x10000;  // all of the Z80's memory in one answer

}  // namespace

// ---------------------------------------------------------------------------
// Framing

void GdbFramer::feed(const char* data, std::size_t size, std::vector<Event>& events) {
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        const auto byte = static_cast<uint8_t>(c);
        switch (state) {
        case State::Idle:
            if (c == '$') {
                state = State::Payload;
                payload.clear();
                tooLong = false;
                sum = 0;
            } else if (byte == 0x03) {
                events.push_back({Kind::Interrupt, {}});
            }
            // '+', '-' and anything else between packets: nothing to do.
            break;
        case State::Payload:
        case State::Escape:
            if (state == State::Payload && c == '#') {
                state = State::Check1;
                break;
            }
            if (state == State::Payload && c == '$') {
                // A packet given up halfway: the new one counts.
                payload.clear();
                tooLong = false;
                sum = 0;
                break;
            }
            sum = static_cast<uint8_t>(sum + byte);
            if (state == State::Payload && c == '}') {
                state = State::Escape;
                break;
            }
            if (payload.size() < MaxPayload)
                payload.push_back(state == State::Escape ? static_cast<char>(byte ^ 0x20) : c);
            else
                tooLong = true;
            state = State::Payload;
            break;
        case State::Check1:
        case State::Check2: {
            const int d = hexDigit(c);
            if (d < 0) {
                events.push_back({Kind::BadChecksum, {}});
                state = State::Idle;
                if (c == '$')
                    --i;  // the next packet starts here
                break;
            }
            if (state == State::Check1) {
                given = d;
                state = State::Check2;
                break;
            }
            state = State::Idle;
            if (tooLong)
                events.push_back({Kind::TooLong, {}});
            else if ((given << 4 | d) != sum)
                events.push_back({Kind::BadChecksum, {}});
            else
                events.push_back({Kind::Packet, std::move(payload)});
            payload.clear();
            break;
        }
        }
    }
}

std::string gdbFrame(std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 8);
    out.push_back('$');
    uint8_t sum = 0;
    for (char c : payload) {
        if (c == '$' || c == '#' || c == '}' || c == '*') {
            out.push_back('}');
            sum = static_cast<uint8_t>(sum + '}');
            c = static_cast<char>(c ^ 0x20);
        }
        out.push_back(c);
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    }
    char check[4];
    std::snprintf(check, sizeof check, "#%02x", sum);
    out += check;
    return out;
}

std::string gdbHex(const uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

std::string gdbHex(std::string_view text) {
    return gdbHex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// ---------------------------------------------------------------------------
// Session

const char* GdbSession::targetXml() {
    return "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n"
           "<target version=\"1.0\">\n"
           "<architecture>z80</architecture>\n"
           "<feature name=\"org.gnu.gdb.z80.cpu\">\n"
           "<reg name=\"af\" bitsize=\"16\" type=\"int\" regnum=\"0\"/>\n"
           "<reg name=\"bc\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"de\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"hl\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"af'\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"bc'\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"de'\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"hl'\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"ix\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"iy\" bitsize=\"16\" type=\"int\"/>\n"
           "<reg name=\"sp\" bitsize=\"16\" type=\"data_ptr\"/>\n"
           "<reg name=\"pc\" bitsize=\"16\" type=\"code_ptr\"/>\n"
           "<reg name=\"ir\" bitsize=\"16\" type=\"int\"/>\n"
           "</feature>\n"
           "<feature name=\"org.pdemu.banks\">\n"
           "<reg name=\"romBank\" bitsize=\"8\" type=\"int\"/>\n"
           "<reg name=\"ramBank\" bitsize=\"8\" type=\"int\"/>\n"
           "</feature>\n"
           "</target>\n";
}

GdbSession::GdbSession(GdbTarget& target, std::function<void(std::string_view)> write)
    : target(target), write(std::move(write)) {}

void GdbSession::receive(const char* data, std::size_t size) {
    std::vector<GdbFramer::Event> events;
    framer.feed(data, size, events);
    for (GdbFramer::Event& event : events) {
        if (done)
            return;
        switch (event.kind) {
        case GdbFramer::Kind::Interrupt:
            if (isRunning) {
                target.interrupt();
            } else if (!interruptAnswered && waiting.empty()) {
                interruptAnswered = true;
                stopReply(GdbStop{});
            }
            break;
        case GdbFramer::Kind::BadChecksum:
        case GdbFramer::Kind::TooLong:
            // Not obeyed. Even without acknowledgements the client learns of it.
            write("-");
            break;
        case GdbFramer::Kind::Packet:
            if (!noAck)
                write("+");
            if (isRunning || !waiting.empty()) {
                if (waiting.size() < MaxWaiting)
                    waiting.push_back(std::move(event.payload));
            } else {
                handle(event.payload);
            }
            break;
        }
    }
}

void GdbSession::poll() {
    if (!isRunning || done)
        return;
    if (const auto stop = target.pollStop()) {
        isRunning = false;
        stopReply(*stop);
        drainWaiting();
    }
}

void GdbSession::drainWaiting() {
    while (!isRunning && !done && !waiting.empty()) {
        const std::string packet = std::move(waiting.front());
        waiting.pop_front();
        handle(packet);
    }
}

void GdbSession::reply(std::string_view payload) { write(gdbFrame(payload)); }

void GdbSession::stopReply(const GdbStop& stop) {
    lastStop = stop;
    GdbRegisters regs;
    if (!target.readRegisters(regs)) {
        reply("S05");
        return;
    }
    std::string text = "T05";
    static const char* const watchNames[] = {"", "watch", "rwatch", "awatch"};
    if (stop.watch != GdbStop::Watch::None) {
        char field[24];
        std::snprintf(field, sizeof field, "%s:%04x;", watchNames[static_cast<int>(stop.watch)], stop.address);
        text += field;
    } else if (stop.historyStart) {
        text += "replaylog:begin;";
    }
    text += "0a:";
    putLe(text, regs.word[GdbRegisters::Sp], 2);
    text += ";0b:";
    putLe(text, regs.word[GdbRegisters::Pc], 2);
    text += ";";
    reply(text);
}

void GdbSession::handle(const std::string& packet) {
    interruptAnswered = false;
    if (packet.empty()) {
        reply("");
        return;
    }
    const char kind = packet[0];
    if (kind == 'k') {
        done = true;  // no reply: the client closes
        return;
    }
    if (kind == 'D') {
        reply("OK");
        done = true;
        return;
    }
    if (kind == 'c' || kind == 's' || kind == 'C' || kind == 'S') {
        // C and S carry a signal first ("C05;ADDR"), which the machine has no use for.
        std::string_view args = std::string_view(packet).substr(1);
        if (kind == 'C' || kind == 'S') {
            const auto semi = args.find(';');
            args = semi == std::string_view::npos ? std::string_view() : args.substr(semi + 1);
        }
        const std::string refused = startRun(kind == 'c' || kind == 'C' ? false : true, args);
        if (!refused.empty())
            reply(refused);
        return;
    }
    if (packet == "bs" || packet == "bc") {
        const auto stop = target.reverse(packet == "bs");
        if (!stop) {
            reply(Error);
            return;
        }
        stopReply(*stop);
        return;
    }
    if (packet == "?") {
        stopReply(lastStop);
        return;
    }
    if (packet.rfind("qRcmd,", 0) == 0) {
        monitorCommand(std::string_view(packet).substr(6));
        return;
    }
    reply(answer(packet));
}

std::string GdbSession::startRun(bool step, std::string_view args) {
    if (!args.empty()) {
        const auto address = parseHex(args);
        GdbRegisters regs;
        if (!address || !target.readRegisters(regs))
            return Error;
        regs.word[GdbRegisters::Pc] = static_cast<uint16_t>(*address);
        if (!target.writeRegisters(regs))
            return Error;
    }
    if (!target.resume(step))
        return Error;
    isRunning = true;
    return {};
}

std::string GdbSession::readRegisterText(int number) {
    GdbRegisters regs;
    if (!target.readRegisters(regs))
        return Error;
    std::string text;
    if (number < 0) {
        for (int n = 0; n < GdbRegisters::Count; ++n)
            putLe(text, registerValue(regs, n), registerBytes(n));
    } else {
        putLe(text, registerValue(regs, number), registerBytes(number));
    }
    return text;
}

std::string GdbSession::answer(const std::string& packet) {
    const std::string_view p = packet;
    switch (p[0]) {
    case 'g':
        return readRegisterText(-1);
    case 'G': {
        GdbRegisters regs;
        if (!target.readRegisters(regs))
            return Error;
        // The 13 words alone leave the banks as they are.
        std::string_view data = p.substr(1);
        const std::size_t words = 4 * GdbRegisters::WordCount;
        if (data.size() != words && data.size() != words + 4)
            return Error;
        for (int n = 0; n < GdbRegisters::Count && !data.empty(); ++n) {
            const int bytes = registerBytes(n);
            const auto value = takeLe(data.substr(0, 2 * static_cast<std::size_t>(bytes)), bytes);
            if (!value)
                return Error;
            setRegister(regs, n, *value);
            data.remove_prefix(2 * static_cast<std::size_t>(bytes));
        }
        return target.writeRegisters(regs) ? "OK" : Error;
    }
    case 'p': {
        const auto number = parseHex(p.substr(1), 4);
        if (!number || *number >= GdbRegisters::Count)
            return Error;
        return readRegisterText(static_cast<int>(*number));
    }
    case 'P': {
        const auto equals = p.find('=');
        const auto number = equals == std::string_view::npos ? std::nullopt : parseHex(p.substr(1, equals - 1), 4);
        if (!number || *number >= GdbRegisters::Count)
            return Error;
        const int n = static_cast<int>(*number);
        const auto value = takeLe(p.substr(equals + 1), registerBytes(n));
        GdbRegisters regs;
        if (!value || !target.readRegisters(regs))
            return Error;
        setRegister(regs, n, *value);
        return target.writeRegisters(regs) ? "OK" : Error;
    }
    case 'm':
    case 'M':
    case 'X':
        return memoryCommand(packet);
    case 'Z':
    case 'z':
        return pointCommand(packet);
    case 'H':
    case 'T':
        return "OK";  // one thread, always alive
    default:
        break;
    }
    if (p.rfind("qSupported", 0) == 0)
        return Supported;
    if (p == "QStartNoAckMode") {
        // The OK still goes out acknowledged; from here on nothing is.
        noAck = true;
        return "OK";
    }
    if (p == "qC")
        return "QC1";
    if (p == "qfThreadInfo")
        return "m1";
    if (p == "qsThreadInfo")
        return "l";
    if (p == "qOffsets")
        return "Text=0;Data=0;Bss=0";
    if (p.rfind("qAttached", 0) == 0)
        return "1";  // the client did not start the program: leaving must not end it
    if (p.rfind("qXfer:", 0) == 0)
        return qXfer(p.substr(6));
    return {};  // vCont? and everything unknown: the empty reply
}

std::string GdbSession::memoryCommand(const std::string& packet) {
    const std::string_view p = packet;
    const auto colon = p.find(':');
    const auto range = parseRange(p.substr(1, colon == std::string_view::npos ? std::string_view::npos : colon - 1));
    if (!range)
        return Error;
    if (p[0] == 'm') {
        if (colon != std::string_view::npos || range->length > MaxMemoryRead)
            return Error;
        std::vector<uint8_t> bytes(range->length);
        if (!target.readMemory(range->address, bytes.data(), bytes.size()))
            return Error;
        return gdbHex(bytes.data(), bytes.size());
    }
    if (colon == std::string_view::npos || range->length > GdbFramer::MaxPayload)
        return Error;
    std::vector<uint8_t> bytes;
    const std::string_view data = p.substr(colon + 1);
    if (p[0] == 'M') {
        if (!unhex(data, bytes))
            return Error;
    } else {
        bytes.assign(data.begin(), data.end());  // unescaped by the framer
    }
    if (bytes.size() != range->length)
        return Error;
    if (bytes.empty())
        return "OK";  // GDB's probe of X
    return target.writeMemory(range->address, bytes.data(), bytes.size()) ? "OK" : Error;
}

std::string GdbSession::pointCommand(const std::string& packet) {
    // "Z1,4200,0": type, address, kind (execution) or length (watchpoints).
    const std::string_view p = packet;
    if (p.size() < 3 || p[1] < '0' || p[1] > '4' || p[2] != ',')
        return {};  // a kind we do not know: the empty reply says so
    std::string_view rest = p.substr(3);
    rest = rest.substr(0, rest.find(';'));  // conditions and commands are not offered
    const auto range = parseRange(rest);
    if (!range)
        return Error;
    const int type = p[1] - '0';
    if (type >= 2 && (range->length == 0 || range->length > 0x10000))
        return Error;
    const bool ok = p[0] == 'Z' ? target.insertPoint(type, range->address, range->length)
                                : target.removePoint(type, range->address, range->length);
    return ok ? "OK" : Error;
}

std::string GdbSession::qXfer(std::string_view annex) {
    // features:read:target.xml:OFFSET,LENGTH
    constexpr std::string_view prefix = "features:read:";
    if (annex.rfind(prefix, 0) != 0)
        return {};
    annex.remove_prefix(prefix.size());
    const auto colon = annex.find(':');
    if (colon == std::string_view::npos)
        return Error;
    if (annex.substr(0, colon) != "target.xml")
        return "E00";
    const auto range = parseRange(annex.substr(colon + 1));
    if (!range)
        return Error;
    const std::string_view xml = targetXml();
    if (range->address >= xml.size())
        return "l";
    const std::size_t length = std::min<std::size_t>(range->length, xml.size() - range->address);
    const bool last = range->address + length >= xml.size();
    return std::string(last ? "l" : "m") + std::string(xml.substr(range->address, length));
}

void GdbSession::monitorCommand(std::string_view hex) {
    std::vector<uint8_t> bytes;
    if (!unhex(hex, bytes)) {
        reply(Error);
        return;
    }
    std::string line(bytes.begin(), bytes.end());
    std::string error;
    const auto output = target.monitor(line, error);
    const std::string text = output ? *output : error + "\n";
    // Console output in pieces well inside the packet size.
    for (std::size_t at = 0; at < text.size(); at += 512)
        reply("O" + gdbHex(std::string_view(text).substr(at, 512)));
    reply(output ? "OK" : Error);
}
