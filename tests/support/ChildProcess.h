#pragma once
// Runs part of a test in a child process: to stop it dead at a chosen point (a kill) or to let it write only a limited
// number of bytes per file (a full disk). The child ends on its own after a time limit.
#include <QByteArray>
#include <QString>

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
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return end;
    end.killed = WIFSIGNALED(status);
    end.code = end.killed ? WTERMSIG(status) : WEXITSTATUS(status);
    return end;
}

struct LimitedRun {
    bool finished = false;   // the child ended normally (no crash, no signal)
    bool result = false;     // what the work returned
    QString message;         // the text the work set
};

// The work in a child whose files may not grow past limitBytes: to the program a disk that fills up in mid-write. The
// work's text comes back through a pipe (a short message: the parent reads it after the child ends).
inline LimitedRun runWithFileSizeLimit(long long limitBytes, const std::function<bool(QString &)> &work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const ChildEnd end = runInChild([&] {
            close(fds[0]);
            QString message;
            const bool ok = work(message);
            const QByteArray bytes = message.toUtf8();
            [[maybe_unused]] const auto n = write(fds[1], bytes.constData(), size_t(bytes.size()));
            close(fds[1]);
            _exit(ok ? 0 : 1);
        },
        long(limitBytes));
    close(fds[1]);
    QByteArray text;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    close(fds[0]);
    LimitedRun r;
    r.finished = !end.killed && end.code >= 0;
    r.result = r.finished && end.code == 0;
    r.message = QString::fromUtf8(text);
    return r;
}
