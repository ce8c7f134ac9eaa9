#include "TestHttpServer.h"
#include "updates/HttpClient.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString messageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const HttpError &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(HttpUrl, HostPathAndPortAreTakenByPosition) {
    EXPECT_EQ(http::splitGetUrl("http://example.org").path, "/");
    EXPECT_EQ(http::splitGetUrl("http://example.org/").path, "/");
    const auto p = http::splitGetUrl("http://example.org:8080/a/b.json?x=1");
    EXPECT_EQ(p.host, "example.org");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/a/b.json?x=1");
    EXPECT_EQ(http::splitGetUrl("http://example.org:abc/").port, 80);
    EXPECT_EQ(http::splitGetUrl("http://example.org/").port, 80);
    // The POST keeps the port in the host and always uses 80.
    const auto post = http::splitPostUrl("http://example.org:8080/api");
    EXPECT_EQ(post.host, "example.org:8080");
    EXPECT_EQ(post.port, 80);
}

TEST(HttpUrl, WrongSchemesAreRefusedWithTheirOwnTexts) {
    EXPECT_EQ(messageOf([] { http::splitGetUrl("https://x/"); }),
              "HTTPS не поддерживается через Winsock. Используйте curl для HTTPS.");
    EXPECT_EQ(messageOf([] { http::splitPostUrl("https://x/"); }),
              "HTTPS не поддерживается через Winsock. Используйте SendHttpPost (curl) для HTTPS.");
    EXPECT_EQ(messageOf([] { http::splitGetUrl("HTTP://x/"); }), "Неподдерживаемый формат URL. Ожидается http://");
    EXPECT_EQ(messageOf([] { http::splitPostUrl("ftp://x/"); }), "Неподдерживаемый протокол URL. Используйте http://");
}

TEST(HttpText, JsonEscapingAndUtf8) {
    EXPECT_EQ(JsonEscapeString(QString("a\tb/c") + QChar(1)), QString("a\\tb\\/c\\u0001"));
    EXPECT_EQ(JsonEscapeString(QString("\"\\") + QChar(8) + QChar(12) + "\n\r" + QChar(31)),
              QString("\\\"\\\\\\b\\f\\n\\r\\u001F"));
    EXPECT_EQ(JsonEscapeString("Ф30 ok"), "Ф30 ok");
    EXPECT_EQ(AnsiToUtf8String(""), QByteArray());
    EXPECT_EQ(AnsiToUtf8String("Ж").size(), 2);
}

TEST(HttpReply, StatusAndBodyOfRawReplies) {
    EXPECT_EQ(http::replyStatus("garbage HTTP/1.1 204 No Content\r\n\r\n"), 204);
    EXPECT_EQ(http::replyStatus("HTTP/1.1 xyz"), 0);
    EXPECT_EQ(messageOf([] { http::replyStatus("no status here"); }), "Получен некорректный HTTP ответ");
    EXPECT_EQ(http::replyBody("HTTP/1.1 200 OK\nA: b\n\nbody"), "body");
    EXPECT_EQ(http::replyBody("HTTP/1.1 200 OK\r\n\r\nx\n\ny"), "x\n\ny");
    EXPECT_EQ(http::replyBody("HTTP/1.1 200 OK"), "HTTP/1.1 200 OK");
}

TEST(HttpGet, StoresBodiesByteForByteAndReportsStatus) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    QByteArray binary("PK\0\0\x01\x02zip\0end", 13);
    server.setOk("/a.zip", binary);
    server.setRaw("/empty", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
    server.setRaw("/lf", "HTTP/1.0 200 OK\nX: y\n\nline1\r\nline2");

    const QString file = dir.filePath("a.zip");
    EXPECT_TRUE(HttpGetToFile(server.base() + "/a.zip", file));
    EXPECT_EQ(readAll(file), binary);

    EXPECT_TRUE(HttpGetToFile(server.base() + "/empty", dir.filePath("e")));
    EXPECT_EQ(readAll(dir.filePath("e")), QByteArray());

    EXPECT_TRUE(HttpGetToFile(server.base() + "/lf", dir.filePath("lf")));
    EXPECT_EQ(readAll(dir.filePath("lf")), QByteArray("line1\r\nline2"));

    EXPECT_EQ(messageOf([&] { HttpGetToFile(server.base() + "/missing", dir.filePath("m")); }),
              "Ошибка HTTP при загрузке файла: 404");
    EXPECT_FALSE(QFile::exists(dir.filePath("m")));
    EXPECT_TRUE(messageOf([&] { HttpGetToFile(server.base() + "/a.zip", dir.filePath("no/such/folder/f")); })
                    .startsWith("Не удалось записать файл "));

    const QByteArray first = server.requests().value(0);
    EXPECT_TRUE(first.startsWith("GET /a.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")) << first.constData();
}

