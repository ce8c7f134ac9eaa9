#pragma once
// The program's network client, on libcurl, and the text helpers that build
// JSON bodies. The requests are exactly these lines (libcurl adds none):
//   GET <path> HTTP/1.1 / Host: <host> / Connection: close
//   POST <path> HTTP/1.1 / Host: <host[:port]> / Content-Type: application/json;
//     charset=utf-8 / Accept: application/json / Content-Length: <n> /
//     Connection: close / User-Agent: Kelvana/1.0, then the UTF-8 body.
//
//   HttpGetToFile - fetches an address into a file: the file is replaced only
//                   when the whole body arrived (a failed download leaves the
//                   previous file as it was). Follows redirects that do not
//                   lower the security of the scheme, decodes chunked bodies.
//   HttpPostJson  - sends one JSON POST, once: never sent again, whatever the
//                   server does; waits at most half a second for the first
//                   bytes of the reply and reads none of it.
//
// Both accept http:// and https:// addresses, written in small letters (the
// server's certificate checked), take the proxy of the environment (http_proxy, https_proxy,
// no_proxy; loopback addresses go direct): a plain request goes to it in
// absolute form, an https one through a tunnel (CONNECT). Each request has a
// connection of its own, never reused, so nothing is sent twice. They end
// within a deadline and after a pause without data. While they wait, the
// calling thread's events run, so windows keep painting. Every failure
// raises HttpError with a ready Russian text.
#include "platform/Errors.h"
#include <QByteArray>
#include <QString>
#include <functional>
#include <stdexcept>

class HttpError : public AppError {
public:
    using AppError::AppError;
};

// Called while a body arrives (total -1 when unknown); false cancels.
using HttpProgress = std::function<bool(qint64 received, qint64 total)>;

struct HttpOptions {
    int deadlineMs = 10 * 60 * 1000;   // the whole exchange, its redirects included
    int idleMs = 60 * 1000;            // longest pause without a byte
    HttpProgress progress;
    qint64 maxBytes = 0;               // longest body taken (0: no limit)
};

// The Russian text of a network failure, by libcurl's CURLcode (libcurl's
// own text is English and never reaches the user).
QString CurlErrorText(int curlCode);

// UTF-8 bytes of a text (empty text gives empty bytes).
QByteArray AnsiToUtf8String(const QString &text);

// The text escaped for the inside of a JSON string literal, without quotes:
// " \ / and the control characters are escaped, everything else is kept.
QString JsonEscapeString(const QString &text);

// Throws HttpError; returns true.
bool HttpGetToFile(const QString &url, const QString &fileName, const HttpOptions &options = {});

// Sent to the address's own port. Throws HttpError when it cannot be sent;
// the reply, whatever it says, is no failure.
void HttpPostJson(const QString &url, const QString &jsonBody, const HttpOptions &options = {});
