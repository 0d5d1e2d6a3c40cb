// The GDB remote protocol without a machine: the framer on byte streams, and
// the session's answers against a fake target that records what it was
// asked. Packets and their expected replies are tables; each write the
// session makes is kept apart, so "one reply per write" is checked too.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "debugger/GdbProtocol.h"

namespace {

std::string packet(const std::string& payload) {
    unsigned sum = 0;
    for (char c : payload)
        sum += static_cast<uint8_t>(c);
    char check[4];
    std::snprintf(check, sizeof check, "#%02x", sum & 0xFF);
    return "$" + payload + check;
}

struct FakeTarget final : GdbTarget {
    GdbRegisters regs;
    std::array<uint8_t, 0x10000> memory{};
    bool held = true;
    bool stepped = false;
    int interrupts = 0;
    int resumes = 0;
    std::optional<GdbStop> nextStop;     // what pollStop answers once the machine runs
    std::optional<GdbStop> reverseStop;  // what bs/bc answer (nullopt: refused)
    bool reverseStep = false;
    std::vector<std::string> points;  // "Z2 C000 2", "z0 4200 8"

    FakeTarget() {
        for (int i = 0; i < GdbRegisters::WordCount; ++i)
            regs.word[i] = static_cast<uint16_t>(0x1100 * (i + 1) + i);
        regs.romBank = 0x41;
        regs.ramBank = 0x02;
        for (std::size_t a = 0; a < memory.size(); ++a)
            memory[a] = static_cast<uint8_t>(a * 7 + (a >> 8));
    }
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
    bool resume(bool step) override {
        if (!held)
            return false;
        stepped = step;
        ++resumes;
        held = false;
        return true;
    }
    std::optional<GdbStop> pollStop() override {
        if (held || !nextStop)
            return std::nullopt;
        held = true;
        return nextStop;
    }
    void interrupt() override {
        ++interrupts;
        if (!nextStop)
            nextStop = GdbStop{};
    }
    std::optional<GdbStop> reverse(bool step) override {
        reverseStep = step;
        return reverseStop;
    }
    bool insertPoint(int type, uint16_t address, uint32_t length) override {
        char text[32];
        std::snprintf(text, sizeof text, "Z%d %04X %u", type, address, static_cast<unsigned>(length));
        points.push_back(text);
        return true;
    }
    bool removePoint(int type, uint16_t address, uint32_t length) override {
        char text[32];
        std::snprintf(text, sizeof text, "z%d %04X %u", type, address, static_cast<unsigned>(length));
        points.push_back(text);
        return true;
    }
    std::optional<std::string> monitor(const std::string& line, std::string& error) override {
        if (line == "bad") {
            error = "unknown action 'bad'";
            return std::nullopt;
        }
        return "did: " + line + "\n";
    }
};

struct Client {
    FakeTarget target;
    std::vector<std::string> writes;
    GdbSession session{target, [this](std::string_view w) { writes.emplace_back(w); }};

