#pragma once
// The program's only network code: a small blocking HTTP/1.1 client for
// plain http:// addresses, and the text helpers that build JSON bodies.
//
//   HttpPostJson  - sends one JSON POST; the reply is not examined.
//   HttpGetToFile - fetches an address and stores the reply body in a file.
//
// Both run on the calling thread and return when the exchange is over. Every
// failure raises HttpError, whose message is a ready Russian text.
#include <QByteArray>
#include <QString>
#include <stdexcept>

class HttpError : public std::runtime_error {
public:
    explicit HttpError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }
private:
    QString m_message;
};

// UTF-8 bytes of a text (empty text gives empty bytes).
QByteArray AnsiToUtf8String(const QString &text);

// The text escaped for the inside of a JSON string literal, without quotes:
// " \ / and the control characters are escaped, everything else is kept.
QString JsonEscapeString(const QString &text);

// Sends one POST with the body as UTF-8 JSON to port 80 of the host and
// waits up to 500 ms for the first reply bytes. Throws HttpError.
void HttpPostJson(const QString &url, const QString &jsonBody);

// Fetches the address (port after a colon in the host, 80 otherwise) and
// writes the reply body byte for byte into the file, replacing it. Throws
// HttpError on any failure, including a status outside 200-299; returns true.
bool HttpGetToFile(const QString &url, const QString &fileName);

namespace http {

// How an address is taken apart (by position only).
struct UrlParts {
    QString host;   // without the port for GET
    QString path;   // starts with "/"
    quint16 port = 80;
};

// Splits a GET address; throws HttpError with the GET texts on a wrong scheme.
UrlParts splitGetUrl(const QString &url);
// Splits a POST address (the host keeps any ":port"; port is always 80).
UrlParts splitPostUrl(const QString &url);

// Status code of a raw reply and its body; throw HttpError as HttpGetToFile does.
int replyStatus(const QByteArray &reply);
QByteArray replyBody(const QByteArray &reply);

// Inactivity limits of the GET (milliseconds): the connect and each wait for
// more bytes. The server normally closes the connection long before.
void setGetTimeouts(int connectMs, int idleMs);

// Largest reply (headers and body) the GET keeps in memory; 1 GiB by default.
void setMaxReplySize(qint64 bytes);

// The POST's request text for an address and a body.
QByteArray postRequest(const UrlParts &parts, const QString &jsonBody);
// Port the POST connects to (80; tests point it at a local server).
void setPostPort(quint16 port);

} // namespace http
