#include "platform/Http.h"
#include "platform/Errors.h"

#include "platform/Codepage.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslSocket>
#include <QTcpSocket>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <algorithm>
#include <memory>

namespace {

constexpr int kMaxRedirects = 10;

// The address with its control characters shown as codes, for messages.
QString visible(const QString &url) {
    QString out;
    for (const QChar c : url)
        out += c.unicode() < 32 || c.unicode() == 127 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                                      : QString(c);
    return out;
}

QUrl parseUrl(const QString &text) {
    for (const QChar c : text)
        if (c.isSpace() || c.unicode() < 32 || c.unicode() == 127)
            throw HttpError(QStringLiteral("Недопустимый адрес (пробел или управляющий символ): ") + visible(text));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty())
        throw HttpError(QStringLiteral("Неподдерживаемый формат адреса: ") + text
                        + QStringLiteral(". Ожидается http:// или https://"));
    return url;
}

bool isLoopback(const QString &host) {
    const QHostAddress a(host);
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || (!a.isNull() && a.isLoopback());
}

} // namespace

QString NetworkErrorText(int networkError) {
    using E = QNetworkReply;
    switch (QNetworkReply::NetworkError(networkError)) {
    case E::NoError: return QStringLiteral("ошибки нет");
    case E::ConnectionRefusedError: return QStringLiteral("сервер отказал в соединении");
    case E::RemoteHostClosedError: return QStringLiteral("сервер закрыл соединение");
    case E::HostNotFoundError: return QStringLiteral("сервер не найден");
    case E::TimeoutError: return QStringLiteral("истекло время ожидания соединения");
    case E::OperationCanceledError: return QStringLiteral("операция прервана");
    case E::SslHandshakeFailedError: return QStringLiteral("не удалось установить защищённое соединение");
    case E::TemporaryNetworkFailureError: return QStringLiteral("временный сбой сети");
    case E::NetworkSessionFailedError: return QStringLiteral("сеть недоступна");
    case E::BackgroundRequestNotAllowedError: return QStringLiteral("фоновые запросы запрещены");
    case E::TooManyRedirectsError: return QStringLiteral("слишком много переадресаций");
    case E::InsecureRedirectError: return QStringLiteral("переадресация на незащищённый адрес");
    case E::UnknownNetworkError: return QStringLiteral("неизвестная ошибка сети");
    case E::ProxyConnectionRefusedError: return QStringLiteral("прокси-сервер отказал в соединении");
    case E::ProxyConnectionClosedError: return QStringLiteral("прокси-сервер закрыл соединение");
    case E::ProxyNotFoundError: return QStringLiteral("прокси-сервер не найден");
    case E::ProxyTimeoutError: return QStringLiteral("прокси-сервер не ответил вовремя");
    case E::ProxyAuthenticationRequiredError: return QStringLiteral("прокси-сервер требует авторизации");
    case E::UnknownProxyError: return QStringLiteral("неизвестная ошибка прокси-сервера");
    case E::ContentAccessDenied: return QStringLiteral("доступ запрещён");
    case E::ContentOperationNotPermittedError: return QStringLiteral("операция не разрешена сервером");
    case E::ContentNotFoundError: return QStringLiteral("файл на сервере не найден");
    case E::AuthenticationRequiredError: return QStringLiteral("сервер требует авторизации");
    case E::ContentReSendError: return QStringLiteral("запрос не удалось отправить повторно");
    case E::ContentConflictError: return QStringLiteral("конфликт с состоянием файла на сервере");
    case E::ContentGoneError: return QStringLiteral("файл удалён с сервера");
    case E::UnknownContentError: return QStringLiteral("неизвестная ошибка содержимого");
    case E::ProtocolUnknownError: return QStringLiteral("неизвестный протокол");
    case E::ProtocolInvalidOperationError: return QStringLiteral("недопустимая операция протокола");
    case E::ProtocolFailure: return QStringLiteral("нарушение протокола");
    case E::InternalServerError: return QStringLiteral("внутренняя ошибка сервера");
    case E::OperationNotImplementedError: return QStringLiteral("операция не поддерживается сервером");
    case E::ServiceUnavailableError: return QStringLiteral("сервер временно недоступен");
    case E::UnknownServerError: return QStringLiteral("неизвестная ошибка сервера");
    }
    return QStringLiteral("ошибка сети (код %1)").arg(networkError);
}