    // The writes that one exchange made.
    std::vector<std::string> send(const std::string& bytes) {
        writes.clear();
        session.receive(bytes.data(), bytes.size());
        return writes;
    }
    std::vector<std::string> poll() {
        writes.clear();
        session.poll();
        return writes;
    }
};

std::string framesOf(const std::vector<GdbFramer::Event>& events) {
    static const char* const kinds[] = {"P", "^C", "BAD", "LONG"};
    std::string out;
    for (const auto& e : events)
        out += std::string(kinds[static_cast<int>(e.kind)]) + (e.kind == GdbFramer::Kind::Packet ? ":" + e.payload : "") + " ";
    return out;
}

TEST(GdbFramer, YieldsPacketsInterruptsAndErrorsFromAByteStream) {
    const std::string longPacket = packet(std::string(GdbFramer::MaxPayload + 1, 'a'));
    const struct {
        const char* name;
        std::string input;
        std::string events;
    } cases[] = {
        {"plain", packet("g"), "P:g "},
        {"upper-case checksum", "$qC#B4", "P:qC "},
        {"bad checksum", "$g#68", "BAD "},
        {"checksum not hex", "$g#6z", "BAD "},
        {"escape", "$X0,1:}]#" + packet("X0,1:}]").substr(9), "P:X0,1:} "},
        {"acks and junk between packets", "+-\xff\x7fjunk" + packet("?") + "+", "P:? "},
        {"Ctrl-C between packets", "\x03" + packet("g") + "\x03\x03", "^C P:g ^C ^C "},
        {"Ctrl-C inside a packet is data", packet("X0,1:\x03"), "P:X0,1:\x03 "},
        {"a half packet given up for a new one", "$m0,1" + packet("g"), "P:g "},
        {"one byte past the packet size", longPacket + packet("g"), "LONG P:g "},
        {"exactly the packet size", packet(std::string(GdbFramer::MaxPayload, 'a')) + "\x03", "P:" + std::string(GdbFramer::MaxPayload, 'a') + " ^C "},
    };
    for (const auto& c : cases) {
        GdbFramer framer;
        std::vector<GdbFramer::Event> events;
        framer.feed(c.input.data(), c.input.size(), events);
        EXPECT_EQ(framesOf(events), c.events) << c.name;
        // Fed a byte at a time, the same.
        GdbFramer bytewise;
        std::vector<GdbFramer::Event> slow;
        for (char ch : c.input)
            bytewise.feed(&ch, 1, slow);
        EXPECT_EQ(framesOf(slow), c.events) << c.name << " (byte by byte)";
    }
}

TEST(GdbFramer, FramesEscapeWhatTheFramerUnescapes) {
    EXPECT_EQ(gdbFrame("OK"), "$OK#9a");
    const std::string awkward = std::string("a$b#c}d*e\x03", 10);
    const std::string framed = gdbFrame(awkward);
    EXPECT_EQ(framed.find_first_of("$#", 1), framed.size() - 3) << framed;
    EXPECT_EQ(framed.find('*'), std::string::npos);
    GdbFramer framer;
    std::vector<GdbFramer::Event> events;
    framer.feed(framed.data(), framed.size(), events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, awkward);
}

TEST(GdbSession, AnswersEachQueryAsTheProtocolPrescribes) {
    // Registers i hold 0x1100 * (i + 1) + i, little-endian on the wire.
    const std::string allRegisters =
        "00110122023303440455056606770788089909aa0abb0bcc0cdd4102";
    const struct {
        std::string sent;
        std::string reply;
    } cases[] = {
        {"qSupported:multiprocess+;swbreak+;xmlRegisters=i386", GdbSession::Supported},
        {"qC", "QC1"},
        {"qfThreadInfo", "m1"},
        {"qsThreadInfo", "l"},
        {"qOffsets", "Text=0;Data=0;Bss=0"},
        {"qAttached", "1"},
        {"qAttached:1", "1"},
        {"vCont?", ""},
        {"vMustReplyEmpty", ""},
        {"qTStatus", ""},
        {"Hg0", "OK"},
        {"Hc-1", "OK"},
        {"T1", "OK"},
        {"g", allRegisters},
        {"?", "T050a:0abb;0b:0bcc;"},
        {"p0", "0011"},
        {"p0b", "0bcc"},
        {"p0C", "0cdd"},
        {"p0d", "41"},
        {"pe", "02"},
        {"p0f", "E01"},
        {"pzz", "E01"},
        {"mFFFE,4", "f1f80007"},
        {"m0,0", ""},
        {"M0,1:zz", "E01"},
        {"M0,2:00", "E01"},
        {"m0,10001", "E01"},
        {"m,4", "E01"},
        {"Z0,4200,0", "OK"},
        {"Z1,4200,8", "OK"},
        {"z1,4200,8", "OK"},
        {"Z2,c000,2", "OK"},
        {"Z3,C000,1", "OK"},
        {"Z4,8000,2", "OK"},
        {"Z4,8000,0", "E01"},
        {"Z5,8000,2", ""},
        {"Z0,zz,0", "E01"},
        {"X0,0:", "OK"},
        {"qXfer:features:read:other.xml:0,100", "E00"},
        {"qXfer:threads:read::0,100", ""},
        {"G00", "E01"},
        {"P0f=00", "E01"},
        {"Pb=zz", "E01"},
    };
    for (const auto& c : cases) {
        Client client;
        EXPECT_EQ(client.send(packet(c.sent)), (std::vector<std::string>{"+", gdbFrame(c.reply)})) << c.sent;
    }
}

TEST(GdbSession, ReadsAllMemoryInOneAnswerAndWrapsPastFFFF) {
    Client client;
    const auto writes = client.send(packet("m0,10000"));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].size(), 1 + 0x20000 + 3);
    EXPECT_EQ(writes[1].substr(1, 8), "00070e15");
    EXPECT_EQ(client.send(packet("mffff,2")), (std::vector<std::string>{"+", gdbFrame("f800")}));
}

