// StopSignals: SIGINT and SIGTERM recorded for an ordinary end (see
// StopSignals.h).
#include "machine/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> receivedSignal{0};
int pipeEnds[2] = {-1, -1};

static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");

void onStopSignal(int number) {
    const int savedErrno = errno;  // the interrupted code may be looking at errno
    int none = 0;
    receivedSignal.compare_exchange_strong(none, number);
    if (pipeEnds[1] >= 0) {
        const char byte = static_cast<char>(number);
        (void)!write(pipeEnds[1], &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

bool installStopSignals() {
    if (pipeEnds[0] < 0 && pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // SIGINT one-shot (SA_RESETHAND), so a second Ctrl-C still ends a stuck
    // program. SIGTERM stays caught: senders such as timeout(1) deliver it to
    // the program and again to its process group at once, and the second must
    // not kill the end that is saving; a stuck program gets SIGKILL from them.
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    return sigaction(SIGINT, &action, nullptr) == 0;
}

int stopSignal() { return receivedSignal.load(std::memory_order_acquire); }

int stopSignalFd() { return pipeEnds[0]; }
