// The network transport against a local server: bodies arrive whole or the earlier file stays, redirects are followed,
// slow servers end at the deadline while the caller's events keep running, bad addresses never leave the machine, and
// the JSON POST goes out byte for byte.
#include "platform/Codepage.h"
#include "platform/Http.h"
#include "support/Files.h"
#include "support/ChildProcess.h"
#include "support/TestHttpServer.h"

#include <QElapsedTimer>
#include <QMetaEnum>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString failure(const std::function<void()> &f) {
    try {
        f();
    } catch (const HttpError &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

void writeOld(const QString &path) { ASSERT_TRUE(cp1251::writeFile(path, "old")); }

HttpOptions quick() {
    HttpOptions o;
    o.deadlineMs = 1500;
    o.idleMs = 1000;
    return o;
}

} // namespace

TEST(HttpGet, WholeBodiesAreStoredAndEverythingElseKeepsTheEarlierFile) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    const QByteArray binary("PK\0\0\x01\x02zip\0end", 13);
    server.setOk("/a.zip", binary);
    server.setRaw("/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                              "5\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n");
    server.setRaw("/moved", "HTTP/1.1 301 Moved Permanently\r\nLocation: " + server.base().toUtf8()
                                + "/a.zip\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    server.setRaw("/loop", "HTTP/1.1 302 Found\r\nLocation: " + server.base().toUtf8()
                               + "/loop\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    server.setRaw("/nowhere", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    server.setRaw("/empty", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
    server.setRaw("/cut", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n0123456789");
    server.setRaw("/garbage", "hello\r\n\r\nworld");

    struct Case {
        const char *path;
        QByteArray body;   // stored body, or empty with an expected failure
        const char *failureStart;
    };
    const Case cases[] = {
        {"/a.zip", binary, nullptr},
        {"/chunked", "hello, world", nullptr},
        {"/moved", binary, nullptr},
        {"/empty", "", nullptr},
        {"/missing", {}, "Ошибка HTTP при загрузке файла: 404"},
        {"/cut", {}, "Ответ сервера получен не полностью"},
        {"/loop", {}, "Переадресация не выполнена: слишком много переадресаций"},
        {"/nowhere", {}, "Переадресация не выполнена: сервер не указал верный новый адрес (код 302)"},
        {"/garbage", {}, ""},
    };
    for (const Case &c : cases) {
        const QString file = dir.filePath("f");
        writeOld(file);
        const QString error = failure([&] { HttpGetToFile(server.base() + c.path, file, quick()); });
        if (!c.failureStart) {
            EXPECT_EQ(error, "<no error>") << c.path;
            EXPECT_EQ(fileBytes(file), c.body) << c.path;
        } else {
            EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.failureStart)) && error != "<no error>")
                << c.path << ": " << error.toStdString();
            EXPECT_EQ(fileBytes(file), "old") << c.path;
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"f"});   // no temporary leftovers

    // A body longer than the caller takes, declared or not, and a body the
    // disk does not take: said in Russian, the earlier file kept.
    server.setOk("/big", QByteArray(300000, 'x'));
    server.setRaw("/undeclared", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(300000, 'x'));
    for (const char *path : {"/big", "/undeclared"}) {
        HttpOptions small = quick();
        small.maxBytes = 1000;
        const QString file = dir.filePath("f");
        EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + path, file, small); }),
                  "Ответ сервера слишком велик: больше 1000 байт") << path;
        EXPECT_EQ(fileBytes(file), "old");
    }
    const LimitedRun full = runWithFileSizeLimit(1000, [&](QString &message) {
        message = failure([&] { HttpGetToFile(server.base() + "/big", dir.filePath("f"), quick()); });
        return true;
    });
    ASSERT_TRUE(full.finished);
    EXPECT_TRUE(full.message.startsWith("Не удалось записать файл ") &&
                full.message.endsWith(": превышен допустимый размер файла")) << full.message.toStdString();
    EXPECT_EQ(fileBytes(dir.filePath("f")), "old");
}