namespace {

// The Russian text of a socket failure (the socket's own text is English).
QString socketErrorText(QAbstractSocket::SocketError e) {
    using S = QAbstractSocket;
    switch (e) {
    case S::ConnectionRefusedError: return NetworkErrorText(QNetworkReply::ConnectionRefusedError);
    case S::RemoteHostClosedError: return NetworkErrorText(QNetworkReply::RemoteHostClosedError);
    case S::HostNotFoundError: return NetworkErrorText(QNetworkReply::HostNotFoundError);
    case S::SocketTimeoutError: return NetworkErrorText(QNetworkReply::TimeoutError);
    case S::NetworkError: return QStringLiteral("сеть недоступна");
    case S::ProxyConnectionRefusedError: return NetworkErrorText(QNetworkReply::ProxyConnectionRefusedError);
    case S::ProxyConnectionClosedError: return NetworkErrorText(QNetworkReply::ProxyConnectionClosedError);
    case S::ProxyNotFoundError: return NetworkErrorText(QNetworkReply::ProxyNotFoundError);
    case S::ProxyConnectionTimeoutError: return NetworkErrorText(QNetworkReply::ProxyTimeoutError);
    case S::ProxyAuthenticationRequiredError: return NetworkErrorText(QNetworkReply::ProxyAuthenticationRequiredError);
    case S::SslHandshakeFailedError: return QStringLiteral("сертификат сервера не принят");
    default: return QStringLiteral("ошибка соединения (код %1)").arg(int(e));
    }
}

// The body of a reply, decoded from chunks when the server sends it so.
// feed() takes the bytes after the header block; false when the chunk frame
// is broken. done() when the last chunk came.
class ChunkDecoder {
public:
    bool feed(const QByteArray &bytes, QByteArray &out) {
        m_pending += bytes;
        while (!m_done) {
            if (m_left > 0) {
                const qsizetype n = std::min<qsizetype>(m_left, m_pending.size());
                out += m_pending.left(n);
                m_pending.remove(0, n);
                m_left -= n;
                if (m_left > 0)
                    return true;
                m_afterData = true;
            }
            const qsizetype eol = m_pending.indexOf("\r\n");
            if (eol < 0)
                return m_pending.size() < 4096;
            const QByteArray line = m_pending.left(eol);
            m_pending.remove(0, eol + 2);
            if (m_afterData) {   // the line end after a chunk's data
                m_afterData = false;
                if (!line.isEmpty())
                    return false;
                continue;
            }
            if (m_trailer) {
                if (line.isEmpty())
                    m_done = true;
                continue;
            }
            bool ok = false;
            const qsizetype extension = line.indexOf(';');
            const qint64 size = (extension < 0 ? line : line.left(extension)).trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0)
                return false;
            if (size == 0)
                m_trailer = true;
            else
                m_left = size;
        }
        return true;
    }
    bool done() const { return m_done; }

private:
    QByteArray m_pending;
    qint64 m_left = 0;
    bool m_afterData = false, m_trailer = false, m_done = false;
};

struct Reply {
    int status = 0;
    QByteArray location;
};

// One request on its own connection, waited for in a local event loop: the
// request exactly as written, sent once; for a GET the reply's body goes to
// the sink as it arrives (only with a status 200-299) and the status comes
// back; a POST waits briefly for the first bytes of the reply and reads
// nothing of it. Throws HttpError.
class Exchange {
public:
    Exchange(const QUrl &url, const QByteArray *postBody, const HttpOptions &opt,
             const std::function<QString(const QByteArray &)> &sink)
        : m_url(url), m_post(postBody), m_opt(opt), m_sink(sink) {}

