// The network transport against a local server: bodies arrive whole or the earlier file stays, redirects are followed,
// slow servers end at the deadline while the caller's events keep running, bad addresses never leave the machine, and
// the JSON POST goes out byte for byte.
#include "platform/Codepage.h"
#include "platform/Http.h"
#include "support/Files.h"
#include "support/ChildProcess.h"
#include "support/TestHttpServer.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <curl/curl.h>
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

// A proxy on 127.0.0.1 set up as common caching proxies are: a request in absolute form goes on to the server it names
// (all of them on this machine) and the reply comes back; CONNECT opens a tunnel only to port 443, which leads to
// tunnelPort here, and is refused with 403 for any other port. It records the raw requests it gets.
class TestProxy : public LoopbackServer {
public:
    explicit TestProxy(quint16 tunnelPort) : LoopbackServer(60000), m_tunnelPort(tunnelPort) { begin(); }
    ~TestProxy() override { end(); }
    QByteArray address() const { return "http://127.0.0.1:" + QByteArray::number(port()); }

private:
    void serve(QTcpSocket *client) override {
        QByteArray head;
        QElapsedTimer t;
        t.start();
        while (!head.contains("\r\n\r\n") && t.elapsed() < 3000 && client->state() == QAbstractSocket::ConnectedState)
            if (client->waitForReadyRead(20)) head += client->readAll();
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (end < 0) return;
        {
            QMutexLocker l(&m_mutex);
            m_requests << head.left(end + 4);
        }
        const QList<QByteArray> line = head.left(head.indexOf("\r\n")).split(' ');
        if (line.size() != 3) return;
        QTcpSocket upstream;
        if (line[0] == "CONNECT") {
            if (!line[1].endsWith(":443")) {
                client->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
                client->waitForBytesWritten(1000);
                return;
            }
            upstream.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), m_tunnelPort);
            if (!upstream.waitForConnected(2000)) return;
            client->write("HTTP/1.1 200 Connection established\r\n\r\n" + head.mid(end + 4));
        } else {
            const QUrl target(QString::fromLatin1(line[1]));
            upstream.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), quint16(target.port(80)));
            if (!upstream.waitForConnected(2000)) return;
            upstream.write(line[0] + ' ' + target.path(QUrl::FullyEncoded).toLatin1() + ' ' + line[2]
                           + head.mid(head.indexOf("\r\n")));
        }
        pump(client, &upstream);
    }
    // Bytes both ways until one side closes.
    void pump(QTcpSocket *a, QTcpSocket *b) {
        QElapsedTimer t;
        t.start();
        while (!m_stop && t.elapsed() < 10000) {
            for (auto [from, to] : {std::pair{a, b}, std::pair{b, a}}) {
                from->waitForReadyRead(10);
                if (from->bytesAvailable() > 0) {
                    to->write(from->readAll());
                    to->waitForBytesWritten(100);
                }
            }
            if ((a->state() != QAbstractSocket::ConnectedState && a->bytesAvailable() == 0)
                || (b->state() != QAbstractSocket::ConnectedState && b->bytesAvailable() == 0))
                break;
        }
        a->disconnectFromHost();
        b->disconnectFromHost();
    }

    quint16 m_tunnelPort;
};

// The proxy settings of the environment for the life of the object; every one of them not named is taken away.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const QList<std::pair<const char *, QByteArray>> &values) {
        for (const char *name : kNames) {
            m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qunsetenv(name);
        }
        for (const auto &[name, value] : values) qputenv(name, value);
    }
    ~ProxyEnvironment() {
        for (const Saved &s : m_saved) s.set ? qputenv(s.name, s.value) : qunsetenv(s.name);
    }

private:
    static constexpr const char *kNames[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                             "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
    struct Saved {
        const char *name;
        QByteArray value;
        bool set;
    };
    QList<Saved> m_saved;
};

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
        {"/garbage", {}, "Получен некорректный HTTP ответ"},
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

