#include "platform/Http.h"
#include "platform/Errors.h"

#include "platform/Codepage.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kMaxRedirects = 10;
// The reply of a POST is not read: after the request went out, this long a
// wait for its first bytes, then the connection ends.
constexpr int kPostReplyMs = 500;

QString lateText() { return QStringLiteral("Сервер не ответил за отведённое время"); }
QString badReplyText() { return QStringLiteral("Получен некорректный HTTP ответ"); }

// A status line as HTTP/1.x writes it: the version, a blank, three digits, then
// a blank and the reason or nothing. libcurl takes more (any line beginning
// with "HTTP/" in any case counts as 200), which must not pass for a download.
bool plainStatusLine(const QByteArray &line) {
    QByteArray l = line;
    if (l.endsWith('\n')) l.chop(1);
    if (l.endsWith('\r')) l.chop(1);
    if (l.size() < 12 || !(l.startsWith("HTTP/1.1 ") || l.startsWith("HTTP/1.0 "))) return false;
    for (int i = 9; i < 12; ++i)
        if (l[i] < '0' || l[i] > '9') return false;
    return l.size() == 12 || l[12] == ' ';
}

// The address with its control characters shown as codes, for messages.
QString visible(const QString &url) {
    QString out;
    for (const QChar c : url)
        out += c.unicode() < 32 || c.unicode() == 127 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                                      : QString(c);
    return out;
}