TEST(GdbSession, WritesRegistersAndMemory) {
    Client client;
    EXPECT_EQ(client.send(packet("P3=3412")).back(), gdbFrame("OK"));
    EXPECT_EQ(client.target.regs.word[3], 0x1234);
    EXPECT_EQ(client.send(packet("Pd=07")).back(), gdbFrame("OK"));
    EXPECT_EQ(client.target.regs.romBank, 7);
    // G with the 13 words only keeps the banks.
    std::string words;
    for (int i = 0; i < GdbRegisters::WordCount; ++i)
        words += "ab" + std::string(1, "0123456789abc"[i]) + "0";
    EXPECT_EQ(client.send(packet("G" + words)).back(), gdbFrame("OK"));
    EXPECT_EQ(client.target.regs.word[0], 0x00AB);
    EXPECT_EQ(client.target.regs.word[12], 0xC0AB);
    EXPECT_EQ(client.target.regs.romBank, 7);
    EXPECT_EQ(client.send(packet("G" + words + "0102")).back(), gdbFrame("OK"));
    EXPECT_EQ(client.target.regs.ramBank, 2);
    EXPECT_EQ(client.target.regs.romBank, 1);
    // M in the IDE client's size: 2,000 bytes, wrapping past FFFF.
    std::string hex;
    for (int i = 0; i < 2000; ++i)
        hex += gdbHex(std::string(1, static_cast<char>(i & 0xFF)));
    EXPECT_EQ(client.send(packet("Mfc00,7d0:" + hex)).back(), gdbFrame("OK"));
    EXPECT_EQ(client.target.memory[0xFC00], 0);
    EXPECT_EQ(client.target.memory[0xFFFF], 0xFF);
    EXPECT_EQ(client.target.memory[0x03CF], (2000 - 1) & 0xFF);
    // X carries binary, with $ # } * escaped.
    const std::string binary = std::string("\x7d\x5d\x7d\x03\x7d\x04\x7d\x0a\x03\x00", 10);
    EXPECT_EQ(client.send("$XC000,6:" + binary + "#" + [&] {
                  unsigned sum = 0;
                  for (char c : "XC000,6:" + binary)
                      sum += static_cast<uint8_t>(c);
                  char t[3];
                  std::snprintf(t, sizeof t, "%02x", sum & 0xFF);
                  return std::string(t);
              }())
                  .back(),
              gdbFrame("OK"));
    EXPECT_EQ(client.target.memory[0xC000], '}');
    EXPECT_EQ(client.target.memory[0xC001], '#');
    EXPECT_EQ(client.target.memory[0xC002], '$');
    EXPECT_EQ(client.target.memory[0xC003], '*');
    EXPECT_EQ(client.target.memory[0xC004], 0x03);
    EXPECT_EQ(client.target.memory[0xC005], 0x00);
}

TEST(GdbSession, RefusesWhatTheTargetCannotDoWhileNotHeld) {
    Client client;
    client.target.held = false;
    for (const char* sent : {"g", "p0b", "m0,4", "M0,1:00", "P0=0000", "c", "s"})
        EXPECT_EQ(client.send(packet(sent)).back(), gdbFrame("E01")) << sent;
}

