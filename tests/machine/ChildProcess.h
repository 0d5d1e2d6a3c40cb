// Forked children for the file tests: permission cases run as the
// unprivileged user "nobody" even when the tests run as root (as CI does),
// and resource limits or a SIGKILL hit the child rather than the test.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace machinetest {

struct Nobody {
    uid_t uid = 65534;
    gid_t gid = 65534;
};

inline Nobody nobody() {
    Nobody who;
    if (const passwd* entry = getpwnam("nobody")) {
        who.uid = entry->pw_uid;
        who.gid = entry->pw_gid;
    }
    return who;
}

// Permission bits of a path (after links); ~0 when it cannot be looked at.
inline mode_t modeOf(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : static_cast<mode_t>(~0u);
}

// Gives a file or folder to nobody, so a child running as nobody owns it.
inline void giveToNobody(const std::string& path) {
    const Nobody who = nobody();
    if (geteuid() == 0)
        (void)chown(path.c_str(), who.uid, who.gid);
}

// Runs body in a forked child; the answer is what body returned (empty for
// success), or why the child could not run it. With asNobody a child that is
// root first becomes nobody.
inline std::string inChild(const std::function<std::string()>& body, bool asNobody = false) {
    const Nobody who = nobody();
    int answer[2];
    if (pipe(answer) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child < 0)
        return "no fork";
    if (child == 0) {
        close(answer[0]);
        std::string result;
        if (asNobody && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(who.gid) != 0 || setuid(who.uid) != 0))
            result = "cannot become nobody";
        else
            result = body();
        (void)!write(answer[1], result.data(), result.size());
        _exit(0);
    }
    close(answer[1]);
    std::string result;
    char buffer[256];
    for (ssize_t n; (n = read(answer[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            result.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(answer[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child ended abnormally: " + result;
    return result;
}

}  // namespace machinetest