// libcurl's texts are English: every failure the user may see is told in Russian, and each one an HTTP exchange
// can end with is named.
TEST(HttpText, EveryNetworkErrorIsToldInRussian) {
    for (int code = 0; code < CURL_LAST; ++code) {
        const QString text = CurlErrorText(code);
        SCOPED_TRACE(code);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QRegularExpression("[A-Za-z]"))) << text.toStdString();
    }
    for (const CURLcode code : {CURLE_UNSUPPORTED_PROTOCOL, CURLE_COULDNT_RESOLVE_PROXY, CURLE_COULDNT_RESOLVE_HOST,
                                CURLE_COULDNT_CONNECT, CURLE_WEIRD_SERVER_REPLY, CURLE_PARTIAL_FILE, CURLE_WRITE_ERROR,
                                CURLE_OUT_OF_MEMORY, CURLE_OPERATION_TIMEDOUT, CURLE_SSL_CONNECT_ERROR,
                                CURLE_GOT_NOTHING, CURLE_SEND_ERROR, CURLE_RECV_ERROR, CURLE_PEER_FAILED_VERIFICATION,
                                CURLE_FILESIZE_EXCEEDED, CURLE_SSL_CACERT_BADFILE, CURLE_PROXY})
        EXPECT_FALSE(CurlErrorText(code).startsWith(QStringLiteral("ошибка сети (код"))) << "not named: " << code;
    EXPECT_EQ(CurlErrorText(9999), "ошибка сети (код 9999)");
}

// The request lines are exactly these, in this order; the reply is not read, so a status is no failure.
TEST(HttpPost, JsonBodyAndHeadersGoToTheAddressPort) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    server.setOk("/rules/", "{}");
    const QString body = QString::fromUtf8("{\"lft\":\"Ж \\\"x\\\"\"}");
    HttpPostJson(server.base() + "/rules/", body, quick());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0], "POST /rules/ HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port())
                                        + "\r\nContent-Type: application/json; charset=utf-8\r\n"
                                          "Accept: application/json\r\nContent-Length: "
                                        + QByteArray::number(body.toUtf8().size())
                                        + "\r\nConnection: close\r\nUser-Agent: Kelvana/1.0\r\n\r\n" + body.toUtf8());
    EXPECT_EQ(failure([&] { HttpPostJson(server.base() + "/other/", "{}", quick()); }), "<no error>");
}

// A server that closes without answering, or answers late: the POST went out once and is never sent again; the wait
// for the reply is short.
TEST(HttpPost, SentOnceAndTheReplyIsWaitedForBriefly) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    server.setRaw("/closed", "");
    server.setOk("/slow", "{}");
    server.setDelay("/slow", 5000);
    for (const char *path : {"/closed", "/slow"}) {
        SCOPED_TRACE(path);
        const qsizetype before = server.requests().size();
        QElapsedTimer t;
        t.start();
        HttpOptions o;   // the caller's long deadline
        EXPECT_EQ(failure([&] { HttpPostJson(server.base() + path, "{\"a\":1}", o); }), "<no error>");
        EXPECT_LT(t.elapsed(), 2000);
        QThread::msleep(300);   // a resend would come now
        EXPECT_EQ(server.requests().size(), before + 1);
    }
}

TEST(HttpGet, TheRequestIsThePartsAndItsFailuresAreNamed) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    server.setOk("/a.zip", "zip");
    EXPECT_TRUE(HttpGetToFile(server.base() + "/a.zip", dir.filePath("a"), quick()));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0], "GET /a.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    // A reply that is not HTTP, and a redirect to https on a server without TLS.
    server.setRaw("/garbage", "hello\r\n\r\nworld");
    server.setRaw("/tls", "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:" + QByteArray::number(server.port())
                              + "/a.zip\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    server.setRaw("/lflf", "HTTP/1.0 200 OK\nContent-Length: 4\n\nbody");
    EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/garbage", dir.filePath("g"), quick()); }),
              "Получен некорректный HTTP ответ");
    const QString tls = failure([&] { HttpGetToFile(server.base() + "/tls", dir.filePath("t"), quick()); });
    EXPECT_TRUE(tls.startsWith("Не удалось установить защищённое соединение с 127.0.0.1: ")) << tls.toStdString();
    EXPECT_TRUE(HttpGetToFile(server.base() + "/lflf", dir.filePath("l"), quick()));
    EXPECT_EQ(fileBytes(dir.filePath("l")), "body");
}

