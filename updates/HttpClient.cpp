#include "updates/HttpClient.h"
#include "platform/Codepage.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

namespace {

int g_connectMs = 30000;
int g_idleMs = 120000;
quint16 g_postPort = 80;
qint64 g_maxReply = qint64(1) << 30;   // an endless reply must not exhaust memory

const QString kHttp = QStringLiteral("http://");
const QString kHttps = QStringLiteral("https://");

// Host and path of the text after the scheme.
void splitRest(const QString &url, http::UrlParts &p) {
    const QString rest = url.mid(kHttp.size());
    const int slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        p.host = rest;
        p.path = QStringLiteral("/");
    } else {
        p.host = rest.left(slash);
        p.path = rest.mid(slash);
    }
}

// First IPv4 address of the host, or a null address.
QHostAddress resolve(const QString &host) {
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol)
        return literal;
    if (host.isEmpty())
        return {};
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError)
        return {};
    for (const QHostAddress &a : info.addresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    return {};
}

// True when the reply holds its header block and a body of the length its
// Content-Length header announces.
bool replyComplete(const QByteArray &reply) {
    int end = reply.indexOf("\r\n\r\n");
    int skip = 4;
    if (end < 0) {
        end = reply.indexOf("\n\n");
        skip = 2;
    }
    if (end < 0)
        return false;
    const QByteArray head = reply.left(end).toLower();
    const int at = head.indexOf("\ncontent-length:");
    if (at < 0)
        return false;
    int i = at + 16;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
        ++i;
    int j = i;
    while (j < head.size() && head[j] >= '0' && head[j] <= '9')
        ++j;
    bool ok = false;
    const qint64 length = head.mid(i, j - i).toLongLong(&ok);
    return ok && reply.size() - end - skip >= length;
}

QString code(const QTcpSocket &s) { return QString::number(int(s.error())); }

// Writes every byte; false when the socket refuses.
bool sendAll(QTcpSocket &s, const QByteArray &data, int waitMs) {
    qint64 sent = 0;
    while (sent < data.size()) {
        const qint64 n = s.write(data.constData() + sent, data.size() - sent);
        if (n < 0)
            return false;
        sent += n;
    }
    while (s.bytesToWrite() > 0)
        if (!s.waitForBytesWritten(waitMs))
            return false;
    return true;
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

namespace http {

UrlParts splitGetUrl(const QString &url) {
    if (url.startsWith(kHttps))
        throw HttpError(QStringLiteral("HTTPS не поддерживается через Winsock. Используйте curl для HTTPS."));
    if (!url.startsWith(kHttp))
        throw HttpError(QStringLiteral("Неподдерживаемый формат URL. Ожидается http://"));
    UrlParts p;
    splitRest(url, p);
    const int colon = p.host.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        bool ok = false;
        const uint port = p.host.mid(colon + 1).toUInt(&ok);
        p.port = (ok && port > 0 && port < 65536) ? quint16(port) : 80;
        p.host = p.host.left(colon);
    }
    return p;
}

UrlParts splitPostUrl(const QString &url) {
    if (url.startsWith(kHttps))
        throw HttpError(QStringLiteral(
            "HTTPS не поддерживается через Winsock. Используйте SendHttpPost (curl) для HTTPS."));
    if (!url.startsWith(kHttp))
        throw HttpError(QStringLiteral("Неподдерживаемый протокол URL. Используйте http://"));
    UrlParts p;
    splitRest(url, p);
    return p;
}

int replyStatus(const QByteArray &reply) {
    const int h = reply.indexOf("HTTP/");
    if (h < 0)
        throw HttpError(QStringLiteral("Получен некорректный HTTP ответ"));
    int status = 0;
    for (int i = h + 9; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i)
        status = status * 10 + (reply[i] - '0');
    return status;
}

QByteArray replyBody(const QByteArray &reply) {
    int at = reply.indexOf("\r\n\r\n");
    if (at >= 0)
        return reply.mid(at + 4);
    at = reply.indexOf("\n\n");
    if (at >= 0)
        return reply.mid(at + 2);
    return reply;
}

void setGetTimeouts(int connectMs, int idleMs) {
    g_connectMs = connectMs;
    g_idleMs = idleMs;
}

QByteArray postRequest(const UrlParts &p, const QString &jsonBody) {
    const QByteArray body = AnsiToUtf8String(jsonBody);
    QByteArray req;
    req += "POST " + p.path.toUtf8() + " HTTP/1.1\r\n";
    req += "Host: " + p.host.toUtf8() + "\r\n";
    req += "Content-Type: application/json; charset=utf-8\r\n";
    req += "Accept: application/json\r\n";
    req += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    req += "Connection: close\r\n";
    req += "User-Agent: Kelvana/1.0\r\n";
    req += "\r\n";
    req += body;
    return req;
}

void setPostPort(quint16 port) { g_postPort = port; }

void setMaxReplySize(qint64 bytes) { g_maxReply = bytes; }

} // namespace http

