// The reply of an HTTP server as the download of the update service takes it
// (HttpGetToFile): the input is the raw reply, status line, header and body,
// that one loopback server gives for the address fetched (a redirect back to
// it gets the same reply again). Oracles: a download ends well only when the
// final status line (after 1xx interim replies) has a 2xx code of exactly
// three digits, and then the file holds the body as its framing gives it
// (Content-Length, chunks or up to the close), never more than the cap; a
// failed download leaves the earlier file as it was and is told in Russian,
// without a Latin word that came from the library rather than from the reply
// or the file's name; no scratch file stays behind.
#include "fuzz/Fuzz.h"

#include "platform/Http.h"
#include "tests/support/TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <climits>
#include <optional>

namespace {

constexpr qint64 kCap = 16 * 1024;
const QByteArray kEarlier("the file of the previous download\n");

TestHttpServer &server() {
    static TestHttpServer *s = [] {
        // A redirect elsewhere must not leave this machine: every other host
        // is reached through a proxy that refuses at once (loopback
        // addresses never go through one).
        for (const char *name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"})
            qputenv(name, "http://127.0.0.1:9");
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        return new TestHttpServer(INT_MAX);
    }();
    return *s;
}

struct Block {
    QByteArray statusLine;
    QList<std::pair<QByteArray, QByteArray>> fields;   // name in small letters, value trimmed
    qsizetype bodyAt = -1;                              // -1: the header never ends
};

// One header block from `at`: lines up to the first empty one (or one that
// begins with CR), each ended by LF with or without CR.
Block headerAt(const QByteArray &in, qsizetype at) {
    Block b;
    bool first = true;
    while (at < in.size()) {
        const qsizetype nl = in.indexOf('\n', at);
        if (nl < 0) return b;
        QByteArray line = in.mid(at, nl - at);
        const bool end = line.isEmpty() || line.startsWith('\r');   // as libcurl ends a header
        if (line.endsWith('\r')) line.chop(1);
        at = nl + 1;
        if (first) {
            b.statusLine = line;
            first = false;
            continue;
        }
        if (end) {
            b.bodyAt = at;
            return b;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) b.fields.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    return b;
}

int statusOf(const QByteArray &statusLine, bool *threeDigits) {
    // HTTP/1.0 or 1.1 (what the client asks for), one blank, three digits, then a blank or the line's end.
    static const QRegularExpression re(QStringLiteral("^HTTP/1\\.[01] ([0-9]{3})(?: |\\r?$)"));
    const auto m = re.match(QString::fromLatin1(statusLine));
    *threeDigits = m.hasMatch();
    return *threeDigits ? m.captured(1).toInt() : -1;
}

QList<QByteArray> values(const Block &b, const char *name) {
    QList<QByteArray> out;
    for (const auto &[n, v] : b.fields)
        if (n == name) out << v;
    return out;
}

// The body of strict chunks (size in hex, an optional extension, the data,
// CRLF), up to the last chunk; nothing when the chunks are not that plain.
std::optional<QByteArray> unchunked(const QByteArray &in, qsizetype at) {
    QByteArray out;
    while (true) {
        const qsizetype nl = in.indexOf("\r\n", at);
        if (nl < 0) return std::nullopt;
        QByteArray size = in.mid(at, nl - at);
        if (const qsizetype semi = size.indexOf(';'); semi >= 0) size.truncate(semi);
        bool ok = false;
        if (size.isEmpty() || size.size() > 8 || !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]+$"))
                                                      .match(QString::fromLatin1(size))
                                                      .hasMatch())
            return std::nullopt;
        const qint64 n = size.toLongLong(&ok, 16);
        if (!ok) return std::nullopt;
        if (n == 0) return out;
        if (nl + 2 + n + 2 > in.size() || in.mid(nl + 2 + n, 2) != "\r\n") return std::nullopt;
        out += in.mid(nl + 2, n);
        at = nl + 2 + n + 2;
    }
}

// What the file must hold after a download that ended well, when the reply
// says so plainly; nothing when its framing is one libcurl may read more
// leniently than this (several lengths, codings, damaged chunks).
std::optional<QByteArray> expectedBody(const QByteArray &in, const Block &b, int status) {
    if (status == 204 || status == 304) return std::nullopt;
    const QList<QByteArray> coding = values(b, "transfer-encoding");
    const QList<QByteArray> length = values(b, "content-length");
    const QByteArray body = in.mid(b.bodyAt);
    if (!coding.isEmpty()) {
        if (coding.size() != 1 || coding.first().toLower() != "chunked") return std::nullopt;
        return unchunked(in, b.bodyAt);
    }
    if (length.size() > 1) return std::nullopt;
    if (length.isEmpty()) return body;
    bool ok = false;
    const qint64 n = length.first().toLongLong(&ok);
    if (!ok || n < 0 || !QRegularExpression(QStringLiteral("^[0-9]+$")).match(QString::fromLatin1(length.first())).hasMatch())
        return std::nullopt;
    fuzz::check(n <= body.size(), "a reply shorter than its length is no download", QString::number(n));
    return body.left(n);
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(not readable)");
}

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::init();
    TestHttpServer &s = server();
    s.setRaw(QStringLiteral("/r"), input);
    const QString folder = fuzz::emptyFolder(QStringLiteral("download"));
    const QString file = folder + QStringLiteral("list.json");
    {
        QFile f(file);
        fuzz::check(f.open(QIODevice::WriteOnly) && f.write(kEarlier) == kEarlier.size(), "scratch file not written");
    }
    HttpOptions o;
    o.deadlineMs = 1500;
    o.idleMs = 1500;
    o.maxBytes = kCap;
    std::optional<QString> refusal;
    try {
        HttpGetToFile(s.base() + QStringLiteral("/r"), file, o);
    } catch (const AppError &e) {
        refusal = e.message();
    } catch (const std::exception &e) {
        fuzz::fail("the download let a failure through that is not told in Russian", QString::fromUtf8(e.what()));
    }
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    fuzz::check(left == QStringList{QStringLiteral("list.json")}, "the download leaves only its file",
                left.join(u','));
    const QByteArray held = readAll(file);

    if (refusal) {
        fuzz::check(held == kEarlier, "a failed download leaves the earlier file as it was", *refusal);
        static const QRegularExpression cyrillic(QStringLiteral("[А-Яа-яЁё]"));
        fuzz::check(refusal->contains(cyrillic), "a failed download is told in Russian", *refusal);
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2,}"));
        // The program's own texts name HTTP and the URL.
        const QString seen = QString::fromLatin1(input) + u' ' + file + QStringLiteral(" HTTP URL");
        for (auto it = latin.globalMatch(*refusal); it.hasNext();) {
            const QString word = it.next().captured();
            fuzz::check(seen.contains(word, Qt::CaseInsensitive), "a failure has no English word of the library",
                        *refusal);
        }
        return;
    }

    // Ended well: the final reply, after the interim ones, was a 2xx.
    qsizetype at = 0;
    Block b = headerAt(input, at);
    bool three = false;
    int status = statusOf(b.statusLine, &three);
    while (three && status >= 100 && status < 200 && b.bodyAt >= 0) {
        at = b.bodyAt;
        b = headerAt(input, at);
        status = statusOf(b.statusLine, &three);
    }
    fuzz::check(three && status >= 200 && status <= 299,
                "a download ends well only after a status line of three digits 2xx",
                QString::fromLatin1(b.statusLine.left(80)));
    fuzz::check(b.bodyAt >= 0, "a download ends well only after a whole header");
    fuzz::check(held.size() <= kCap, "a download never takes more than its cap", QString::number(held.size()));
    if (const auto body = expectedBody(input, b, status))
        fuzz::check(held == *body, "the file holds the reply's body",
                    QStringLiteral("%1 bytes held, %2 in the reply").arg(held.size()).arg(body->size()));
}