    Reply run() {
        const bool secure = m_url.scheme() == QLatin1String("https");
        const QString host = m_url.host();
        const quint16 port = quint16(m_url.port(secure ? 443 : 80));
        std::unique_ptr<QTcpSocket> socket;
        if (secure) {
            if (!QSslSocket::supportsSsl())
                throw HttpError(QStringLiteral("Не удалось установить защищённое соединение с ") + host
                                + QStringLiteral(": библиотека шифрования не установлена"));
            socket = std::make_unique<QSslSocket>();
        } else {
            socket = std::make_unique<QTcpSocket>();
        }
        m_socket = socket.get();
        // The system's proxy for the address, reached through a tunnel.
        QNetworkProxy proxy(QNetworkProxy::NoProxy);
        if (!isLoopback(host)) {
            proxy = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(m_url)).value(0, proxy);
            if (proxy.type() == QNetworkProxy::HttpCachingProxy)
                proxy.setType(QNetworkProxy::HttpProxy);
            if (proxy.type() == QNetworkProxy::DefaultProxy || proxy.type() == QNetworkProxy::FtpCachingProxy)
                proxy = QNetworkProxy(QNetworkProxy::NoProxy);
        }
        socket->setProxy(proxy);
        socket->setReadBufferSize(256 * 1024);

        QEventLoop loop;
        m_loop = &loop;
        QTimer deadline, idle, poll;
        deadline.setSingleShot(true);
        idle.setSingleShot(true);
        const QString late = QStringLiteral("Сервер не ответил за отведённое время");
        QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { stop(late); });
        QObject::connect(&idle, &QTimer::timeout, &loop, [&] { stop(m_sent && m_post ? QString() : late); });
        m_idle = &idle;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] { ask(); });
        if (m_opt.progress)
            poll.start(200);

        const auto connected = [&] {
            m_connected = true;
            idle.start(m_opt.idleMs);
            const QByteArray request = requestText(host);
            if (socket->write(request) != request.size())
                return fail(sendFailure(socketErrorText(socket->error())));
        };
        QObject::connect(socket.get(), &QTcpSocket::connected, &loop, [&] {
            m_tcp = true;
            if (!secure)
                connected();
        });
        if (secure) {
            auto *ssl = static_cast<QSslSocket *>(socket.get());
            QObject::connect(ssl, &QSslSocket::encrypted, &loop, connected);
            ssl->connectToHostEncrypted(host, port);
        } else {
            socket->connectToHost(host, port);
        }
        QObject::connect(socket.get(), &QTcpSocket::bytesWritten, &loop, [&](qint64) {
            idle.start(m_opt.idleMs);
            if (m_connected && !m_sent && socket->bytesToWrite() == 0) {
                m_sent = true;
                // The reply of a POST is not read: a short wait for its first
                // bytes, then the connection ends.
                if (m_post)
                    idle.start(kPostReceiveMs);
            }
        });
        // Drained in a loop: a progress callback that runs the events reads
        // more into the socket's buffer without a new signal.
        QObject::connect(socket.get(), &QTcpSocket::readyRead, &loop, [&] {
            while (!m_finished && socket->bytesAvailable() > 0)
                take(socket->readAll());
        });
        QObject::connect(socket.get(), &QTcpSocket::errorOccurred, &loop,
                         [&](QAbstractSocket::SocketError e) { socketFailed(e, host, secure); });
        QObject::connect(socket.get(), &QTcpSocket::disconnected, &loop, [&] { closed(); });
        deadline.start(m_opt.deadlineMs);
        idle.start(m_opt.idleMs);
        if (!m_finished)
            loop.exec();
        m_loop = nullptr;
        socket->disconnect();
        socket->abort();
        if (!m_error.isEmpty())
            throw HttpError(m_error);
        return m_reply;
    }

