// pdemu-run --gdb end to end: a client of our own plays the sessions of an
// IDE client (target description, 2,000-byte M packets, all of memory in one
// m, breakpoints set in pairs instead of steps, an access watchpoint,
// Ctrl-C with a packet in one write, k) and of GDB (no-ack mode, s, G, P,
// X, bs, bc, D) against the demo firmware and its Break demo, checking every
// answer; then the refusal of a second client, bad input, and a dropped
// connection. Every wait is for bytes on a pipe or socket, with a bound.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "debugger/GdbProtocol.h"
#include "debugger/GdbServer.h"
#include "RemoteRunner.h"
#include "RunOptions.h"

namespace {

namespace fs = std::filesystem;
using remotetest::after;
using remotetest::Clock;
using remotetest::msLeft;
using remotetest::Runner;
using remotetest::RunSeconds;

// GDB's default timeout; the protocol's answers must come within it.
constexpr double AnswerSeconds = 2.0 * PDEMU_SLOWDOWN;

const std::string demoDir = PDEMU_DEMO_DIR;
const std::string tapFirstApp = "4000000 pen 40 115 down\n8000000 pen 40 115 up\n";

std::string packet(const std::string& payload) { return gdbFrame(payload); }

class Client {
public:
    explicit Client(uint16_t port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~Client() { close(fd); }
    void sendRaw(const std::string& bytes) { ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }
    // The next packet's payload (acknowledgements skipped, noted in acked);
    // "<none>" at the bound or the close.
    std::string next(double seconds = AnswerSeconds) {
        const auto until = after(seconds);
        acked = false;
        for (;;) {
            while (!buffer.empty() && buffer[0] != '$') {
                acked |= buffer[0] == '+';
                buffer.erase(0, 1);
            }
            const auto hash = buffer.find('#');
            if (hash != std::string::npos && buffer.size() >= hash + 3) {
                // Replies may be longer than the packets a client sends (all of memory).
                std::string payload;
                unsigned sum = 0;
                for (std::size_t i = 1; i < hash; ++i)
                    sum += static_cast<uint8_t>(buffer[i]);
                for (std::size_t i = 1; i < hash; ++i)
                    payload.push_back(buffer[i] == '}' && i + 1 < hash ? static_cast<char>(buffer[++i] ^ 0x20)
                                                                        : buffer[i]);
                const bool good = std::stoul(buffer.substr(hash + 1, 2), nullptr, 16) == (sum & 0xFF);
                buffer.erase(0, hash + 3);
                return good ? payload : "<bad checksum>";
            }
            if (!readSome(until))
                return "<none>";
        }
    }
    std::string ask(const std::string& payload, double seconds = AnswerSeconds) {
        sendRaw(packet(payload));
        return next(seconds);
    }
    // The server closed the connection (all it sent kept in buffer).
    bool closedByServer(double seconds = AnswerSeconds) {
        const auto until = after(seconds);
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, msLeft(until)) <= 0)
                return false;
            char chunk[4096];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return true;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    bool connected = false;
    bool acked = false;
    std::string buffer;

private:
    bool readSome(Clock::time_point until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, msLeft(until)) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    int fd = -1;
};

// A stop reply as the protocol prescribes it: T05, an optional watch field
// first, then 0a:SP; and 0b:PC; (little-endian). PC, or -1 if malformed.
int stopPc(const std::string& reply, const std::string& firstField = "") {
    static const std::regex shape("T05((?:watch|rwatch|awatch):[0-9a-f]+;|replaylog:begin;)?0a:[0-9a-f]{4};0b:([0-9a-f]{4});");
    std::smatch m;
    if (!std::regex_match(reply, m, shape) || m[1].str() != firstField)
        return -1;
    const std::string pc = m[2];
    return std::stoi(pc.substr(2, 2) + pc.substr(0, 2), nullptr, 16);
}

std::string le16(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x", value & 0xFF, (value >> 8) & 0xFF);
    return text;
}

std::string tapFile() {
    const fs::path path = fs::temp_directory_path() / ("pdemu-gdb-tap-" + std::to_string(getpid()) + ".txt");
    std::ofstream(path) << tapFirstApp;
    return path.string();
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(GdbRemote, TheAddressIsLoopbackUnlessAHostIsGiven) {
    const struct {
        const char* text;
        const char* host;  // nullptr: refused
        uint16_t port;
    } cases[] = {
        {"1234", "127.0.0.1", 1234}, {"0", "127.0.0.1", 0},          {"0.0.0.0:99", "0.0.0.0", 99},
        {"127.0.0.1:65535", "127.0.0.1", 65535}, {"65536", nullptr, 0}, {"localhost:1234", nullptr, 0},
        {":1234", nullptr, 0},       {"", nullptr, 0},               {"12a", nullptr, 0},
        {"[::1]:1234", nullptr, 0},
    };
    for (const auto& c : cases) {
        std::string host;
        uint16_t port = 1;
        const std::string problem = parseGdbAddress(c.text, host, port);
        EXPECT_EQ(problem.empty(), c.host != nullptr) << c.text << ": " << problem;
        if (c.host != nullptr) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(GdbRemote, TheRunnerTakesGdbAloneOrWithTheOptionsThatDoNotDriveTheDebugger) {
    const struct {
        std::vector<std::string> args;
        const char* error;  // "" when accepted
    } cases[] = {
        {{"--gdb", "1234"}, ""},
        {{"--gdb", "1234", "--gdb-wait", "--install", "a.app", "--tstates", "5"}, ""},
        {{"--gdb-wait", "--timeout", "5"}, "--gdb-wait waits for a client of --gdb, which is not given"},
        {{"--gdb", "1234", "--debug", "d.txt"}, "--debug does not combine with --gdb: both would drive the debugger"},
        {{"--gdb", "1234", "--replay", "s.ses"}, "--replay does not combine with --gdb: both would drive the debugger"},
        {{"--gdb", "localhost:1234"},
         "--gdb wants a numeric IPv4 host (such as 127.0.0.1), not 'localhost'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseRunOptions(c.args).error, c.error) << c.args[0] << " " << c.args[1];
}

TEST(GdbRemote, AnIdeClientSessionOnTheBreakDemo) {
    Runner run({"--gdb-wait", "--install", demoDir + "/breaker.app", "--input", tapFile()});
    ASSERT_NE(run.port, 0) << run.errText;
    Client ide(run.port);
    ASSERT_TRUE(ide.connected);
    // That client never acknowledges, and reads the description before anything else.
    EXPECT_EQ(ide.ask("qSupported"), GdbSession::Supported);
    const std::string xml = ide.ask("qXfer:features:read:target.xml:0,3fff");
    EXPECT_EQ(xml, "l" + std::string(GdbSession::targetXml()));

    // Its program goes in 2,000-byte M packets, unasked about the packet size.
    std::string program;
    for (int i = 0; i < 4000; ++i)
        program.push_back(static_cast<char>((i * 13 + 5) & 0xFF));
    for (int part = 0; part < 2; ++part) {
        char head[32];
        std::snprintf(head, sizeof head, "M%x,7d0:", 0xD000 + part * 2000);
        const std::string m = head + gdbHex(program.substr(static_cast<std::size_t>(part) * 2000, 2000));
        ASSERT_EQ(m.size(), 4010u);
        const auto start = Clock::now();
        EXPECT_EQ(ide.ask(m), "OK");
        EXPECT_LT(secondsSince(start), AnswerSeconds);
    }
    // Held at the first instruction; the stack read at SP.
    const std::string regs = ide.ask("g");
    ASSERT_EQ(regs.size(), 13 * 4 + 2 * 2u) << regs;
    // Held right after the installation's restart, in the firmware's start-up.
    EXPECT_LT(std::stoi(regs.substr(11 * 4 + 2, 2) + regs.substr(11 * 4, 2), nullptr, 16), 0x100) << "PC";
    EXPECT_EQ(ide.ask("m" + regs.substr(10 * 4 + 2, 2) + regs.substr(10 * 4, 2) + ",8").size(), 16u);

    EXPECT_EQ(ide.ask("Z0,4200,0"), "OK");
    ide.sendRaw(packet("c"));
    EXPECT_EQ(stopPc(ide.next(RunSeconds)), 0x4200) << "main";
    const auto start = Clock::now();
    const std::string all = ide.ask("m0,10000");
    EXPECT_LT(secondsSince(start), AnswerSeconds);
    ASSERT_EQ(all.size(), 0x20000u);
    EXPECT_EQ(all.substr(0x4200 * 2, 6), "214c42") << "LD HL,msg_before";
    EXPECT_EQ(all.substr(0xD000 * 2, 8000), gdbHex(program));
    EXPECT_EQ(ide.ask("z0,4200,0"), "OK");

    // Stepping as that client does: temporary points after the instruction
    // (and at a call's target), then c; the breakpoint at the PC is left first.
    struct Step {
        std::vector<const char*> points;
        int stop;
    };
    const Step steps[] = {
        {{"4203", "4219"}, 0x4203},  // over LD HL: the print trap is next
        {{"420d"}, 0x420A},          // the break trap stops the machine behind it, as in the window
        {{"420d"}, 0x420D},          // the CALL
        {{"4210", "4219"}, 0x4219},  // into the called subroutine
    };
    for (const Step& step : steps) {
        for (const char* a : step.points)
            EXPECT_EQ(ide.ask(std::string("Z1,") + a + ",0"), "OK");
        ide.sendRaw(packet("c"));
        EXPECT_EQ(stopPc(ide.next(RunSeconds)), step.stop);
        for (const char* a : step.points)
            EXPECT_EQ(ide.ask(std::string("z1,") + a + ",0"), "OK");
    }

    // The client's default watchpoint on the result variable: LD (8000h),HL.
    EXPECT_EQ(ide.ask("Z4,8000,2"), "OK");
    ide.sendRaw(packet("c"));
    EXPECT_EQ(stopPc(ide.next(RunSeconds), "awatch:8000;"), 0x4215);
    EXPECT_EQ(ide.ask("z4,8000,2"), "OK");

    // Running free, it stops on Ctrl-C; a packet sent with it is answered after.
    ide.sendRaw(packet("c"));
    ASSERT_TRUE(run.waitForOutput("application returned\n"));
    ide.sendRaw("\x03" + packet("p0b"));
    const int pc = stopPc(ide.next(RunSeconds));
    EXPECT_GE(pc, 0);
    EXPECT_EQ(ide.next(), le16(pc));

    ide.sendRaw(packet("k"));
    EXPECT_TRUE(ide.closedByServer());
}

TEST(GdbRemote, AGdbSessionWithReverseSteps) {
    Runner run({"--gdb-wait"});
    ASSERT_NE(run.port, 0) << run.errText;
    Client gdb(run.port);
    gdb.sendRaw("+");
    EXPECT_EQ(gdb.ask("qSupported:multiprocess+;swbreak+;hwbreak+;qRelocInsn+;fork-events+;vfork-events+;"
                      "exec-events+;vContSupported+;QThreadEvents+;no-resumed+;xmlRegisters=i386"),
              GdbSession::Supported);
    EXPECT_TRUE(gdb.acked);
    gdb.sendRaw("+");
    EXPECT_EQ(gdb.ask("QStartNoAckMode"), "OK");
    gdb.sendRaw("+");
    EXPECT_EQ(stopPc(gdb.ask("?")), 0x0000);
    EXPECT_FALSE(gdb.acked) << "acknowledged in no-ack mode";
    // GDB reads the description in pieces.
    std::string xml;
    for (std::string piece; xml.size() < 100000;) {
        char request[64];
        std::snprintf(request, sizeof request, "qXfer:features:read:target.xml:%zx,fb", xml.size());
        piece = gdb.ask(request);
        ASSERT_FALSE(piece.empty());
        xml += piece.substr(1);
        if (piece[0] == 'l')
            break;
        ASSERT_EQ(piece[0], 'm');
    }
    EXPECT_EQ(xml, GdbSession::targetXml());
    EXPECT_EQ(gdb.ask("qAttached"), "1");
    EXPECT_EQ(gdb.ask("Hg0"), "OK");
    EXPECT_EQ(gdb.ask("vCont?"), "");

    // s: the firmware starts with DI, one byte.
    EXPECT_EQ(gdb.ask("m0,1"), "f3");
    EXPECT_EQ(stopPc(gdb.ask("s")), 1);

    // G and P, read back; then HL as it was.
    const std::string regs = gdb.ask("g");
    ASSERT_EQ(regs.size(), 56u);
    std::string edited = regs;
    edited.replace(3 * 4, 4, "3412");
    EXPECT_EQ(gdb.ask("G" + edited), "OK");
    EXPECT_EQ(gdb.ask("p3"), "3412");
    EXPECT_EQ(gdb.ask("P3=" + regs.substr(3 * 4, 4)), "OK");
    EXPECT_EQ(gdb.ask("g"), regs);
    // X with bytes that must be escaped.
    const std::string raw = std::string("}#$*\x03", 5);
    std::string escaped;
    for (char c : raw)
        escaped += c == '}' || c == '#' || c == '$' || c == '*' ? std::string{'}', static_cast<char>(c ^ 0x20)} : std::string(1, c);
    gdb.sendRaw("$XD000,5:" + escaped + gdbFrame("XD000,5:" + raw).substr(gdbFrame("XD000,5:" + raw).size() - 3));
    EXPECT_EQ(gdb.next(), "OK");
    EXPECT_EQ(gdb.ask("mD000,5"), gdbHex(raw));

    // After an edit the history starts again where the machine is: nothing to go back to.
    int pcs[4];
    pcs[0] = stopPc(gdb.ask("bs"), "replaylog:begin;");
    EXPECT_EQ(pcs[0], 1);
    // Three steps, then back to a breakpoint, one step back, and to the start.
    for (int i = 1; i < 4; ++i)
        pcs[i] = stopPc(gdb.ask("s"));
    char point[32];
    std::snprintf(point, sizeof point, "Z0,%x,8", pcs[1]);  // kind 8, as GDB's z80 target sends it
    EXPECT_EQ(gdb.ask(point), "OK");
    EXPECT_EQ(stopPc(gdb.ask("bc")), pcs[1]) << "back to the breakpoint";
    // From the breakpoint's own instruction, bc first leaves it: on to the start.
    EXPECT_EQ(stopPc(gdb.ask("bc"), "replaylog:begin;"), pcs[0]);
    EXPECT_EQ(stopPc(gdb.ask("s")), pcs[1]);
    EXPECT_EQ(stopPc(gdb.ask("bs")), pcs[0]);
    // monitor: a line of the debug-script language, its output as console text.
    EXPECT_EQ(gdb.ask("qRcmd," + gdbHex("point write C100")), "O" + gdbHex("point 6: write C100\n"));
    EXPECT_EQ(gdb.next(), "OK");
    EXPECT_EQ(gdb.ask("qRcmd," + gdbHex("delete 6")), "O" + gdbHex("point 6: deleted\n"));
    EXPECT_EQ(gdb.next(), "OK");
    EXPECT_EQ(gdb.ask("qRcmd," + gdbHex("go")),
              "O" + gdbHex("'go' is not for a remote client: use its own commands\n"));
    EXPECT_EQ(gdb.next(), "E01");
    EXPECT_EQ(gdb.ask("D"), "OK");
    EXPECT_TRUE(gdb.closedByServer());
    // Left alone, the machine runs on.
    EXPECT_TRUE(run.waitForOutput("booted\n"));
}

TEST(GdbRemote, ASecondClientIsRefusedAndTheFirstGoesOnUndisturbed) {
    Runner run({"--gdb-wait"});
    ASSERT_NE(run.port, 0) << run.errText;
    Client first(run.port);
    ASSERT_EQ(stopPc(first.ask("?")), 0);
    // The first stops halfway through a packet.
    first.sendRaw("$m0,");
    Client second(run.port);
    ASSERT_TRUE(second.connected);
    second.sendRaw(packet("qSupported"));
    EXPECT_TRUE(second.closedByServer());
    EXPECT_EQ(second.next(), "O" + gdbHex("pdemu: another GDB client is connected; try again later\n"));
    EXPECT_EQ(second.next(), "E01");
    first.sendRaw("3" + packet("m0,3").substr(5));
    EXPECT_EQ(first.next().size(), 6u);
}

TEST(GdbRemote, BadInputIsAnsweredAndNothingElse) {
    Runner run({"--gdb-wait"});
    ASSERT_NE(run.port, 0) << run.errText;
    Client client(run.port);
    // Binary junk between packets (no '$' to start one, no Ctrl-C), a bad
    // checksum, a packet past the packet size, a flood of Ctrl-C.
    std::string junk;
    for (int i = 0; i < 5000; ++i) {
        const char c = static_cast<char>((i * 73 + 11) & 0xFF);
        junk.push_back(c == '$' || c == '\x03' ? 'x' : c);
    }
    client.sendRaw(junk);
    client.sendRaw("$g#00");
    client.sendRaw("$" + std::string(0x5000, 'm') + "#00");
    client.sendRaw(std::string(5000, '\x03'));
    const std::string stop = client.next();
    EXPECT_EQ(stopPc(stop), 0);
    // One stop reply for the whole flood: the next answer is p0b's.
    EXPECT_EQ(client.ask("p0b"), "0000");
}

TEST(GdbRemote, ADroppedConnectionReleasesTheMachine) {
    Runner run({"--gdb-wait"});
    ASSERT_NE(run.port, 0) << run.errText;
    {
        Client client(run.port);
        ASSERT_EQ(stopPc(client.ask("?")), 0);
        EXPECT_EQ(client.ask("Z0,0,0"), "OK");
    }
    EXPECT_TRUE(run.waitForOutput("booted\n")) << "still held after the client went";
    Client next(run.port);
    EXPECT_GT(stopPc(next.ask("?")), 0) << "the next client finds it held where it ran to";
}

#ifdef PDEMU_PROGRAM_PATH
// The program with its windows: a client opens the debugger window (as a
// break trap does), its breakpoints hold the machine, and after it has
// detached the machine runs on with the window left open.
TEST(GdbRemote, TheWindowProgramServesAClientThroughItsDebugger) {
    const fs::path home = fs::temp_directory_path() / ("pdemu-gdb-window-" + std::to_string(getpid()));
    fs::create_directories(home);
    {
        Runner run(PDEMU_PROGRAM_PATH, "pdemu", {"--rom", PDEMU_DEMO_ROM_PATH, "--save", "", "--gdb", "0"}, home);
        ASSERT_NE(run.port, 0) << run.errText;
        Client client(run.port);
        EXPECT_GE(stopPc(client.ask("?", RunSeconds)), 0);
        EXPECT_EQ(client.ask("Z0,b4,0"), "OK");
        client.sendRaw(packet("c"));
        EXPECT_EQ(stopPc(client.next(RunSeconds)), 0xB4) << "the firmware's main loop";
        EXPECT_EQ(client.ask("D"), "OK");
        EXPECT_TRUE(client.closedByServer());
        Client again(run.port);
        EXPECT_GE(stopPc(again.ask("?", RunSeconds)), 0) << "the next client";
    }
    fs::remove_all(home);
}
#endif

}  // namespace
