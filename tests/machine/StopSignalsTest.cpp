// StopSignals: the first SIGINT or SIGTERM is recorded and announced on the
// pipe instead of ending the process; a second SIGINT ends it, a second
// SIGTERM (timeout(1) sends two at once) is announced again and no more.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "machine/StopSignals.h"

namespace {

TEST(StopSignals, FirstSignalAsksForTheOrdinaryEndASecondCtrlCEndsTheProcessASecondSigtermDoesNot) {
    const struct {
        int number;
        bool secondEnds;
    } cases[] = {{SIGINT, true}, {SIGTERM, false}};
    for (const auto [number, secondEnds] : cases) {
        int answer[2];
        ASSERT_EQ(pipe(answer), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // In a child: handlers and signals must not touch the test process.
            close(answer[0]);
            const char* verdict = "ok";
            char byte = 0;
            if (!installStopSignals() || stopSignal() != 0 || stopSignalFd() < 0)
                verdict = "not installed";
            else if (raise(number) != 0 || stopSignal() != number)
                verdict = "not recorded";
            else if (read(stopSignalFd(), &byte, 1) != 1 || byte != number)
                verdict = "not announced on the pipe";
            (void)!write(answer[1], verdict, std::char_traits<char>::length(verdict));
            close(answer[1]);
            raise(number);
            // Still alive: the handler was not one-shot. The repeat must
            // then have been announced and the first signal kept.
            _exit(read(stopSignalFd(), &byte, 1) == 1 && byte == number && stopSignal() == number ? 0 : 1);
        }
        close(answer[1]);
        char verdict[64] = {};
        (void)!read(answer[0], verdict, sizeof verdict - 1);
        close(answer[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_STREQ(verdict, "ok") << number;
        if (secondEnds)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << number << " status " << status;
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << number << " status " << status;
    }
}

}  // namespace