private:
    static constexpr int kPostReceiveMs = 500;

    QByteArray requestText(const QString &host) const {
        QByteArray path = m_url.path(QUrl::FullyEncoded).toLatin1();
        if (path.isEmpty())
            path = "/";
        if (m_url.hasQuery())
            path += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
        const QByteArray hostName = QUrl::toAce(host).isEmpty() ? host.toLatin1() : QUrl::toAce(host);
        if (!m_post)
            return "GET " + path + " HTTP/1.1\r\nHost: " + hostName + "\r\nConnection: close\r\n\r\n";
        // The host as the address writes it, its port included.
        const QByteArray hostLine = m_url.port() >= 0 ? hostName + ':' + QByteArray::number(m_url.port()) : hostName;
        return "POST " + path + " HTTP/1.1\r\nHost: " + hostLine
               + "\r\nContent-Type: application/json; charset=utf-8\r\nAccept: application/json\r\nContent-Length: "
               + QByteArray::number(m_post->size()) + "\r\nConnection: close\r\nUser-Agent: Kelvana/1.0\r\n\r\n"
               + *m_post;
    }

    QString sendFailure(const QString &reason) const {
        return (m_post ? QStringLiteral("Ошибка при отправке данных: ") : QStringLiteral("Ошибка при отправке запроса: "))
               + reason;
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
    // Ends the exchange; with a reason it failed.
    void stop(const QString &why) {
        if (why.isEmpty())
            finish();
        else
            fail(why);
    }

    void ask() {
        if (m_opt.progress && !m_finished && !m_opt.progress(m_received, m_expected))
            fail(QStringLiteral("Загрузка отменена"));
    }

    void socketFailed(QAbstractSocket::SocketError e, const QString &host, bool secure) {
        if (m_finished)
            return;
        if (e == QAbstractSocket::RemoteHostClosedError && m_connected) {
            closed();
            return;
        }
        if (!m_connected && secure && (m_tcp || e == QAbstractSocket::SslHandshakeFailedError))
            return fail(QStringLiteral("Не удалось установить защищённое соединение с ") + host + QStringLiteral(": ")
                        + socketErrorText(e));
        if (e == QAbstractSocket::HostNotFoundError)
            return fail((m_post ? QStringLiteral("Не удалось получить адрес хоста: ")
                                : QStringLiteral("Не удалось разрешить имя хоста: "))
                        + host);
        if (m_connected)
            return fail(m_sent ? QStringLiteral("Ответ сервера получен не полностью: ") + socketErrorText(e)
                               : sendFailure(socketErrorText(e)));
        fail(QStringLiteral("Не удалось подключиться к серверу: ") + socketErrorText(e));
    }

    // The bytes of the reply as they arrive.
    void take(const QByteArray &bytes) {
        if (m_finished || bytes.isEmpty())
            return;
        m_idle->start(m_opt.idleMs);
        if (m_post)
            return finish();   // the reply came: it is not read
        if (!m_headed) {
            m_head += bytes;
            qsizetype end = m_head.indexOf("\r\n\r\n");
            qsizetype skip = 4;
            if (end < 0) {
                end = m_head.indexOf("\n\n");
                skip = 2;
            }
            if (end < 0) {
                if (m_head.size() > 64 * 1024)
                    fail(QStringLiteral("Получен некорректный HTTP ответ"));
                return;
            }
            const QByteArray head = m_head.left(end);
            const QByteArray rest = m_head.mid(end + skip);
            m_head.clear();
            if (!readHead(head))
                return;
            m_headed = true;
            if (m_reply.status < 200 || m_reply.status > 299)
                return finish();   // its body is not taken
            if (m_expected == 0 && !m_chunked)
                return finish();
            body(rest);
            return;
        }
        body(bytes);
    }

    bool readHead(const QByteArray &head) {
        const qsizetype h = head.indexOf("HTTP/");
        if (h < 0) {
            fail(QStringLiteral("Получен некорректный HTTP ответ"));
            return false;
        }
        for (qsizetype i = h + 9; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i)
            m_reply.status = m_reply.status * 10 + (head[i] - '0');
        for (const QByteArray &raw : head.mid(h).split('\n').mid(1)) {
            const QByteArray line = raw.trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                bool ok = false;
                const qint64 n = value.toLongLong(&ok);
                if (ok && n >= 0)
                    m_expected = n;
            } else if (name == "transfer-encoding" && value.toLower().contains("chunked")) {
                m_chunked = true;
            } else if (name == "location") {
                m_reply.location = value;
            }
        }
        if (m_chunked)
            m_expected = -1;
        if (m_reply.status >= 200 && m_reply.status <= 299 && m_opt.maxBytes > 0 && m_expected > m_opt.maxBytes) {
            fail(tooLarge());
            return false;
        }
        return true;
    }

    QString tooLarge() const { return QStringLiteral("Ответ сервера слишком велик: больше %1 байт").arg(m_opt.maxBytes); }

    void body(const QByteArray &bytes) {
        QByteArray data;
        if (m_chunked) {
            if (!m_chunks.feed(bytes, data))
                return fail(QStringLiteral("Получен некорректный HTTP ответ"));
        } else {
            data = bytes;
        }
        if (m_expected >= 0 && m_received + data.size() > m_expected)
            data.truncate(m_expected - m_received);
        m_received += data.size();
        if (m_opt.maxBytes > 0 && m_received > m_opt.maxBytes)
            return fail(tooLarge());
        if (!data.isEmpty()) {
            const QString error = m_sink(data);
            if (!error.isEmpty())
                return fail(error);
        }
        ask();
        if ((m_chunked && m_chunks.done()) || (m_expected >= 0 && m_received >= m_expected))
            finish();
    }

    // The server closed the connection.
    void closed() {
        if (m_finished)
            return;
        if (!m_connected)
            return;   // the socket's error says why
        while (!m_finished && m_socket->bytesAvailable() > 0)
            take(m_socket->readAll());
        if (m_finished)
            return;
        if (m_post)
            return finish();
        if (!m_headed) {
            if (m_head.indexOf("HTTP/") < 0)
                return fail(QStringLiteral("Получен некорректный HTTP ответ"));
            return fail(QStringLiteral("Ответ сервера получен не полностью: соединение закрыто"));
        }
        if (m_chunked && !m_chunks.done())
            return fail(QStringLiteral("Ответ сервера получен не полностью: соединение закрыто"));
        if (m_expected >= 0 && m_received < m_expected)
            return fail(QStringLiteral("Ответ сервера получен не полностью: получено %1 байт из %2")
                            .arg(m_received)
                            .arg(m_expected));
        finish();
    }

    QUrl m_url;
    const QByteArray *m_post;
    const HttpOptions &m_opt;
    std::function<QString(const QByteArray &)> m_sink;
    QTcpSocket *m_socket = nullptr;
    QEventLoop *m_loop = nullptr;
    QTimer *m_idle = nullptr;
    bool m_tcp = false, m_connected = false, m_sent = false, m_headed = false, m_finished = false, m_chunked = false;
    QByteArray m_head;
    ChunkDecoder m_chunks;
    qint64 m_received = 0, m_expected = -1;
    QString m_error;
    Reply m_reply;
};