TEST(HttpText, JsonEscapingAndUtf8) {
    EXPECT_EQ(JsonEscapeString(QString("a\tb/c") + QChar(1)), QString("a\\tb\\/c\\u0001"));
    EXPECT_EQ(JsonEscapeString(QString("\"\\") + QChar(8) + QChar(12) + "\n\r" + QChar(31)),
              QString("\\\"\\\\\\b\\f\\n\\r\\u001F"));
    EXPECT_EQ(JsonEscapeString("Ф30 ok"), "Ф30 ok");
}

// Behind a proxy that opens tunnels to port 443 only: plain http goes to it in absolute form and arrives, the POST too
// (once); https is tunnelled and its certificate checked; a tunnel to another port is refused in Russian.
TEST(HttpProxy, PlainRequestsGoInAbsoluteFormAndOnlyHttpsIsTunnelled) {
    TestHttpServer server;
    TestTlsServer tls;
    ASSERT_TRUE(server.port() != 0 && tls.ready());
    TestProxy proxy(QUrl(tls.base()).port());
    ASSERT_FALSE(proxy.address().endsWith(":0"));
    const ProxyEnvironment env({{"http_proxy", proxy.address()}, {"https_proxy", proxy.address()}});
    QTemporaryDir dir;
    server.setOk("/a.zip", "zip");
    server.setOk("/rules/", "{}");
    const QByteArray site = "files.localhost:" + QByteArray::number(server.port());

    ASSERT_EQ(failure([&] { HttpGetToFile("http://" + site + "/a.zip", dir.filePath("a"), quick()); }), "<no error>");
    EXPECT_EQ(fileBytes(dir.filePath("a")), "zip");
    HttpPostJson("http://" + site + "/rules/", "{\"a\":1}", quick());
    ASSERT_EQ(proxy.requests().size(), 2);
    EXPECT_EQ(proxy.requests()[0],
              "GET http://" + site + "/a.zip HTTP/1.1\r\nHost: files.localhost\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(proxy.requests()[1].startsWith("POST http://" + site + "/rules/ HTTP/1.1\r\nHost: " + site + "\r\n"));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[0], "GET /a.zip HTTP/1.1\r\nHost: files.localhost\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(server.requests()[1].endsWith("\r\n\r\n{\"a\":1}"));

    HttpOptions handshake = quick();   // time for the certificates to load on a busy machine
    handshake.deadlineMs = handshake.idleMs = 10000;
    const QString tunnelled =
        failure([&] { HttpGetToFile("https://files.localhost/a.zip", dir.filePath("t"), handshake); });
    EXPECT_EQ(tunnelled, "Не удалось установить защищённое соединение с files.localhost: сертификат сервера не принят");
    EXPECT_EQ(failure([&] { HttpGetToFile("https://files.localhost:8443/a.zip", dir.filePath("t"), quick()); }),
              "Не удалось подключиться к серверу: прокси-сервер отказал в соединении (код 403)");
    ASSERT_EQ(proxy.requests().size(), 4);
    EXPECT_TRUE(proxy.requests()[2].startsWith("CONNECT files.localhost:443 HTTP/1.1\r\n"));
    EXPECT_FALSE(proxy.requests()[2].contains("Connection: close")) << "the request's own lines stay inside the tunnel";
    EXPECT_FALSE(QFile::exists(dir.filePath("t")));
    EXPECT_EQ(server.requests().size(), 2);
}

// The proxy is the environment's, per scheme; names in no_proxy and this machine's own addresses go direct.
TEST(HttpProxy, TheEnvironmentChoosesTheProxyPerScheme) {
    TestHttpServer server;
    TestTlsServer tls;
    ASSERT_TRUE(server.port() != 0 && tls.ready());
    TestProxy proxy(QUrl(tls.base()).port());
    QTemporaryDir dir;
    server.setOk("/a", "direct");
    const QString site = QStringLiteral("http://files.localhost:%1/a").arg(server.port());
    struct Case {
        QList<std::pair<const char *, QByteArray>> env;
        QString url;
        bool proxied;
    };
    const Case cases[] = {
        {{{"http_proxy", proxy.address()}}, site, true},
        {{{"all_proxy", proxy.address()}}, site, true},
        {{{"http_proxy", proxy.address()}, {"no_proxy", "example.org,files.localhost"}}, site, false},
        {{{"http_proxy", proxy.address()}, {"NO_PROXY", ".localhost"}}, site, false},
        {{{"https_proxy", proxy.address()}}, site, false},
        {{{"http_proxy", proxy.address()}}, server.base() + "/a", false},
        {{{"http_proxy", proxy.address()}}, QStringLiteral("http://localhost:%1/a").arg(server.port()), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString() + " " + c.env.constFirst().first);
        const ProxyEnvironment env(c.env);
        const qsizetype before = proxy.requests().size();
        EXPECT_EQ(failure([&] { HttpGetToFile(c.url, dir.filePath("f"), quick()); }), "<no error>");
        EXPECT_EQ(fileBytes(dir.filePath("f")), "direct");
        EXPECT_EQ(proxy.requests().size(), before + (c.proxied ? 1 : 0));
    }
    // https takes https_proxy, not http_proxy.
    for (const char *name : {"https_proxy", "HTTPS_PROXY", "http_proxy"}) {
        const ProxyEnvironment env({{name, proxy.address()}});
        const qsizetype before = proxy.requests().size();
        const QString tlsUrl = QStringLiteral("https://files.localhost:%1/a").arg(QUrl(tls.base()).port());
        EXPECT_NE(failure([&] { HttpGetToFile(tlsUrl, dir.filePath("t"), quick()); }), "<no error>");
        EXPECT_EQ(proxy.requests().size(), before + (QByteArray(name) != "http_proxy" ? 1 : 0)) << name;
    }
}

// Replies that end without the connection closing end at once: bodiless statuses, interim replies before the real
// one, empty and chunked bodies; one without length ends when the server closes. A status that is not three digits
// is never success.
TEST(HttpGet, EachReplyEndsWhereItsFramingSays) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    const char *kept[][3] = {
        {"/no-content", "HTTP/1.1 204 No Content\r\n\r\n", ""},
        {"/continue", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
                      "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody", "body"},
        {"/zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
        {"/chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;x=1\r\nbody\r\n0\r\nX-Trailer: 1\r\n\r\n",
         "body"},
        {"/moved", "HTTP/1.1 302 Found\r\nLocation: /zero\r\n\r\n", ""},
    };
    for (const auto &[path, reply, body] : kept) {
        SCOPED_TRACE(path);
        server.setRaw(path, reply);
        server.setHold(path, 10000);
        writeOld(dir.filePath("f"));
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + path, dir.filePath("f"), quick()); }), "<no error>");
        EXPECT_EQ(fileBytes(dir.filePath("f")), body);
        EXPECT_LT(t.elapsed(), 900);
    }
    server.setRaw("/closed", "HTTP/1.1 200 OK\r\n\r\nuntil the end");
    EXPECT_TRUE(HttpGetToFile(server.base() + "/closed", dir.filePath("c"), quick()));
    EXPECT_EQ(fileBytes(dir.filePath("c")), "until the end");

    for (const char *status : {"4294967496", "2000", "20", "-200", "2OO"}) {
        SCOPED_TRACE(status);
        server.setRaw("/status", "HTTP/1.1 " + QByteArray(status) + " OK\r\nContent-Length: 4\r\n\r\nbody");
        writeOld(dir.filePath("s"));
        EXPECT_NE(failure([&] { HttpGetToFile(server.base() + "/status", dir.filePath("s"), quick()); }), "<no error>");
        EXPECT_EQ(fileBytes(dir.filePath("s")), "old");
    }
}

