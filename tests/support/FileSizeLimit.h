#pragma once
// Runs a piece of work in a child process whose files may not grow past a
// size limit: to the program this is a disk that fills up in mid-write.
#include <QString>
#include <functional>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct LimitedRun {
    bool finished = false;   // the child ended normally (no crash, no signal)
    bool result = false;     // what the work returned
    QString message;         // the text the work set
};

inline LimitedRun runWithFileSizeLimit(long long limitBytes, const std::function<bool(QString &)> &work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        signal(SIGXFSZ, SIG_IGN);   // a write past the limit then fails with EFBIG
        rlimit lim{rlim_t(limitBytes), rlim_t(limitBytes)};
        setrlimit(RLIMIT_FSIZE, &lim);
        QString message;
        const bool ok = work(message);
        const QByteArray bytes = message.toUtf8();
        [[maybe_unused]] const auto n = write(fds[1], bytes.constData(), size_t(bytes.size()));
        close(fds[1]);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    QByteArray text;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    LimitedRun r;
    r.finished = WIFEXITED(status);
    r.result = r.finished && WEXITSTATUS(status) == 0;
    r.message = QString::fromUtf8(text);
    return r;
}
