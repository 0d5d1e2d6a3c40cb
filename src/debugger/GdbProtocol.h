// GdbProtocol: the GDB remote serial protocol as pdemu speaks it, without
// sockets or threads: a byte-fed framer and the session that answers a
// client's packets from a GdbTarget. GdbServer feeds it from a socket; the
// tests feed it bytes and a fake target.
//
// Framing: "$payload#cc" with a two-digit checksum (either case), "}x" for
// x ^ 0x20 inside the payload, 0x03 on its own for Ctrl-C, '+' and '-' the
// acknowledgements (read and ignored: nothing is ever sent twice, since one
// known client never acknowledges). Replies never use run-length encoding.
//
// Run control: c and s only start the machine; the stop reply comes from
// poll() once the target reports a stop. Packets that arrive meanwhile wait
// until that reply is out (a client may send Ctrl-C and a packet in one
// write), and each reply leaves in a write of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The registers in the order the client numbers them: AF BC DE HL AF' BC'
// DE' HL' IX IY SP PC IR (0-12, 16 bits), then the two bank registers
// (13, 14, 8 bits).
struct GdbRegisters {
    static constexpr int WordCount = 13;
    static constexpr int Count = 15;
    static constexpr int Sp = 10, Pc = 11;
    uint16_t word[WordCount] = {};
    uint8_t romBank = 0;
    uint8_t ramBank = 0;
};

// Why the machine stopped, as the stop reply tells it.
struct GdbStop {
    enum class Watch : uint8_t { None, Write, Read, Access };
    Watch watch = Watch::None;
    uint16_t address = 0;       // the watched address that fired
    bool historyStart = false;  // a reverse move reached the history's start
};

// What the session needs of the machine. Every call comes from the
// session's thread; the target answers from the held machine.
class GdbTarget {
public:
    virtual ~GdbTarget() = default;
    // A client came: the machine is held. A client left: it runs on.
    virtual void attach() = 0;
    virtual void detach() = 0;
    // False while the machine is not held (or cannot be read).
    virtual bool readRegisters(GdbRegisters& regs) = 0;
    virtual bool writeRegisters(const GdbRegisters& regs) = 0;
    // Through the current mapping, wrapping past FFFF.
    virtual bool readMemory(uint16_t address, uint8_t* out, std::size_t count) = 0;
    virtual bool writeMemory(uint16_t address, const uint8_t* data, std::size_t count) = 0;
    // Starts the machine (false: it is not held); the stop comes from pollStop.
    virtual bool resume(bool step) = 0;
    virtual std::optional<GdbStop> pollStop() = 0;
    // Ctrl-C: the machine stops at its next instruction (pollStop tells).
    virtual void interrupt() = 0;
    // Back one instruction, or to the last earlier breakpoint or watchpoint
    // hit; done when they return (nullopt: refused).
    virtual std::optional<GdbStop> reverse(bool step) = 0;
    // Z and z: type 0/1 execution, 2 write, 3 read, 4 access watchpoint.
    virtual bool insertPoint(int type, uint16_t address, uint32_t length) = 0;
    virtual bool removePoint(int type, uint16_t address, uint32_t length) = 0;
    // A line of the debug-script language; its output, or nullopt if refused
    // (error then says why).
    virtual std::optional<std::string> monitor(const std::string& line, std::string& error) = 0;
};

// Byte-fed framing: feed() yields events in the order the bytes came.
class GdbFramer {
public:
    static constexpr std::size_t MaxPayload = 0x4000;  // PacketSize of qSupported
    enum class Kind : uint8_t { Packet, Interrupt, BadChecksum, TooLong };
    struct Event {
        Kind kind;
        std::string payload;  // unescaped, for Packet
    };
    void feed(const char* data, std::size_t size, std::vector<Event>& events);

private:
    enum class State : uint8_t { Idle, Payload, Escape, Check1, Check2 };
    State state = State::Idle;
    std::string payload;
    bool tooLong = false;
    uint8_t sum = 0;
    int given = 0;
};

// "$payload#cc" with '$', '#', '}' and '*' escaped.
std::string gdbFrame(std::string_view payload);
// Hex of bytes, lower case.
std::string gdbHex(const uint8_t* data, std::size_t size);
std::string gdbHex(std::string_view text);

// One client's session.
class GdbSession {
public:
    static constexpr const char* Supported =
        "PacketSize=4000;qXfer:features:read+;QStartNoAckMode+;ReverseStep+;ReverseContinue+";
    // The most packets kept while the machine runs; more are dropped.
    static constexpr std::size_t MaxWaiting = 64;

    // write sends one reply (or '+'/'-') in one write.
    GdbSession(GdbTarget& target, std::function<void(std::string_view)> write);

    // Bytes from the client.
    void receive(const char* data, std::size_t size);
    // While running: a stop is answered, then the packets that waited.
    void poll();
    bool running() const { return isRunning; }
    // After k or D: the client is done; the server closes the connection.
    bool finished() const { return done; }

    static const char* targetXml();

private:
    void handle(const std::string& packet);
    void reply(std::string_view payload);
    void stopReply(const GdbStop& stop);
    std::string answer(const std::string& packet);
    std::string readRegisterText(int number);
    std::string memoryCommand(const std::string& packet);
    std::string pointCommand(const std::string& packet);
    std::string qXfer(std::string_view annex);
    void monitorCommand(std::string_view hex);
    std::string startRun(bool step, std::string_view args);
    void drainWaiting();

    GdbTarget& target;
    std::function<void(std::string_view)> write;
    GdbFramer framer;
    std::deque<std::string> waiting;
    GdbStop lastStop;
    bool noAck = false;
    bool isRunning = false;
    bool done = false;
    // A flood of Ctrl-C while held gets one stop reply, until the next packet.
    bool interruptAnswered = false;
};
