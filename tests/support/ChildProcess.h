#pragma once
// Runs part of a test in a child process: to stop it dead at a chosen point (a kill) or to let it write only a limited
// number of bytes per file (a full disk). The child ends on its own after a time limit.
#include <QByteArray>
#include <QString>

#include <csignal>
#include <cstdio>
#include <functional>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// In a child: the file permissions hold for this process as for an ordinary user even when the tests run as root (a
// file without read rights cannot be read, a read-only folder not written). Root's rights to pass them are dropped.
inline bool dropFileRights() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}