// The address checked: http:// or https:// as written (small letters), a host,
// no blank or control character anywhere.
QUrl parseUrl(const QString &text, bool post) {
    for (const QChar c : text)
        if (c.isSpace() || c.unicode() < 32 || c.unicode() == 127)
            throw HttpError(QStringLiteral("Недопустимый адрес (пробел или управляющий символ): ") + visible(text));
    const QUrl url(text, QUrl::StrictMode);
    if (!(text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://"))) || !url.isValid()
        || url.host().isEmpty())
        throw HttpError(post ? QStringLiteral("Неподдерживаемый протокол URL. Используйте http://")
                             : QStringLiteral("Неподдерживаемый формат URL. Ожидается http://"));
    return url;
}

// This machine's own addresses (the host as QUrl gives it: an IPv6 address
// compressed, without brackets).
bool isLoopback(const QString &host) {
    static const QRegularExpression ipv4(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1")
           || ipv4.match(host).hasMatch();
}

// The reason of a failed connection, send or receive, by the system's code.
QString socketReason(long err, CURLcode code) {
    switch (err) {
    case ECONNREFUSED: return QStringLiteral("сервер отказал в соединении");
    case ECONNRESET:
    case EPIPE: return QStringLiteral("сервер закрыл соединение");
    case ETIMEDOUT: return QStringLiteral("истекло время ожидания соединения");
    case ENETUNREACH:
    case ENETDOWN: return QStringLiteral("сеть недоступна");
    case EHOSTUNREACH: return QStringLiteral("сервер недоступен");
    default: return CurlErrorText(code);
    }
}

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Reply {
    long status = 0;
    QString location;   // where a redirect points, absolute; empty without one
};

using Sink = std::function<QString(const QByteArray &)>;

// One request on its own connection through libcurl, driven from a local
// event loop (the calling thread's events run meanwhile): the request lines
// exactly as written, sent once; for a GET the body of a reply 200-299 goes to
// the sink as it arrives, any other reply ends at its headers with its status
// and redirect address; a POST waits briefly for the first bytes of the reply
// and reads nothing of it. Throws HttpError.
class Transfer {
public:
    Transfer(const QUrl &url, const QByteArray *postBody, const HttpOptions &opt, int deadlineMs, const Sink &sink)
        : m_url(url), m_post(postBody), m_opt(opt), m_deadlineMs(deadlineMs), m_sink(sink) {}

    ~Transfer() {
        if (m_multi && m_easy)
            curl_multi_remove_handle(m_multi, m_easy);
        if (m_easy)
            curl_easy_cleanup(m_easy);
        if (m_multi)
            curl_multi_cleanup(m_multi);
        curl_slist_free_all(m_headers);
    }

    Reply run() {
        initCurl();
        m_multi = curl_multi_init();
        m_easy = curl_easy_init();
        if (!m_multi || !m_easy)
            throw HttpError(QStringLiteral("Не удалось выполнить запрос: ") + CurlErrorText(CURLE_FAILED_INIT));
        configure();

        QEventLoop loop;
        m_loop = &loop;
        QTimer curlTimer, deadline, idle, poll;
        curlTimer.setSingleShot(true);
        deadline.setSingleShot(true);
        idle.setSingleShot(true);
        m_curlTimer = &curlTimer;
        m_idle = &idle;
        // libcurl may call back while its handles are cleaned up, after this.
        const std::unique_ptr<Transfer, void (*)(Transfer *)> forget(this, [](Transfer *t) {
            t->m_loop = nullptr;
            t->m_curlTimer = nullptr;
            t->m_idle = nullptr;
        });
        QObject::connect(&curlTimer, &QTimer::timeout, &loop, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
        QObject::connect(&deadline, &QTimer::timeout, &loop, [this] { fail(lateText()); });
        // A POST whose request went out ends well when its reply is late.
        QObject::connect(&idle, &QTimer::timeout, &loop, [this] { m_sent ? finish() : fail(lateText()); });
        QObject::connect(&poll, &QTimer::timeout, &loop, [this] { report(); });
        if (m_opt.progress)
            poll.start(200);
        deadline.start(std::max(1, m_deadlineMs));
        idle.start(m_opt.idleMs);

        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &Transfer::onSocket);
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &Transfer::onTimer);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK)
            throw HttpError(QStringLiteral("Не удалось выполнить запрос: ") + CurlErrorText(CURLE_FAILED_INIT));
        if (!m_finished)
            loop.exec();
        curl_multi_remove_handle(m_multi, m_easy);
        m_watches.clear();
        m_retired.clear();
        if (!m_error.isEmpty())
            throw HttpError(m_error);
        return m_reply;
    }

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read, write;
    };

    void add(const QByteArray &line) { m_headers = curl_slist_append(m_headers, line.constData()); }

    void configure() {
        const bool secure = m_url.scheme() == QLatin1String("https");
        const QString host = m_url.host();
        QByteArray hostName = QUrl::toAce(host);
        if (hostName.isEmpty())
            hostName = host.toLatin1();
        if (host.contains(QLatin1Char(':')))   // an IPv6 address
            hostName = '[' + hostName + ']';
        QUrl target = m_url;
        target.setFragment(QString());
        const QByteArray address = target.toEncoded();
        curl_easy_setopt(m_easy, CURLOPT_URL, address.constData());
        curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(m_easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        // One connection per request, never reused: libcurl sends a request
        // again only on a connection it reused.
        curl_easy_setopt(m_easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(m_easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // The proxy of the environment (http_proxy, https_proxy, no_proxy):
        // plain requests in absolute form, https through CONNECT. This
        // machine's own addresses are never reached through a proxy.
        if (isLoopback(host))
            curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
        curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);

        // The request lines, exactly these: libcurl's own ones are taken out.
        if (!m_post) {
            curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
            add("Host: " + hostName);
            add("Connection: close");
        } else {
            curl_easy_setopt(m_easy, CURLOPT_POST, 1L);
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_post->constData());
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_post->size()));
            // The host as the address writes it, its port included.
            add("Host: " + (m_url.port() >= 0 ? hostName + ':' + QByteArray::number(m_url.port()) : hostName));
            add("Content-Type: application/json; charset=utf-8");
            add("Accept: application/json");
            add("Content-Length: " + QByteArray::number(m_post->size()));
            add("Connection: close");
            add("User-Agent: Kelvana/1.0");
            add("Expect:");
        }
        add("Accept:");
        add("Proxy-Connection:");
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
        m_secure = secure;
        m_host = host;
    }

    // libcurl's calls: they only note what happened and never run the
    // caller's code, which may run events and so reach libcurl again.
    static size_t onHeader(char *data, size_t size, size_t count, void *self) {
        return static_cast<Transfer *>(self)->header(QByteArray::fromRawData(data, qsizetype(size * count)));
    }
    static size_t onBody(char *data, size_t size, size_t count, void *self) {
        return static_cast<Transfer *>(self)->body(QByteArray::fromRawData(data, qsizetype(size * count)));
    }
    static int onProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
        auto *t = static_cast<Transfer *>(self);
        if (uploaded != t->m_uploaded)
            t->m_activity = true;
        t->m_uploaded = uploaded;
        return 0;
    }
    static int onSocket(CURL *, curl_socket_t s, int what, void *self, void *) {
        static_cast<Transfer *>(self)->watch(s, what);
        return 0;
    }
    static int onTimer(CURLM *, long ms, void *self) {
        auto *t = static_cast<Transfer *>(self);
        if (!t->m_curlTimer)
            return 0;
        if (ms < 0)
            t->m_curlTimer->stop();
        else
            t->m_curlTimer->start(int(std::min<long>(ms, 24L * 3600 * 1000)));
        return 0;
    }

    size_t header(const QByteArray &line) {
        m_activity = true;
        if (m_post) {
            m_answered = true;   // the reply came: it is not read
            return 0;
        }
        if (m_headed)
            return line.size();   // the trailer of a chunked body
        if (m_atStatusLine) {   // each reply (an interim one too) begins with its status line
            m_statusLine = QByteArray(line.constData(), line.size());   // libcurl's buffer is reused
            m_atStatusLine = false;
        }
        // libcurl ends a header at a line that begins with CR or LF, whatever follows.
        if (!line.startsWith('\r') && !line.startsWith('\n')) {
            if (line.size() > 9 && qstrnicmp(line.constData(), "location:", 9) == 0 && m_location.isEmpty())
                m_location = line.mid(9).trimmed();
            return line.size();
        }
        m_atStatusLine = true;
        if (!plainStatusLine(m_statusLine)) {
            m_error = badReplyText();
            return 0;
        }
        long status = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200) {   // an interim reply (100 Continue): the real one follows
            m_location.clear();
            return line.size();
        }
        m_headed = true;
        m_reply.status = status;
        if (status >= 300 && status <= 399 && !m_location.isEmpty())
            m_reply.location = m_url.resolved(QUrl::fromEncoded(m_location)).toString(QUrl::FullyEncoded);
        if (status > 299) {
            m_stoppedAtHead = true;   // its body is not taken
            return 0;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        m_expected = length;
        if (m_opt.maxBytes > 0 && length > m_opt.maxBytes) {
            m_error = tooLarge();
            return 0;
        }
        return line.size();
    }

    size_t body(const QByteArray &data) {
        m_activity = true;
        if (m_post)
            return 0;
        m_received += data.size();
        if (m_opt.maxBytes > 0 && m_received > m_opt.maxBytes) {
            m_error = tooLarge();
            return 0;
        }
        const QString error = m_sink(data);
        if (!error.isEmpty()) {
            m_error = error;
            return 0;
        }
        return data.size();
    }

    void watch(curl_socket_t s, int what) {
        if (what == CURL_POLL_REMOVE) {
            const auto it = m_watches.find(s);
            if (it == m_watches.end())
                return;
            // Kept until the exchange ends: the signal being delivered may be its own.
            for (std::unique_ptr<QSocketNotifier> *n : {&it->second.read, &it->second.write})
                if (*n) {
                    (*n)->setEnabled(false);
                    m_retired.push_back(std::move(*n));
                }
            m_watches.erase(it);
            return;
        }
        Watch &w = m_watches[s];
        const auto notifier = [&](std::unique_ptr<QSocketNotifier> &n, QSocketNotifier::Type type, int mask) {
            if (!n) {
                n = std::make_unique<QSocketNotifier>(qintptr(s), type);
                QObject::connect(n.get(), &QSocketNotifier::activated, m_loop, [this, s, mask] { act(s, mask); });
            }
        };
        notifier(w.read, QSocketNotifier::Read, CURL_CSELECT_IN);
        notifier(w.write, QSocketNotifier::Write, CURL_CSELECT_OUT);
        w.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        w.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    }

    // libcurl's turn on a socket or its timer, then what came of it.
    void act(curl_socket_t s, int mask) {
        if (m_finished)
            return;
        int running = 0;
        curl_multi_socket_action(m_multi, s, mask, &running);
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(m_multi, &left))
            if (msg->msg == CURLMSG_DONE)
                done(msg->data.result);
        if (m_finished)
            return;
        if (m_activity) {
            m_activity = false;
            if (!m_sent)
                m_idle->start(m_opt.idleMs);
        }
        if (m_post && !m_sent && requestSent()) {
            m_sent = true;
            m_idle->start(kPostReplyMs);
        }
        if (m_received != m_reported)
            report();
    }

    bool requestSent() const {
        long requestSize = 0;
        curl_easy_getinfo(m_easy, CURLINFO_REQUEST_SIZE, &requestSize);
        return requestSize > 0 && m_uploaded >= m_post->size();
    }

    // The caller's progress callback, outside libcurl's calls.
    void report() {
        if (!m_opt.progress || m_finished || m_reporting)
            return;
        m_reporting = true;
        m_reported = m_received;
        const bool go = m_opt.progress(m_received, m_expected);
        m_reporting = false;
        if (!go)
            fail(QStringLiteral("Загрузка отменена"));
    }

    void finish() {
        m_finished = true;
        if (m_loop)
            m_loop->quit();
    }
    void fail(const QString &why) {
        if (m_error.isEmpty())
            m_error = why;
        finish();
    }

    void done(CURLcode code) {
        if (m_post) {
            // Once the request went out, nothing of the reply is examined.
            if (code == CURLE_OK || m_answered || m_sent || requestSent() || code == CURLE_GOT_NOTHING)
                return finish();
            return fail(failureText(code));
        }
        if (!m_error.isEmpty() || m_stoppedAtHead)
            return finish();
        // libcurl ends well when the server closes inside the header: no reply came whole.
        if (code == CURLE_OK && !m_headed)
            return fail(QStringLiteral("Ответ сервера получен не полностью: соединение закрыто"));
        if (code == CURLE_OK) {
            curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_reply.status);
            report();   // the whole body: the caller may still refuse it
            return finish();
        }
        fail(failureText(code));
    }

    QString tooLarge() const {
        return QStringLiteral("Ответ сервера слишком велик: больше %1 байт").arg(m_opt.maxBytes);
    }

    // The Russian text of a failed exchange, by what libcurl says and how far
    // the exchange came.
    QString failureText(CURLcode code) const {
        long osError = 0, tunnel = 0;
        curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
        curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &tunnel);
        curl_off_t secured = 0;
        curl_easy_getinfo(m_easy, CURLINFO_APPCONNECT_TIME_T, &secured);
        const QString connectFailure = QStringLiteral("Не удалось подключиться к серверу: ");
        switch (code) {
        case CURLE_OPERATION_TIMEDOUT: return lateText();
        case CURLE_COULDNT_RESOLVE_HOST:
            return (m_post ? QStringLiteral("Не удалось получить адрес хоста: ")
                           : QStringLiteral("Не удалось разрешить имя хоста: "))
                   + m_host;
        case CURLE_COULDNT_RESOLVE_PROXY: return connectFailure + CurlErrorText(code);
        case CURLE_COULDNT_CONNECT: return connectFailure + socketReason(osError, code);
        default: break;
        }
        // The proxy refused the tunnel.
        if (tunnel >= 300)
            return connectFailure
                   + (tunnel == 407 ? QStringLiteral("прокси-сервер требует авторизации")
                                    : QStringLiteral("прокси-сервер отказал в соединении (код %1)").arg(tunnel));
        if (m_secure && secured == 0 && code != CURLE_OUT_OF_MEMORY)
            return QStringLiteral("Не удалось установить защищённое соединение с ") + m_host + QStringLiteral(": ")
                   + (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING
                          ? socketReason(osError, CURLE_SSL_CONNECT_ERROR)
                          : CurlErrorText(code));
        if (code == CURLE_SEND_ERROR)
            return (m_post ? QStringLiteral("Ошибка при отправке данных: ")
                           : QStringLiteral("Ошибка при отправке запроса: "))
                   + socketReason(osError, code);
        const QString cut = QStringLiteral("Ответ сервера получен не полностью: ");
        if (code == CURLE_PARTIAL_FILE)
            return cut + (m_expected >= 0 ? QStringLiteral("получено %1 байт из %2").arg(m_received).arg(m_expected)
                                          : QStringLiteral("соединение закрыто"));
        if (code == CURLE_RECV_ERROR && osError != 0)
            return cut + socketReason(osError, code);
        if (code == CURLE_GOT_NOTHING || code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL
            || code == CURLE_RECV_ERROR || code == CURLE_BAD_CONTENT_ENCODING)
            return badReplyText();
        return QStringLiteral("Не удалось выполнить запрос: ") + CurlErrorText(code);
    }

    QUrl m_url;
    const QByteArray *m_post;
    const HttpOptions &m_opt;
    int m_deadlineMs;
    Sink m_sink;
    QString m_host;
    bool m_secure = false;
    CURLM *m_multi = nullptr;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    QEventLoop *m_loop = nullptr;
    QTimer *m_curlTimer = nullptr, *m_idle = nullptr;
    std::map<curl_socket_t, Watch> m_watches;
    std::vector<std::unique_ptr<QSocketNotifier>> m_retired;
    bool m_finished = false, m_activity = false, m_sent = false, m_answered = false,
         m_stoppedAtHead = false, m_reporting = false, m_atStatusLine = true, m_headed = false;
    curl_off_t m_uploaded = 0;
    qint64 m_received = 0, m_reported = 0, m_expected = -1;
    QByteArray m_location, m_statusLine;
    QString m_error;
    Reply m_reply;
};