TEST(GdbSession, AcknowledgesUntilNoAckModeAndRejectsBadChecksums) {
    Client client;
    EXPECT_EQ(client.send("$M0,1:55#00"), (std::vector<std::string>{"-"}));
    EXPECT_NE(client.target.memory[0], 0x55) << "a packet with a bad checksum was obeyed";
    EXPECT_EQ(client.send(packet("QStartNoAckMode")), (std::vector<std::string>{"+", gdbFrame("OK")}));
    EXPECT_EQ(client.send(packet("p0")), (std::vector<std::string>{gdbFrame("0011")}));
    EXPECT_EQ(client.send("$p0#00"), (std::vector<std::string>{"-"}));
    EXPECT_EQ(client.send(packet(std::string(GdbFramer::MaxPayload + 10, 'M'))), (std::vector<std::string>{"-"}));
}

TEST(GdbSession, ContinueAnswersOnlyWhenTheMachineStops) {
    const struct {
        const char* name;
        GdbStop stop;
        std::string reply;
    } cases[] = {
        {"plain", GdbStop{}, "T050a:0abb;0b:0bcc;"},
        {"write", {GdbStop::Watch::Write, 0xC001, false}, "T05watch:c001;0a:0abb;0b:0bcc;"},
        {"read", {GdbStop::Watch::Read, 0x8000, false}, "T05rwatch:8000;0a:0abb;0b:0bcc;"},
        {"access", {GdbStop::Watch::Access, 0x8001, false}, "T05awatch:8001;0a:0abb;0b:0bcc;"},
    };
    for (const auto& c : cases) {
        Client client;
        EXPECT_EQ(client.send(packet("c")), (std::vector<std::string>{"+"})) << c.name;
        EXPECT_TRUE(client.session.running());
        EXPECT_TRUE(client.poll().empty()) << "a reply before the machine stopped";
        client.target.nextStop = c.stop;
        EXPECT_EQ(client.poll(), (std::vector<std::string>{gdbFrame(c.reply)})) << c.name;
        EXPECT_FALSE(client.session.running());
        // ? repeats the last stop.
        EXPECT_EQ(client.send(packet("?")).back(), gdbFrame(c.reply)) << c.name;
    }
}

TEST(GdbSession, StepAndContinueFromAnAddressSetThePcFirst) {
    Client client;
    client.send(packet("s4210"));
    EXPECT_TRUE(client.target.stepped);
    EXPECT_EQ(client.target.regs.word[GdbRegisters::Pc], 0x4210);
    client.target.nextStop = GdbStop{};
    client.poll();
    client.send(packet("C05;4300"));
    EXPECT_FALSE(client.target.stepped);
    EXPECT_EQ(client.target.regs.word[GdbRegisters::Pc], 0x4300);
}

TEST(GdbSession, CtrlCWithAPacketInOneWriteIsAnsweredInTwoWrites) {
    Client client;
    client.send(packet("c"));
    EXPECT_TRUE(client.send("\x03" + packet("p0b")) == std::vector<std::string>{"+"})
        << "the packet must wait for the stop";
    EXPECT_EQ(client.target.interrupts, 1);
    EXPECT_EQ(client.poll(), (std::vector<std::string>{gdbFrame("T050a:0abb;0b:0bcc;"), gdbFrame("0bcc")}));
    // While held the same pair is answered at once, still in two writes.
    EXPECT_EQ(client.send("\x03" + packet("p0b")),
              (std::vector<std::string>{gdbFrame("T050a:0abb;0b:0bcc;"), "+", gdbFrame("0bcc")}));
}

TEST(GdbSession, AFloodOfCtrlCGetsOneStopReply) {
    Client client;
    EXPECT_EQ(client.send(std::string(10000, '\x03')), (std::vector<std::string>{gdbFrame("T050a:0abb;0b:0bcc;")}));
    client.send(packet("c"));
    EXPECT_TRUE(client.send(std::string(10000, '\x03')).empty());
    EXPECT_EQ(client.poll().size(), 1u);
}