TEST(HttpGet, SlowServersEndAtTheDeadlineWhileTheCallerKeepsRunning) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    server.setOk("/slow", "late");
    server.setDelay("/slow", 10000);
    server.setOk("/kept", "body");
    server.setHold("/kept", 10000);   // whole body sent, connection left open

    int ticks = 0;
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { ++ticks; });
    painter.start(10);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/slow", dir.filePath("s"), quick()); }),
              "Сервер не ответил за отведённое время");
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_GT(ticks, 10) << "the caller's events ran during the wait";
    EXPECT_FALSE(QFile::exists(dir.filePath("s")));

    t.restart();
    EXPECT_TRUE(HttpGetToFile(server.base() + "/kept", dir.filePath("k"), quick()));
    EXPECT_EQ(fileBytes(dir.filePath("k")), "body");
    EXPECT_LT(t.elapsed(), 1500);

    // The progress callback cancels.
    server.setOk("/big", QByteArray(1 << 20, 'b'));
    HttpOptions cancel = quick();
    cancel.progress = [](qint64, qint64) { return false; };
    EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/big", dir.filePath("b"), cancel); }), "Загрузка отменена");
    EXPECT_FALSE(QFile::exists(dir.filePath("b")));
}

TEST(HttpGet, BadAddressesAndRefusedConnectionsSendNothing) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    server.setOk("/a", "a");
    const QString file = dir.filePath("f");
    for (const QString &url : {server.base() + "/a b", server.base() + "/a\r\nX-Injected: 1", server.base() + "/a\t",
                               QString("ftp://127.0.0.1/a"), QString("http:///a"), QString("127.0.0.1/a")}) {
        EXPECT_NE(failure([&] { HttpGetToFile(url, file, quick()); }), "<no error>") << url.toStdString();
        EXPECT_FALSE(QFile::exists(file));
    }
    // https against a plain server: the secure connection is not made.
    const QString https = QString("https://127.0.0.1:%1/a").arg(server.port());
    const QString tls = failure([&] { HttpGetToFile(https, file, quick()); });
    EXPECT_TRUE(tls.startsWith("Не удалось установить защищённое соединение с 127.0.0.1") ||
                tls == "Ответ сервера получен не полностью: соединение закрыто") << tls.toStdString();
    EXPECT_FALSE(QFile::exists(file));
    for (const QByteArray &r : server.requests()) EXPECT_TRUE(r.isEmpty() || r.startsWith('\x16')) << r.constData();

    QTcpServer probe;
    probe.listen(QHostAddress("127.0.0.1"), 0);
    const quint16 closed = probe.serverPort();
    probe.close();
    EXPECT_EQ(failure([&] { HttpGetToFile(QString("http://127.0.0.1:%1/x").arg(closed), file, quick()); }),
              "Не удалось подключиться к серверу: сервер отказал в соединении");
}

// Qt's reply texts are English: every failure the user may see is told in Russian.
TEST(HttpText, EveryNetworkErrorIsToldInRussian) {
    const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    ASSERT_GT(errors.keyCount(), 30);
    for (int i = 0; i < errors.keyCount(); ++i) {
        const QString text = NetworkErrorText(errors.value(i));
        SCOPED_TRACE(errors.key(i));
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QRegularExpression("[A-Za-z]"))) << text.toStdString();
        EXPECT_FALSE(text.startsWith(QStringLiteral("ошибка сети (код"))) << "not named: " << errors.key(i);
    }
    EXPECT_EQ(NetworkErrorText(9999), "ошибка сети (код 9999)");
}

TEST(HttpPost, JsonBodyAndHeadersGoToTheAddressPort) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    server.setOk("/rules/", "{}");
    const QString body = QString::fromUtf8("{\"lft\":\"Ж \\\"x\\\"\"}");
    HttpPostJson(server.base() + "/rules/", body, quick());
    ASSERT_EQ(server.requests().size(), 1);
    const QByteArray req = server.requests()[0];
    EXPECT_TRUE(req.startsWith("POST /rules/ HTTP/1.1\r\n")) << req.constData();
    EXPECT_TRUE(req.contains("Content-Type: application/json; charset=utf-8\r\n")) << req.constData();
    EXPECT_TRUE(req.endsWith("\r\n\r\n" + body.toUtf8()));

    EXPECT_EQ(failure([&] { HttpPostJson(server.base() + "/other/", "{}", quick()); }),
              "Сервер ответил ошибкой HTTP: 404");
}

TEST(HttpText, JsonEscapingAndUtf8) {
    EXPECT_EQ(JsonEscapeString(QString("a\tb/c") + QChar(1)), QString("a\\tb\\/c\\u0001"));
    EXPECT_EQ(JsonEscapeString(QString("\"\\") + QChar(8) + QChar(12) + "\n\r" + QChar(31)),
              QString("\\\"\\\\\\b\\f\\n\\r\\u001F"));
    EXPECT_EQ(JsonEscapeString("Ф30 ok"), "Ф30 ok");
}