// The exchange with its redirects (at most kMaxRedirects, never from https
// to http), all within the one deadline, from an address parseUrl accepted.
// A GET whose final status is not 200-299 throws. Redirects are followed
// here rather than by libcurl: each hop is a request of its own with exactly
// the request lines above (libcurl writes a Host line of its own after a
// move to another host), and each refusal is told in its own words.
void exchange(QUrl url, const QByteArray *postBody, const HttpOptions &opt, const Sink &sink) {
    QElapsedTimer clock;
    clock.start();
    for (int redirects = 0;; ++redirects) {
        const int left = int(std::max<qint64>(1, opt.deadlineMs - clock.elapsed()));
        const Reply reply = Transfer(url, postBody, opt, left, sink).run();
        if (postBody)
            return;   // the reply is not read
        if (reply.status >= 300 && reply.status <= 399) {
            const QUrl next(reply.location, QUrl::StrictMode);
            if (!next.isValid() || (next.scheme() != QLatin1String("http") && next.scheme() != QLatin1String("https")))
                throw HttpError(
                    QStringLiteral("Переадресация не выполнена: сервер не указал верный новый адрес (код %1)")
                        .arg(reply.status));
            if (redirects >= kMaxRedirects)
                throw HttpError(QStringLiteral("Переадресация не выполнена: слишком много переадресаций (") + url.host()
                                + QLatin1Char(')'));
            if (url.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https"))
                throw HttpError(QStringLiteral("Переадресация не выполнена: сервер ") + url.host()
                                + QStringLiteral(" переадресует на незащищённый адрес"));
            url = parseUrl(next.toString(QUrl::FullyEncoded), false);
            continue;
        }
        if (reply.status < 200 || reply.status > 299)
            throw HttpError(QStringLiteral("Ошибка HTTP при загрузке файла: ") + QString::number(reply.status));
        return;
    }
}

} // namespace

