#include "platform/Http.h"
#include "platform/Errors.h"

#include "platform/Codepage.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <cerrno>
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

QString failureText(const QNetworkReply &reply, const QString &host) {
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Не удалось разрешить имя хоста: ") + host;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return QStringLiteral("Не удалось подключиться к серверу: ") + NetworkErrorText(reply.error());
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("Не удалось установить защищённое соединение с ") + host
               + QStringLiteral(": сертификат сервера не принят");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("Переадресация не выполнена: слишком много переадресаций (") + host + QLatin1Char(')');
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("Переадресация не выполнена: сервер ") + host
               + QStringLiteral(" переадресует на незащищённый адрес");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Ответ сервера получен не полностью: соединение закрыто");
    default:
        return QStringLiteral("Ошибка сети: ") + NetworkErrorText(reply.error());
    }
}

// One request, waited for in a local event loop. `sink` takes the body as it
// arrives and returns an error text to stop. Returns the final status code.
int exchange(const QString &address, const QByteArray *postBody, const HttpOptions &opt,
             const std::function<QString(const QByteArray &)> &sink) {
    const QUrl url = parseUrl(address);
    QNetworkAccessManager nam;
    if (isLoopback(url.host()))
        nam.setProxy(QNetworkProxy::NoProxy);
    else
        QNetworkProxyFactory::setUseSystemConfiguration(true);

    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setMaximumRedirectsAllowed(kMaxRedirects);
    // The body is kept as sent, so its length can be checked against the header.
    req.setRawHeader("Accept-Encoding", "identity");
    if (postBody) {
        req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json; charset=utf-8"));
        req.setRawHeader("Accept", "application/json");
        req.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Kelvana/1.0"));
    }

    std::unique_ptr<QNetworkReply> reply(postBody ? nam.post(req, *postBody) : nam.get(req));
    QEventLoop loop;
    QTimer deadline, idle, poll;
    deadline.setSingleShot(true);
    idle.setSingleShot(true);
    QString stopped;   // why the exchange was aborted by this side
    qint64 received = 0, expected = -1;
    const auto stop = [&](const QString &why) {
        if (stopped.isEmpty())
            stopped = why;
        reply->abort();
    };
    QObject::connect(&deadline, &QTimer::timeout, &loop,
                     [&] { stop(QStringLiteral("Сервер не ответил за отведённое время")); });
    QObject::connect(&idle, &QTimer::timeout, &loop,
                     [&] { stop(QStringLiteral("Сервер не ответил за отведённое время")); });
    // The body goes to the sink as it arrives; the reply holds little of it.
    reply->setReadBufferSize(256 * 1024);
    const QString tooLarge = QStringLiteral("Ответ сервера слишком велик: больше %1 байт").arg(opt.maxBytes);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        idle.start(opt.idleMs);
        const QByteArray chunk = reply->readAll();
        received += chunk.size();
        if (opt.maxBytes > 0 && received > opt.maxBytes) {
            stop(tooLarge);
            return;
        }
        const QString error = sink(chunk);
        if (!error.isEmpty())
            stop(error);
    });
    const auto ask = [&] {
        if (opt.progress && stopped.isEmpty() && !opt.progress(received, expected))
            stop(QStringLiteral("Загрузка отменена"));
    };
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64, qint64 total) {
        idle.start(opt.idleMs);
        expected = total;
        if (opt.maxBytes > 0 && total > opt.maxBytes)
            stop(tooLarge);
        ask();
    });
    // Asked also while nothing arrives, so a waiting user can cancel.
    QObject::connect(&poll, &QTimer::timeout, &loop, ask);
    if (opt.progress)
        poll.start(200);
    QObject::connect(reply.get(), &QNetworkReply::uploadProgress, &loop,
                     [&](qint64, qint64) { idle.start(opt.idleMs); });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(opt.deadlineMs);
    idle.start(opt.idleMs);
    if (!reply->isFinished())
        loop.exec();

    if (!stopped.isEmpty())
        throw HttpError(stopped);
    const QByteArray rest = reply->readAll();
    if (!rest.isEmpty()) {
        received += rest.size();
        if (opt.maxBytes > 0 && received > opt.maxBytes)
            throw HttpError(tooLarge);
        const QString error = sink(rest);
        if (!error.isEmpty())
            throw HttpError(error);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A failed redirect carries the 3xx status of the answer it could not follow.
    if (status >= 300 && status <= 399) {
        if (reply->error() == QNetworkReply::TooManyRedirectsError
            || reply->error() == QNetworkReply::InsecureRedirectError)
            throw HttpError(failureText(*reply, url.host()));
        throw HttpError(
            QStringLiteral("Переадресация не выполнена: сервер не указал верный новый адрес (код %1)").arg(status));
    }
    if (reply->error() != QNetworkReply::NoError && status == 0)
        throw HttpError(failureText(*reply, url.host()));
    if (status < 200 || status > 299)
        throw HttpError((postBody ? QStringLiteral("Сервер ответил ошибкой HTTP: ")
                                  : QStringLiteral("Ошибка HTTP при загрузке файла: "))
                        + QString::number(status));
    if (reply->error() != QNetworkReply::NoError)
        throw HttpError(failureText(*reply, url.host()));
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && received != length.toLongLong())
        throw HttpError(QStringLiteral("Ответ сервера получен не полностью: получено %1 байт из %2")
                            .arg(received)
                            .arg(length.toLongLong()));
    return status;
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