void HttpPostJson(const QString &url, const QString &jsonBody) {
    const http::UrlParts p = http::splitPostUrl(url);
    const QHostAddress addr = resolve(p.host);
    if (addr.isNull())
        throw HttpError(QStringLiteral("Не удалось получить адрес хоста: ") + p.host);

    QTcpSocket s;
    s.connectToHost(addr, g_postPort);
    if (!s.waitForConnected(g_connectMs))
        throw HttpError(QStringLiteral("Не удалось подключиться к серверу. Код ошибки: ") + code(s));

    const QByteArray req = http::postRequest(p, jsonBody);
    if (!sendAll(s, req, g_connectMs))
        throw HttpError(QStringLiteral("Ошибка при отправке данных. Код ошибки: ") + code(s));

    // The reply is not examined; a short wait lets the server take the body.
    if (s.waitForReadyRead(500))
        s.read(255);
    s.disconnectFromHost();
    if (s.state() != QAbstractSocket::UnconnectedState)
        s.waitForDisconnected(500);
}

bool HttpGetToFile(const QString &url, const QString &fileName) {
    const http::UrlParts p = http::splitGetUrl(url);
    const QHostAddress addr = resolve(p.host);
    if (addr.isNull())
        throw HttpError(QStringLiteral("Не удалось разрешить имя хоста: ") + p.host);

    QTcpSocket s;
    s.connectToHost(addr, p.port);
    if (!s.waitForConnected(g_connectMs))
        throw HttpError(QStringLiteral("Не удалось подключиться к серверу. Код ошибки: ") + code(s));

    QByteArray req;
    req += "GET " + p.path.toUtf8() + " HTTP/1.1\r\n";
    req += "Host: " + p.host.toUtf8() + "\r\n";
    req += "Connection: close\r\n";
    req += "\r\n";
    if (!sendAll(s, req, g_connectMs))
        throw HttpError(QStringLiteral("Ошибка при отправке запроса. Код ошибки: ") + code(s));

    QByteArray reply;
    char buf[4095];
    for (;;) {
        // A server that keeps the connection open after the whole body
        // (despite "Connection: close") is not waited for.
        if (replyComplete(reply))
            break;
        if (s.bytesAvailable() == 0) {
            if (s.state() != QAbstractSocket::ConnectedState)
                break;
            if (!s.waitForReadyRead(g_idleMs)) {
                if (s.error() == QAbstractSocket::SocketTimeoutError
                    && s.state() == QAbstractSocket::ConnectedState)
                    throw HttpError(QStringLiteral("Сервер не ответил за отведённое время"));
                if (s.bytesAvailable() == 0)
                    break;
            }
        }
        const qint64 n = s.read(buf, sizeof buf);
        if (n <= 0)
            break;
        reply.append(buf, int(n));
        if (reply.size() > g_maxReply)
            throw HttpError(QStringLiteral("Ответ сервера превышает допустимый размер"));
    }
    reply += s.readAll();
    if (reply.size() > g_maxReply)
        throw HttpError(QStringLiteral("Ответ сервера превышает допустимый размер"));

    const int status = http::replyStatus(reply);
    if (status < 200 || status > 299)
        throw HttpError(QStringLiteral("Ошибка HTTP при загрузке файла: ") + QString::number(status));
    const QByteArray body = http::replyBody(reply);

    // Written whole or not at all: a failed write leaves no partial file.
    QString why;
    if (!cp1251::writeFile(fileName, body, &why))
        throw HttpError(QStringLiteral("Не удалось записать файл %1: %2").arg(fileName, why));
    return true;
}