QString CurlErrorText(int code) {
    switch (CURLcode(code)) {
    case CURLE_OK: return QStringLiteral("ошибки нет");
    case CURLE_UNSUPPORTED_PROTOCOL: return QStringLiteral("неподдерживаемый протокол");
    case CURLE_FAILED_INIT: return QStringLiteral("не удалось начать обмен");
    case CURLE_URL_MALFORMAT: return QStringLiteral("неверный адрес");
    case CURLE_NOT_BUILT_IN: return QStringLiteral("возможность не встроена в сетевую библиотеку");
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("прокси-сервер не найден");
    case CURLE_COULDNT_RESOLVE_HOST: return QStringLiteral("сервер не найден");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("соединение не установлено");
    case CURLE_WEIRD_SERVER_REPLY: return QStringLiteral("некорректный ответ сервера");
    case CURLE_REMOTE_ACCESS_DENIED: return QStringLiteral("доступ запрещён");
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3: return QStringLiteral("нарушение протокола");
    case CURLE_PARTIAL_FILE: return QStringLiteral("ответ получен не полностью");
    case CURLE_HTTP_RETURNED_ERROR: return QStringLiteral("сервер вернул ошибку");
    case CURLE_WRITE_ERROR: return QStringLiteral("не удалось записать полученные данные");
    case CURLE_UPLOAD_FAILED:
    case CURLE_HTTP_POST_ERROR:
    case CURLE_SEND_FAIL_REWIND: return QStringLiteral("не удалось отправить данные");
    case CURLE_READ_ERROR: return QStringLiteral("не удалось прочитать отправляемые данные");
    case CURLE_OUT_OF_MEMORY: return QStringLiteral("недостаточно памяти");
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("истекло время ожидания");
    case CURLE_RANGE_ERROR:
    case CURLE_BAD_DOWNLOAD_RESUME: return QStringLiteral("сервер не продолжил загрузку");
    case CURLE_SSL_CONNECT_ERROR: return QStringLiteral("сбой согласования защищённого соединения");
    case CURLE_ABORTED_BY_CALLBACK: return QStringLiteral("операция прервана");
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_SETOPT_OPTION_SYNTAX: return QStringLiteral("неверный параметр запроса");
    case CURLE_INTERFACE_FAILED: return QStringLiteral("не удалось выбрать сетевой интерфейс");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("слишком много переадресаций");
    case CURLE_GOT_NOTHING: return QStringLiteral("сервер закрыл соединение, не ответив");
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED: return QStringLiteral("сбой библиотеки шифрования");
    case CURLE_SEND_ERROR: return QStringLiteral("не удалось отправить данные");
    case CURLE_RECV_ERROR: return QStringLiteral("не удалось получить данные");
    case CURLE_SSL_CERTPROBLEM: return QStringLiteral("сертификат этого компьютера не принят");
    case CURLE_SSL_CIPHER: return QStringLiteral("не удалось согласовать шифрование");
    case CURLE_PEER_FAILED_VERIFICATION: return QStringLiteral("сертификат сервера не принят");
    case CURLE_BAD_CONTENT_ENCODING: return QStringLiteral("неизвестное сжатие ответа");
    case CURLE_FILESIZE_EXCEEDED: return QStringLiteral("ответ сервера слишком велик");
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR: return QStringLiteral("сервер требует авторизации");
    case CURLE_SSL_CACERT_BADFILE: return QStringLiteral("не удалось прочитать корневые сертификаты");
    case CURLE_SSL_SHUTDOWN_FAILED: return QStringLiteral("защищённое соединение закрыто с ошибкой");
    case CURLE_AGAIN: return QStringLiteral("соединение не готово");
    case CURLE_SSL_CRL_BADFILE: return QStringLiteral("не удалось прочитать список отозванных сертификатов");
    case CURLE_SSL_ISSUER_ERROR: return QStringLiteral("издатель сертификата сервера не принят");
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return QStringLiteral("ключ сервера не тот, что ожидался");
    case CURLE_SSL_INVALIDCERTSTATUS: return QStringLiteral("состояние сертификата сервера не подтверждено");
    case CURLE_RECURSIVE_API_CALL: return QStringLiteral("недопустимый повторный вызов сетевой библиотеки");
    case CURLE_QUIC_CONNECT_ERROR: return QStringLiteral("соединение не установлено");
    case CURLE_PROXY: return QStringLiteral("прокси-сервер отказал в соединении");
    case CURLE_SSL_CLIENTCERT: return QStringLiteral("сервер требует сертификат этого компьютера");
    case CURLE_UNRECOVERABLE_POLL: return QStringLiteral("сбой ожидания сетевых событий");
    default: break;
    }
    return QStringLiteral("ошибка сети (код %1)").arg(code);
}