TEST(HttpGet, ConnectionAndNameFailures) {
    QTemporaryDir dir;
    // A port nobody listens on.
    QTcpServer probe;
    probe.listen(QHostAddress("127.0.0.1"), 0);
    const quint16 closed = probe.serverPort();
    probe.close();
    EXPECT_TRUE(messageOf([&] { HttpGetToFile(QString("http://127.0.0.1:%1/x").arg(closed), dir.filePath("x")); })
                    .startsWith("Не удалось подключиться к серверу. Код ошибки: "));
    EXPECT_EQ(messageOf([&] { HttpGetToFile("http://no-such-host.invalid/x", dir.filePath("x")); }),
              "Не удалось разрешить имя хоста: no-such-host.invalid");
}

TEST(HttpPost, SendsUtf8BodyWithItsByteLength) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    // The POST always goes to port 80; a host with a port is not resolvable.
    EXPECT_EQ(messageOf([&] { HttpPostJson(QString("http://127.0.0.1:%1/api").arg(server.port()), "{}"); }),
              QString("Не удалось получить адрес хоста: 127.0.0.1:%1").arg(server.port()));
    // The request itself, sent to the local server.
    http::setPostPort(server.port());
    HttpPostJson("http://127.0.0.1/rules/", QString::fromUtf8("Ж"));
    http::setPostPort(80);
    const QByteArray expected = "POST /rules/ HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n"
                                "Content-Length: 2\r\nConnection: close\r\nUser-Agent: Kelvana/1.0\r\n\r\n"
                                + QString::fromUtf8("Ж").toUtf8();
    EXPECT_EQ(server.requests().value(0), expected);
}

TEST(HttpGet, SlowClosedAndMalformedRepliesEndInBoundedTime) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    http::setGetTimeouts(5000, 400);
    server.setOk("/kept", "body");
    server.setHold("/kept", 5000);   // whole body sent, connection left open
    server.setRaw("/closed", "");     // closed without a byte
    server.setRaw("/garbage", "hello\r\n\r\nworld");
    server.setRaw("/silent", "");
    server.setHold("/silent", 5000);   // never answers

    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(HttpGetToFile(server.base() + "/kept", dir.filePath("kept")));
    EXPECT_EQ(readAll(dir.filePath("kept")), "body");
    EXPECT_LT(t.elapsed(), 2000);

    EXPECT_EQ(messageOf([&] { HttpGetToFile(server.base() + "/closed", dir.filePath("c")); }),
              "Получен некорректный HTTP ответ");
    EXPECT_EQ(messageOf([&] { HttpGetToFile(server.base() + "/garbage", dir.filePath("g")); }),
              "Получен некорректный HTTP ответ");
    EXPECT_FALSE(QFile::exists(dir.filePath("c")));
    EXPECT_FALSE(QFile::exists(dir.filePath("g")));

    server.setOk("/big", QByteArray(100000, 'b'));
    http::setMaxReplySize(10000);
    EXPECT_EQ(messageOf([&] { HttpGetToFile(server.base() + "/big", dir.filePath("b")); }),
              "Ответ сервера превышает допустимый размер");
    http::setMaxReplySize(qint64(1) << 30);
    EXPECT_FALSE(QFile::exists(dir.filePath("b")));

    t.restart();
    EXPECT_EQ(messageOf([&] { HttpGetToFile(server.base() + "/silent", dir.filePath("s")); }),
              "Сервер не ответил за отведённое время");
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_FALSE(QFile::exists(dir.filePath("s")));
    http::setGetTimeouts(30000, 120000);
}