// The exchange with its redirects (at most kMaxRedirects, never from https
// to http). Returns the final status, 200-299; any other throws.
int exchange(const QString &address, const QByteArray *postBody, const HttpOptions &opt,
             const std::function<QString(const QByteArray &)> &sink) {
    QUrl url = parseUrl(address);
    for (int redirects = 0;; ++redirects) {
        const Reply reply = Exchange(url, postBody, opt, sink).run();
        if (postBody)
            return reply.status;   // not read
        if (reply.status >= 300 && reply.status <= 399) {
            if (reply.location.isEmpty())
                throw HttpError(QStringLiteral("Переадресация не выполнена: сервер не указал верный новый адрес (код %1)")
                                    .arg(reply.status));
            if (redirects >= kMaxRedirects)
                throw HttpError(QStringLiteral("Переадресация не выполнена: слишком много переадресаций (") + url.host()
                                + QLatin1Char(')'));
            const QUrl next = url.resolved(QUrl::fromEncoded(reply.location));
            if (url.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https"))
                throw HttpError(QStringLiteral("Переадресация не выполнена: сервер ") + url.host()
                                + QStringLiteral(" переадресует на незащищённый адрес"));
            url = parseUrl(next.toString(QUrl::FullyEncoded));
            continue;
        }
        if (reply.status < 200 || reply.status > 299)
            throw HttpError(QStringLiteral("Ошибка HTTP при загрузке файла: ") + QString::number(reply.status));
        return reply.status;
    }
}

} // namespace

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
    parseUrl(url);   // a wrong address never creates the file
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
        exchange(url, nullptr, options, write);
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
    const QByteArray body = AnsiToUtf8String(jsonBody);
    exchange(url, &body, options, [](const QByteArray &) { return QString(); });
}