// A download is a reply whose header came whole and began with an HTTP/1.x status line of three digits: libcurl
// takes any line beginning with "HTTP/" (in any case) as 200, and a connection closed inside the header as a reply
// without body. The earlier file stays in both cases.
TEST(HttpGet, OnlyAWholeHeaderWithAPlainStatusLineIsADownload) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    const QString bad = QStringLiteral("Получен некорректный HTTP ответ");
    const QString cut = QStringLiteral("Ответ сервера получен не полностью: соединение закрыто");
    const std::pair<const char *, QString> refused[] = {
        {"HTTP/~.1 404 Not Found\r\nContent-Length: 4\r\n\r\nbody", bad},
        {"HTTp/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody", bad},
        {"HTTP/2 200\r\nContent-Length: 4\r\n\r\nbody", bad},
        {"HTTP/1.1 20 OK\r\n\r\nbody", bad},
        {"HTTP/1.1 200OK\r\n\r\nbody", bad},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/x 200 OK\r\n\r\nbody", bad},
        {"HTTP/1.1 100 Continue\r\n\r\x04\nHTTp/1.1 200 OK\r\n\r\nbody", bad},
        {"HTTP/1.1 200 OK\r\n", cut},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", cut},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", cut},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close", cut},
        {"HTTP/1.1 200 OK", bad},
    };
    for (const auto &[reply, text] : refused) {
        SCOPED_TRACE(reply);
        server.setRaw("/r", reply);
        writeOld(dir.filePath("f"));
        EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/r", dir.filePath("f"), quick()); }), text);
        EXPECT_EQ(fileBytes(dir.filePath("f")), "old");
    }
    const char *taken[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody",
        "HTTP/1.1 200\r\nContent-Length: 4\r\n\r\nbody",
        "HTTP/1.1 203 \xd0\x93\xd0\xbe\xd1\x82\xd0\xbe\xd0\xb2\xd0\xbe\nContent-Length: 4\n\nbody",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\nX-Trailer: HTTP/x\r\n\r\n",
    };
    for (const char *reply : taken) {
        SCOPED_TRACE(reply);
        server.setRaw("/r", reply);
        writeOld(dir.filePath("f"));
        EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/r", dir.filePath("f"), quick()); }), "<no error>");
        EXPECT_EQ(fileBytes(dir.filePath("f")), "body");
    }
}