QByteArray AnsiToUtf8String(const QString &text) {
    if (text.isEmpty())
        return {};
    return text.toUtf8();
}

QString JsonEscapeString(const QString &text) {
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const ushort u = c.unicode();
        switch (u) {
        case 34: out += QStringLiteral("\\\""); break;
        case 92: out += QStringLiteral("\\\\"); break;
        case 47: out += QStringLiteral("\\/"); break;
        case 8: out += QStringLiteral("\\b"); break;
        case 9: out += QStringLiteral("\\t"); break;
        case 10: out += QStringLiteral("\\n"); break;
        case 12: out += QStringLiteral("\\f"); break;
        case 13: out += QStringLiteral("\\r"); break;
        default:
            if (u < 32)
                out += QStringLiteral("\\u") + QStringLiteral("%1").arg(u, 4, 16, QLatin1Char('0')).toUpper();
            else
                out += c;
        }
    }
    return out;
}

bool HttpGetToFile(const QString &url, const QString &fileName, const HttpOptions &options) {
    const QUrl address = parseUrl(url, false);   // a wrong address never creates the file
    QSaveFile file(fileName);
    // Unbuffered: a chunk the disk refuses fails at its write, not in a later
    // flush whose result the commit may not look at.
    errno = QFileInfo(fileName).isDir() ? EISDIR : 0;   // Qt refuses a folder before the system says why
    if (errno == EISDIR || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw HttpError(QStringLiteral("Не удалось создать файл ") + fileName + QStringLiteral(": ")
                        + cp1251::systemReason(errno));
    const auto write = [&](const QByteArray &chunk) -> QString {
        errno = 0;
        if (file.write(chunk) != chunk.size())
            return QStringLiteral("Не удалось записать файл ") + fileName + QStringLiteral(": ")
                   + cp1251::systemReason(errno);
        return {};
    };
    try {
        exchange(address, nullptr, options, write);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    errno = 0;
    if (!file.commit())
        throw HttpError(QStringLiteral("Не удалось записать файл ") + fileName + QStringLiteral(": ")
                        + cp1251::systemReason(errno));
    return true;
}

void HttpPostJson(const QString &url, const QString &jsonBody, const HttpOptions &options) {
    const QUrl address = parseUrl(url, true);
    const QByteArray body = AnsiToUtf8String(jsonBody);
    exchange(address, &body, options, [](const QByteArray &) { return QString(); });
}
