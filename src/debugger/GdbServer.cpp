// GdbServer: the listening socket and the client loop (see GdbServer.h).
#include "debugger/GdbServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        (void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// How long a refused client has to read its refusal before the close.
constexpr int RefusalGraceMs = 1000;
constexpr std::size_t MaxRefused = 8;
constexpr int MaxChunksARound = 16;

}  // namespace

std::string parseGdbAddress(const std::string& text, std::string& host, uint16_t& port) {
    const auto colon = text.rfind(':');
    host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    const std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
    if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(number) > 65535)
        return "--gdb wants [HOST:]PORT with a port of 0-65535, not '" + text + "'";
    in_addr address{};
    if (host.empty() || inet_pton(AF_INET, host.c_str(), &address) != 1)
        return "--gdb wants a numeric IPv4 host (such as 127.0.0.1), not '" + host + "'";
    port = static_cast<uint16_t>(std::stoul(number));
    return {};
}

GdbServer::GdbServer(GdbTarget& target) : target(target) {}

GdbServer::~GdbServer() {
    stop();
    if (listenFd >= 0)
        close(listenFd);
    for (int fd : wakeFds)
        if (fd >= 0)
            close(fd);
}

std::string GdbServer::listen(const std::string& host, uint16_t port) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return "not a numeric IPv4 address: '" + host + "'";
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        return std::string("cannot open a socket: ") + std::strerror(errno);
    const int on = 1;
    (void)setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr = address;
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(listenFd, 4) != 0) {
        const std::string why = std::strerror(errno);
        close(listenFd);
        listenFd = -1;
        return "cannot listen on " + host + ":" + std::to_string(port) + ": " + why;
    }
    socklen_t size = sizeof where;
    (void)getsockname(listenFd, reinterpret_cast<sockaddr*>(&where), &size);
    boundPort = ntohs(where.sin_port);
    setNonBlocking(listenFd);
    if (pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::string("cannot make a pipe: ") + std::strerror(errno);
    return {};
}

void GdbServer::start() {
    if (listenFd >= 0 && !thread.joinable())
        thread = std::thread([this] { threadMain(); });
}

void GdbServer::stop() {
    if (!thread.joinable())
        return;
    quit.store(true, std::memory_order_release);
    const char byte = 1;
    (void)!write(wakeFds[1], &byte, 1);
    thread.join();
}

void GdbServer::threadMain() {
    std::vector<pollfd> fds;
    while (!quit.load(std::memory_order_acquire)) {
        fds.clear();
        fds.push_back({wakeFds[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        if (clientFd >= 0)
            fds.push_back({clientFd, POLLIN, 0});
        for (const Refused& r : refused)
            fds.push_back({r.fd, POLLIN, 0});
        const bool running = session && session->running();
        const int timeout = running ? RunningPollMs : refused.empty() ? IdlePollMs : RunningPollMs * 10;
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        if (clientFd >= 0 && fds[2].revents != 0)
            readClient();
        if (fds[1].revents & POLLIN)
            acceptClient();
        serviceRefused(nowMs(), false);
        if (session)
            session->poll();
        if (session && (session->finished() || writeFailed))
            dropClient();
    }
    dropClient();
    serviceRefused(0, true);
}

void GdbServer::acceptClient() {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        const int on = 1;
        (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (clientFd >= 0) {
            refuse(fd);
            continue;
        }
        clientFd = fd;
        writeFailed = false;
        clients.fetch_add(1, std::memory_order_acq_rel);
        target.attach();
        session = std::make_unique<GdbSession>(target, [this](std::string_view data) {
            if (!writeFailed && !sendAll(data))
                writeFailed = true;
        });
    }
}

void GdbServer::refuse(int fd) {
    const std::string text = gdbFrame("O" + gdbHex("pdemu: another GDB client is connected; try again later\n")) +
                             gdbFrame("E01");
    (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    // Closing with the client's own bytes unread would reset the connection
    // and could lose the refusal: it reads it, then the close comes.
    shutdown(fd, SHUT_WR);
    if (refused.size() >= MaxRefused) {
        close(fd);
        return;
    }
    refused.push_back({fd, nowMs() + RefusalGraceMs});
}

void GdbServer::serviceRefused(int64_t now, bool all) {
    char buffer[512];
    for (std::size_t i = 0; i < refused.size();) {
        ssize_t n;
        while ((n = recv(refused[i].fd, buffer, sizeof buffer, 0)) > 0) {
        }
        const bool ended = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        if (all || ended || now >= refused[i].until) {
            close(refused[i].fd);
            refused.erase(refused.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void GdbServer::readClient() {
    char buffer[16384];
    // A client that never stops sending still lets the loop look for stops.
    for (int chunk = 0; chunk < MaxChunksARound; ++chunk) {
        const ssize_t n = recv(clientFd, buffer, sizeof buffer, 0);
        if (n > 0) {
            session->receive(buffer, static_cast<std::size_t>(n));
            if (session->finished() || writeFailed)
                return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0 && errno == EINTR)
            continue;
        dropClient();  // closed or broken
        return;
    }
}

bool GdbServer::sendAll(std::string_view data) {
    const int64_t deadline = nowMs() + WriteTimeoutMs;
    while (!data.empty()) {
        const ssize_t n = send(clientFd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A client that reads nothing is dropped, not waited for.
            const int64_t left = deadline - nowMs();
            pollfd fd{clientFd, POLLOUT, 0};
            if (left <= 0 || quit.load(std::memory_order_acquire) ||
                poll(&fd, 1, static_cast<int>(left < 100 ? left : 100)) < 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

void GdbServer::dropClient() {
    if (clientFd < 0)
        return;
    session.reset();
    close(clientFd);
    clientFd = -1;
    target.detach();
}