// An address the client does not speak is refused with the texts of the GET and of the POST, and nothing is sent.
TEST(HttpText, UnsupportedAddressesAreRefusedBeforeSending) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    const QString port = QString::number(server.port());
    for (const QString &url : {"ftp://127.0.0.1:" + port + "/a", "HTTP://127.0.0.1:" + port + "/a",
                               "127.0.0.1:" + port + "/a", QString("http:///a"), QString("file:///etc/hosts")}) {
        SCOPED_TRACE(url.toStdString());
        EXPECT_EQ(failure([&] { HttpGetToFile(url, dir.filePath("f"), quick()); }),
                  "Неподдерживаемый формат URL. Ожидается http://");
        EXPECT_EQ(failure([&] { HttpPostJson(url, "{}", quick()); }),
                  "Неподдерживаемый протокол URL. Используйте http://");
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("f")));
    EXPECT_TRUE(server.requests().isEmpty());
}

// The size limit is the body's that is taken: a redirect or a refusal declaring a long body of its own is told by
// its status, the redirect followed.
TEST(HttpGet, TheLimitCountsOnlyTheBodyTaken) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    QTemporaryDir dir;
    HttpOptions small = quick();
    small.maxBytes = 1000;
    server.setOk("/small", "body");
    server.setRaw("/moved", "HTTP/1.1 302 Found\r\nLocation: /small\r\nContent-Length: 5000\r\n\r\n");
    server.setRaw("/gone", "HTTP/1.1 404 Not Found\r\nContent-Length: 5000\r\n\r\n");
    EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/moved", dir.filePath("m"), small); }), "<no error>");
    EXPECT_EQ(fileBytes(dir.filePath("m")), "body");
    writeOld(dir.filePath("g"));
    EXPECT_EQ(failure([&] { HttpGetToFile(server.base() + "/gone", dir.filePath("g"), small); }),
              "Ошибка HTTP при загрузке файла: 404");
    EXPECT_EQ(fileBytes(dir.filePath("g")), "old");
}
