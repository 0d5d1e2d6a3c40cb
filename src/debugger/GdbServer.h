// GdbServer: the GDB remote serial protocol on a TCP port (POSIX sockets),
// one client at a time, answered by a GdbSession over a GdbTarget.
//
// One thread of its own accepts, reads and answers. It waits in poll with a
// short timeout while the machine runs, so it notices a stop (and its own
// end) without the emulation thread ever waiting for it. A second client
// while one is connected gets an O packet saying why and an E packet, then
// the close; the first is not disturbed. A client that leaves (k, D, the
// connection dropped or unwritable for WriteTimeoutMs) lets the machine run
// on (GdbTarget::detach), and the next may come.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "debugger/GdbProtocol.h"

// "[HOST:]PORT": the host defaults to 127.0.0.1 (loopback only); PORT 0
// picks a free port. "" or why not.
std::string parseGdbAddress(const std::string& text, std::string& host, uint16_t& port);

class GdbServer {
public:
    static constexpr int WriteTimeoutMs = 5000;
    static constexpr int RunningPollMs = 5;
    static constexpr int IdlePollMs = 100;

    explicit GdbServer(GdbTarget& target);
    // Ends the thread (stop) first.
    ~GdbServer();
    GdbServer(const GdbServer&) = delete;
    GdbServer& operator=(const GdbServer&) = delete;

    // Binds and listens; "" or why not. host is a numeric IPv4 address.
    std::string listen(const std::string& host, uint16_t port);
    // The port listened on (the one picked, for port 0).
    uint16_t port() const { return boundPort; }
    // Starts the thread after listen.
    void start();
    // Closes the client (the machine runs on) and ends the thread.
    void stop();
    // Clients served so far, the current one included.
    int clientCount() const { return clients.load(std::memory_order_acquire); }

private:
    struct Refused {
        int fd;
        int64_t until;  // steady-clock milliseconds
    };
    void threadMain();
    void acceptClient();
    void refuse(int fd);
    void dropClient();
    void readClient();
    bool sendAll(std::string_view data);
    void serviceRefused(int64_t now, bool all);

    GdbTarget& target;
    int listenFd = -1;
    int wakeFds[2] = {-1, -1};
    uint16_t boundPort = 0;
    std::thread thread;
    std::atomic<bool> quit{false};
    std::atomic<int> clients{0};
    // The server thread's alone.
    int clientFd = -1;
    bool writeFailed = false;
    std::unique_ptr<GdbSession> session;
    std::vector<Refused> refused;
};