TEST(GdbSession, PointsReachTheTargetWithTheirTypeAddressAndLength) {
    Client client;
    for (const char* sent : {"Z0,4200,0", "Z1,4203,8", "Z2,C000,2", "Z3,8000,1", "Z4,8000,2", "z4,8000,2", "z0,4200,0"})
        client.send(packet(sent));
    EXPECT_EQ(client.target.points, (std::vector<std::string>{"Z0 4200 0", "Z1 4203 8", "Z2 C000 2", "Z3 8000 1",
                                                              "Z4 8000 2", "z4 8000 2", "z0 4200 0"}));
}

TEST(GdbSession, ReverseMovesAnswerAtOnce) {
    Client client;
    client.target.reverseStop = GdbStop{};
    EXPECT_EQ(client.send(packet("bs")).back(), gdbFrame("T050a:0abb;0b:0bcc;"));
    EXPECT_TRUE(client.target.reverseStep);
    client.target.reverseStop = GdbStop{GdbStop::Watch::None, 0, true};
    EXPECT_EQ(client.send(packet("bc")).back(), gdbFrame("T05replaylog:begin;0a:0abb;0b:0bcc;"));
    EXPECT_FALSE(client.target.reverseStep);
    client.target.reverseStop.reset();
    EXPECT_EQ(client.send(packet("bc")).back(), gdbFrame("E01"));
}

TEST(GdbSession, KillAndDetachEndTheSession) {
    Client kill;
    EXPECT_EQ(kill.send(packet("k")), (std::vector<std::string>{"+"}));
    EXPECT_TRUE(kill.session.finished());
    EXPECT_TRUE(kill.send(packet("g")).empty()) << "answered after k";
    Client detach;
    EXPECT_EQ(detach.send(packet("D")), (std::vector<std::string>{"+", gdbFrame("OK")}));
    EXPECT_TRUE(detach.session.finished());
}

TEST(GdbSession, MonitorAnswersWithConsoleOutput) {
    Client client;
    EXPECT_EQ(client.send(packet("qRcmd," + gdbHex("point write C000"))),
              (std::vector<std::string>{"+", gdbFrame("O" + gdbHex("did: point write C000\n")), gdbFrame("OK")}));
    EXPECT_EQ(client.send(packet("qRcmd," + gdbHex("bad"))),
              (std::vector<std::string>{"+", gdbFrame("O" + gdbHex("unknown action 'bad'\n")), gdbFrame("E01")}));
    EXPECT_EQ(client.send(packet("qRcmd,zz")).back(), gdbFrame("E01"));
}

TEST(GdbSession, TargetDescriptionComesInPiecesAndNamesOurRegisterOrder) {
    Client client;
    const std::string xml = GdbSession::targetXml();
    std::string read;
    for (std::size_t offset = 0;; offset += 0x100) {
        char request[64];
        std::snprintf(request, sizeof request, "qXfer:features:read:target.xml:%zx,100", offset);
        const std::string framed = client.send(packet(request)).back();
        GdbFramer framer;
        std::vector<GdbFramer::Event> events;
        framer.feed(framed.data(), framed.size(), events);
        ASSERT_EQ(events.size(), 1u);
        read += events[0].payload.substr(1);
        if (events[0].payload[0] == 'l')
            break;
        ASSERT_EQ(events[0].payload[0], 'm');
        ASSERT_LT(offset, xml.size());
    }
    EXPECT_EQ(read, xml);
    EXPECT_NE(xml.find("<architecture>z80</architecture>"), std::string::npos);
    std::size_t at = xml.find("org.gnu.gdb.z80.cpu");
    for (const char* name : {"af", "bc", "de", "hl", "af'", "bc'", "de'", "hl'", "ix", "iy", "sp", "pc", "ir",
                             "romBank", "ramBank"}) {
        const std::size_t next = xml.find("name=\"" + std::string(name) + "\"", at);
        ASSERT_NE(next, std::string::npos) << name << " missing or out of order";
        at = next;
    }
    EXPECT_LT(xml.find("name=\"ir\""), xml.find("</feature>"));
    EXPECT_GT(xml.find("name=\"romBank\""), xml.find("</feature>")) << "the banks are not z80 cpu registers";
}

}  // namespace
