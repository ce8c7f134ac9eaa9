#pragma once
// Runs part of a test in a child process: to stop it dead at a chosen point
// (a kill) or to let it write only a limited number of bytes per file (a full
// disk). The child ends on its own after a time limit.
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct ChildEnd {
    bool killed = false;   // ended by a signal
    int code = -1;         // exit code or signal number
};

inline ChildEnd runInChild(const std::function<void()> &body, long fileSizeLimit = -1, unsigned limitSeconds = 60) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(limitSeconds);
        if (fileSizeLimit >= 0) {
            const rlimit r{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &r);
            std::signal(SIGXFSZ, SIG_IGN);   // a write past the limit fails instead
        }
        body();
        _exit(0);
    }
    ChildEnd end;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return end;
    end.killed = WIFSIGNALED(status);
    end.code = end.killed ? WTERMSIG(status) : WEXITSTATUS(status);
    return end;
}
