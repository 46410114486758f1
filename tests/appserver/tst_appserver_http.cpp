// The HTTP front of the real opd-appserver, spoken to byte by byte:
// pipelining, framing refusals, HTTP/1.0, the size limit answered at once,
// each phase of a connection ending on its own timeout,
// the connection limit, that idle or slow connections hold no worker, that a
// streamed answer arrives as it was written and that the bytes waiting for
// clients are all given back.
#include "RpcTestClient.h"

#include "tests/support/TestSupport.h"

#include <httplib.h>

#include "DbOracle.h"

#include "appserver/RpcServer.h"
#include "db/Database.h"

#include <QCborValue>

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Answer
{
    int status = 0;
    std::map<QByteArray, QByteArray> headers;   // names in lower case
    QByteArray body;
    int chunks = 0;   // of a chunked body, the closing one not counted
    bool complete = false;
    QByteArray header(const char *name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? QByteArray() : it->second;
    }
};

std::unique_ptr<QTcpSocket> connectTo(int port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

// Reads one answer from `socket`, keeping what follows it in `pending`.
// A body without Content-Length or chunking runs to the end of the connection.
Answer readAnswer(QTcpSocket &socket, QByteArray &pending, int timeoutMs = 5000)
{
    Answer a;
    QElapsedTimer timer;
    timer.start();
    const auto more = [&] {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - timer.elapsed()))))
            return false;
        pending += socket.readAll();
        return true;
    };
    qsizetype end;
    while ((end = pending.indexOf("\r\n\r\n")) < 0) {
        if (!more())
            return a;
    }
    const QList<QByteArray> lines = pending.left(end).split('\n');
    pending.remove(0, end + 4);
    a.status = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        a.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    if (a.headers.count("content-length")) {
        const qsizetype length = a.header("content-length").toLongLong();
        while (pending.size() < length) {
            if (!more())
                return a;
        }
        a.body = pending.left(length);
        pending.remove(0, length);
        a.complete = true;
    } else if (a.header("transfer-encoding") == "chunked") {
        for (;;) {
            qsizetype eol;
            while ((eol = pending.indexOf("\r\n")) < 0) {
                if (!more())
                    return a;
            }
            const qsizetype size = pending.left(eol).toLongLong(nullptr, 16);
            while (pending.size() < eol + 2 + size + 2) {
                if (!more())
                    return a;
            }
            a.body += pending.mid(eol + 2, size);
            pending.remove(0, eol + 2 + size + 2);
            if (size == 0)
                break;
            ++a.chunks;
        }
        a.complete = true;
    } else {
        while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
            if (!socket.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - timer.elapsed()))))
                break;
            pending += socket.readAll();
        }
        pending += socket.readAll();
        a.body = std::exchange(pending, {});
        a.complete = socket.state() != QAbstractSocket::ConnectedState;
    }
    return a;
}

// The next answer's JSON object; an empty one unless it came whole with 200.
QJsonObject nextAnswer(QTcpSocket &socket, QByteArray &pending)
{
    const Answer a = readAnswer(socket, pending);
    if (a.status != 200 || !a.complete)
        return {};
    return QJsonDocument::fromJson(a.body).object();
}

bool closedByServer(QTcpSocket &socket, int timeoutMs = 5000)
{
    if (socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (socket.waitForDisconnected(100) || socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        socket.readAll();
    }
    return false;
}

QByteArray post(const QByteArray &body, const char *version = "1.1", const QByteArray &extra = {},
               const QByteArray &type = "application/json")
{
    return "POST /rpc HTTP/" + QByteArray(version) + "\r\nHost: x\r\nContent-Type: " + type + "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
}

QByteArray numbersCall(const QString &branch, int id)
{
    return RpcTestClient::body(QStringLiteral("GetNrPedido"), {val(branch)}, id);
}

// The server run in this process on a free port, so that a test can give it
// options of its own and read its counters; stopped when it goes.
struct InProcessServer
{
    opd::appserver::ModuleRegistry registry;
    std::unique_ptr<opd::appserver::RpcServer> server;
    std::jthread loop;
    int port = -1;
    QString error;

    explicit InProcessServer(const opd::appserver::ServerOptions &options)
    {
        opd::appserver::DescEmiPedModule::registerIn(registry);
        server = std::make_unique<opd::appserver::RpcServer>(options, registry);
        port = server->bind(&error);
        if (port > 0)
            loop = std::jthread([s = server.get()] { s->run(); });
    }
    ~InProcessServer()
    {
        if (loop.joinable()) {
            server->stop();
            loop.join();
        }
    }
};

} // namespace

class TestAppServerHttp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sqlite;
    std::unique_ptr<opd::test::PgTestDatabase> m_pg;
    opd::test::AppServerProcess m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_sqlite = opd::test::makeSeededSqlite(m_dir.path(), 200, 3);
        if (!opd::test::pgServerUrl().isEmpty()) {
            m_pg = std::make_unique<opd::test::PgTestDatabase>();
            QVERIFY2(m_pg->isValid(), qPrintable(m_pg->errorString()));
            opd::test::seedDatabase(m_pg->url(), 200, 3);
        }
        QVERIFY2(m_server.start(m_sqlite), qPrintable(m_server.errorString()));
    }

    void pipelinedRequestsAreAnsweredInOrder()
    {
        auto socket = connectTo(m_server.port());
        QVERIFY(socket);
        PedidoArgs all;
        all.allStatuses = QStringLiteral("T");
        socket->write("GET /health HTTP/1.1\r\nHost: x\r\n\r\n" + post(numbersCall(QStringLiteral("0001"), 1))
                      + post(RpcTestClient::body(QStringLiteral("GetPedido"), all.toArgs(), 2))
                      + post(numbersCall(QStringLiteral("0002"), 3)) + "GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray pending;
        const Answer health = readAnswer(*socket, pending);
        QCOMPARE(health.status, 200);
        QVERIFY(health.body.contains("\"status\":\"ok\""));
        for (int id = 1; id <= 3; ++id) {
            const QJsonObject answer = nextAnswer(*socket, pending);
            QCOMPARE(answer.value(QStringLiteral("id")).toInt(), id);
            QVERIFY(RpcTestClient::ok(answer));
        }
        QCOMPARE(readAnswer(*socket, pending).status, 200);
        QVERIFY(socket->state() == QAbstractSocket::ConnectedState);
    }

    // Whole answers (a refused call, an unknown method) between streamed
    // ones keep their order, and the one asked to close the connection is
    // complete before the server closes it.
    void wholeAnswersKeepTheirPlaceAndCloseWhenAsked()
    {
        auto socket = connectTo(m_server.port());
        QVERIFY(socket);
        const auto unknown = [](int id) { return RpcTestClient::body(QStringLiteral("NaoExiste"), {}, id); };
        socket->write(post(unknown(2)) + post(numbersCall(QStringLiteral("0001"), 3)) + post(unknown(4))
                      + post(numbersCall(QStringLiteral("0002"), 5)) + post(unknown(6), "1.1", "Connection: close\r\n"));
        QByteArray pending;
        for (int id = 2; id <= 6; ++id) {
            const QJsonObject answer = nextAnswer(*socket, pending);
            QCOMPARE(answer.value(QStringLiteral("id")).toInt(), id);
            QCOMPARE(answer.contains(QStringLiteral("error")), id % 2 == 0);
        }
        QVERIFY(pending.isEmpty());
        QVERIFY(closedByServer(*socket));
    }

    void framingFaultsAreRefusedAndTheConnectionClosed_data()
    {
        QTest::addColumn<QByteArray>("request");
        const QByteArray body = numbersCall(QStringLiteral("0001"), 1);
        const QByteArray n = QByteArray::number(body.size());
        const QByteArray head = "POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
        QTest::newRow("same Content-Length twice") << head + "Content-Length: " + n + "\r\nContent-Length: " + n + "\r\n\r\n" + body;
        QTest::newRow("two different Content-Length") << head + "Content-Length: " + n + "\r\nContent-Length: 3\r\n\r\n" + body;
        QTest::newRow("Content-Length as a list") << head + "Content-Length: " + n + ", " + n + "\r\n\r\n" + body;
        QTest::newRow("Content-Length then chunked") << head + "Content-Length: " + n + "\r\nTransfer-Encoding: chunked\r\n\r\n" + body;
        QTest::newRow("chunked then Content-Length") << head + "Transfer-Encoding: chunked\r\nContent-Length: " + n + "\r\n\r\n" + body;
        QTest::newRow("unknown transfer coding") << head + "Transfer-Encoding: gzip\r\n\r\n" + body;
        QTest::newRow("chunked twice") << head + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
        QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n");
    }
    void framingFaultsAreRefusedAndTheConnectionClosed()
    {
        QFETCH(QByteArray, request);
        auto socket = connectTo(m_server.port());
        QVERIFY(socket);
        // A valid request follows: it must not be answered.
        socket->write(request + "GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray pending;
        const Answer a = readAnswer(*socket, pending);
        QCOMPARE(a.status, 400);
        QCOMPARE(a.header("connection"), QByteArray("close"));
        QVERIFY(closedByServer(*socket));
        QVERIFY2(!(pending + socket->readAll()).contains("HTTP/1.1 200"), pending.constData());
        // A chunked request done right is served.
        auto good = connectTo(m_server.port());
        const QByteArray body = numbersCall(QStringLiteral("0001"), 4);
        good->write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
                    + QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n0\r\n\r\n");
        pending.clear();
        const Answer served = readAnswer(*good, pending);
        QCOMPARE(served.status, 200);
        QVERIFY(RpcTestClient::ok(QJsonDocument::fromJson(served.body).object()));
    }

    void http10IsAnsweredWithoutChunkingAndClosed()
    {
        auto socket = connectTo(m_server.port());
        QVERIFY(socket);
        socket->write("GET /health HTTP/1.0\r\n\r\n");
        QByteArray pending;
        const Answer health = readAnswer(*socket, pending);
        QCOMPARE(health.status, 200);
        QVERIFY(!health.header("content-length").isEmpty());
        QVERIFY(closedByServer(*socket));

        // A streamed answer: close-delimited, its bytes the whole JSON answer.
        PedidoArgs all;
        all.allStatuses = QStringLiteral("T");
        for (const QByteArray &extra : {QByteArray(), QByteArray("Connection: keep-alive\r\n")}) {
            auto s = connectTo(m_server.port());
            s->write(post(RpcTestClient::body(QStringLiteral("GetPedido"), all.toArgs()), "1.0", extra));
            pending.clear();
            const Answer a = readAnswer(*s, pending, 10000);
            QCOMPARE(a.status, 200);
            QVERIFY(a.header("transfer-encoding").isEmpty());
            QVERIFY(a.complete);
            const QJsonObject answer = QJsonDocument::fromJson(a.body).object();
            QVERIFY(RpcTestClient::ok(answer));
            QVERIFY(RpcTestClient::result(answer).value(QStringLiteral("payload")).toArray().at(1).toObject()
                        .value(QStringLiteral("count")).toInt() > 1000);
        }
    }

    // A streamed answer of several pieces reaches the client as the very
    // bytes the writer makes in process, chunked and close-delimited alike.
    void streamedAnswerIsTheSameBytesChunkedAndClosed_data()
    {
        QTest::addColumn<bool>("cbor");
        QTest::newRow("json") << false;
        QTest::newRow("cbor") << true;
    }
    void streamedAnswerIsTheSameBytesChunkedAndClosed()
    {
        QFETCH(bool, cbor);
        PedidoArgs all;
        all.allStatuses = QStringLiteral("T");
        QByteArray body = RpcTestClient::body(QStringLiteral("GetPedido"), all.toArgs());
        const QByteArray type = cbor ? "application/cbor" : "application/json";
        if (cbor)
            body = QCborValue::fromJsonValue(QJsonDocument::fromJson(body).object()).toCbor();
        const auto db = opd::db::Database::open(m_sqlite.toStdString());
        RpcTestClient client;
        const QByteArray expected = client.raw(*db, body, type, "local").collect();
        QVERIFY2(expected.size() > 2 * 64 * 1024, qPrintable(QString::number(expected.size())));

        auto chunkedSocket = connectTo(m_server.port());
        QVERIFY(chunkedSocket);
        chunkedSocket->write(post(body, "1.1", {}, type));
        QByteArray pending;
        const Answer chunked = readAnswer(*chunkedSocket, pending, 10000);
        QCOMPARE(chunked.status, 200);
        QCOMPARE(chunked.header("transfer-encoding"), QByteArray("chunked"));
        QCOMPARE(chunked.header("content-type"), type);
        QVERIFY(chunked.complete);
        QVERIFY(pending.isEmpty());
        // Pieces of at least 64 KiB, each in one chunk.
        QVERIFY(chunked.chunks > 1);
        QVERIFY(chunked.chunks <= int((expected.size() + 64 * 1024 - 1) / (64 * 1024)));
        QCOMPARE(chunked.body.size(), expected.size());
        QVERIFY(chunked.body == expected);

        auto closedSocket = connectTo(m_server.port());
        QVERIFY(closedSocket);
        closedSocket->write(post(body, "1.0", {}, type));
        pending.clear();
        const Answer closed = readAnswer(*closedSocket, pending, 10000);
        QCOMPARE(closed.status, 200);
        QVERIFY(closed.header("transfer-encoding").isEmpty());
        QVERIFY(closed.complete);
        QCOMPARE(closed.body.size(), expected.size());
        QVERIFY(closed.body == expected);
    }

    // The bytes waiting for clients are counted while they wait and given
    // back once written, or once their client has gone mid-answer.
    void answerBudgetReturnsToZero()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString url = opd::test::makeSeededSqlite(dir.path(), 20000, 5);
        opd::appserver::ServerOptions options;
        options.dbUrl = url.toStdString();
        options.workers = 1;
        InProcessServer running(options);
        QVERIFY2(running.port > 0, qPrintable(running.error));
        const int port = running.port;
        opd::appserver::RpcServer &server = *running.server;
        PedidoArgs all;
        all.allStatuses = QStringLiteral("T");
        const QByteArray request = post(RpcTestClient::body(QStringLiteral("GetPedido"), all.toArgs()));

        auto reader = connectTo(port);
        QVERIFY(reader);
        reader->write(request);
        QByteArray pending;
        const Answer whole = readAnswer(*reader, pending, 60000);
        QVERIFY(whole.complete);
        QVERIFY(whole.body.size() > 4 * 1024 * 1024);
        QTRY_COMPARE(server.bufferedBytes(), 0LL);

        // A client that reads nothing with a small window: the answer piles
        // up in the server until the client resets the connection.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        const int window = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
        QCOMPARE(::send(fd, request.constData(), size_t(request.size()), 0), ssize_t(request.size()));
        QTRY_VERIFY_WITH_TIMEOUT(server.bufferedBytes() > 1024 * 1024, 30000);
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(server.bufferedBytes(), 0LL, 10000);

        // And the server goes on answering.
        auto next = connectTo(port);
        QVERIFY(next);
        next->write(post(numbersCall(QStringLiteral("0001"), 1)));
        pending.clear();
        QCOMPARE(readAnswer(*next, pending).status, 200);
        QTRY_COMPARE(server.bufferedBytes(), 0LL);
    }

    void oversizedRequestIsRefusedBeforeItsBody()
    {
        auto socket = connectTo(m_server.port());
        QVERIFY(socket);
        socket->write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 1048577\r\n\r\n{");
        QByteArray pending;
        QElapsedTimer timer;
        timer.start();
        const Answer a = readAnswer(*socket, pending, 3000);   // the body never comes
        QCOMPARE(a.status, 413);
        QCOMPARE(QJsonDocument::fromJson(a.body).object().value(QStringLiteral("error")).toObject()
                     .value(QStringLiteral("code")).toInt(), -32600);
        QVERIFY(timer.elapsed() < 3000);
        QVERIFY(closedByServer(*socket));
    }

    void connectionsBeyondTheLimitAreRefused()
    {
        opd::test::AppServerProcess server;
        QVERIFY2(server.start(m_sqlite, {QStringLiteral("--max-connections"), QStringLiteral("4")}),
                 qPrintable(server.errorString()));
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 4; ++i) {
            held.push_back(connectTo(server.port()));
            QVERIFY(held.back());
            held.back()->write("GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
            QByteArray pending;
            QCOMPARE(readAnswer(*held.back(), pending).status, 200);
        }
        auto extra = connectTo(server.port());
        QVERIFY(extra);
        QByteArray pending;
        QCOMPARE(readAnswer(*extra, pending).status, 503);
        QVERIFY(closedByServer(*extra));
        // One leaves: a new one is served again.
        held.pop_back();
        QTest::qWait(200);
        auto again = connectTo(server.port());
        again->write("GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
        pending.clear();
        QCOMPARE(readAnswer(*again, pending).status, 200);
    }

    // Each phase of a connection ends on its own timeout: a header or body
    // that stops coming, an idle keep-alive connection. A connection that
    // keeps asking is never cut, however many timeouts pass meanwhile, and
    // is cut once it falls idle.
    void eachPhaseEndsOnItsOwnTimeout()
    {
        opd::appserver::ServerOptions options;
        options.dbUrl = m_sqlite.toStdString();
        options.workers = 1;
        options.idleTimeoutSeconds = 3;
        options.headerTimeoutSeconds = 1;
        options.bodyTimeoutSeconds = 1;
        InProcessServer running(options);
        QVERIFY2(running.port > 0, qPrintable(running.error));
        const int port = running.port;

        auto idle = connectTo(port), header = connectTo(port), body = connectTo(port), busy = connectTo(port);
        QVERIFY(idle && header && body && busy);
        QByteArray pending;
        idle->write(post(numbersCall(QStringLiteral("0001"), 1)));
        QCOMPARE(readAnswer(*idle, pending).status, 200);
        QElapsedTimer clock;
        clock.start();
        header->write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Le");
        body->write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"a\"");
        header->flush();
        body->flush();

        std::map<QTcpSocket *, qint64> closedAt;
        const auto watch = [&](QTcpSocket &s) {
            if (closedAt.count(&s))
                return;
            s.waitForReadyRead(5);
            s.readAll();
            if (s.state() != QAbstractSocket::ConnectedState)
                closedAt[&s] = clock.elapsed();
        };
        const auto closedMs = [&](QTcpSocket *s) {   // -1 while open
            const auto it = closedAt.find(s);
            return it == closedAt.end() ? qint64(-1) : it->second;
        };
        // Five seconds of requests 250 ms apart on the busy connection.
        int answered = 0;
        while (clock.elapsed() < 5000) {
            busy->write(post(numbersCall(QStringLiteral("0002"), answered + 2)));
            QByteArray rest;
            QCOMPARE(readAnswer(*busy, rest).status, 200);
            ++answered;
            for (QTcpSocket *s : {idle.get(), header.get(), body.get()})
                watch(*s);
            QTest::qSleep(250);
        }
        QVERIFY(answered >= 10);
        QVERIFY2(closedMs(busy.get()) < 0, "a connection in use was cut");
        for (const auto &[socket, from, to] : {std::tuple{header.get(), 800, 2500}, std::tuple{body.get(), 800, 2500},
                                               std::tuple{idle.get(), 2500, 5000}}) {
            const qint64 at = closedMs(socket);
            QVERIFY2(at >= from && at < to, qPrintable(QString::number(at)));
        }

        // Left idle, the busy one goes too.
        const qint64 lastAnswer = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT((watch(*busy), closedMs(busy.get()) >= 0), 8000);
        QVERIFY2(closedMs(busy.get()) - lastAnswer >= 2500, qPrintable(QString::number(closedMs(busy.get()) - lastAnswer)));
    }

    void idleAndSlowConnectionsHoldNoWorker_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    void idleAndSlowConnectionsHoldNoWorker()
    {
        QFETCH(bool, postgres);
        if (postgres && !m_pg)
            QSKIP("PostgreSQL não configurado (OPD_TEST_PG_URL)");
        opd::test::AppServerProcess server;
        QVERIFY2(server.start(postgres ? m_pg->url() : m_sqlite, {QStringLiteral("--workers"), QStringLiteral("2")}),
                 qPrintable(server.errorString()));
        std::vector<std::unique_ptr<QTcpSocket>> idle, slow;
        for (int i = 0; i < 256; ++i) {
            idle.push_back(connectTo(server.port()));
            QVERIFY(idle.back());
            idle.back()->write(post(numbersCall(QStringLiteral("0001"), i)));
        }
        for (auto &s : idle) {
            QByteArray pending;
            QCOMPARE(readAnswer(*s, pending).status, 200);   // kept alive, then left idle
        }
        for (int i = 0; i < 20; ++i) {
            slow.push_back(connectTo(server.port()));
            QVERIFY(slow.back());
            slow.back()->write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Le");
            slow.back()->flush();
        }
        QTest::qWait(100);

        QElapsedTimer timer;
        timer.start();
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(5, 0);
        PedidoArgs args;
        args.branch = QStringLiteral("0002");
        for (int i = 0; i < 3; ++i) {
            const QByteArray body = RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs());
            auto r = client.Post("/rpc", body.constData(), size_t(body.size()), "application/json");
            QVERIFY(r);
            QVERIFY(RpcTestClient::ok(QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object()));
        }
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        // The idle ones are still served on their connections.
        QByteArray pending;
        idle.front()->write(post(numbersCall(QStringLiteral("0003"), 9)));
        QCOMPARE(readAnswer(*idle.front(), pending).status, 200);
    }

    // A cluster of the test's own on a free port, restarted under a server
    // with one worker: each write made meanwhile is either stored with its
    // audit row or refused with a message, every write sent once the cluster
    // is back is stored, and the next read is served on a new connection.
    void postgresRestartedUnderTheServer()
    {
        if (!QFile::exists(QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl")))
            QSKIP("PostgreSQL 15 não instalado");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        // Not under the test's own folder: the postgres user cannot enter it.
        const QString dir = QDir::temp().filePath(QStringLiteral("opd-pg-restart-%1").arg(QCoreApplication::applicationPid()));
        const QString script = QDir(qEnvironmentVariable("OPD_SOURCE_DIR")).filePath(QStringLiteral("scripts/pg"));
        // Stopped whichever way the test ends, a start that timed out included.
        struct Stop { QString script, dir; ~Stop() { QProcess::execute(script, {QStringLiteral("stop"), dir}); } } stop{script, dir};
        QProcess start;
        start.start(script, {QStringLiteral("start"), dir, port});
        QVERIFY(start.waitForFinished(180000));   // only a hang: initdb on a busy machine takes its time
        QVERIFY2(start.exitCode() == 0, start.readAllStandardError().constData());
        const QString url = QString::fromUtf8(start.readAllStandardOutput()).trimmed();
        opd::test::seedDatabase(url, 50, 2);

        opd::test::AppServerProcess server;
        QVERIFY2(server.start(url, {QStringLiteral("--workers"), QStringLiteral("1")}), qPrintable(server.errorString()));
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(20, 0);
        const auto call = [&](const QByteArray &body) {
            auto r = client.Post("/rpc", body.constData(), size_t(body.size()), "application/json");
            return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
        };
        QVERIFY(RpcTestClient::ok(call(numbersCall(QStringLiteral("0001"), 1))));

        std::atomic<bool> restarting{true};
        std::atomic<int> restartCode{-1};
        std::jthread restarter([&] {   // joined however the test ends
            restartCode = QProcess::execute(QStringLiteral("runuser"), {QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                              QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl"), QStringLiteral("-D"), dir,
                              QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("restart")});
            restarting = false;
        });
        // The writes go on until three were sent after pg_ctl came back: the
        // shutdown may come before the first write, and pg_ctl may see the
        // cluster up again before any write got through, so that none of the
        // writes made while it restarted is stored.
        QStringList stored, refused, afterRestart;
        QElapsedTimer hang;
        hang.start();
        for (int i = 0; restarting || afterRestart.size() < 3; ++i) {
            const bool back = !restarting;
            const QString text = QStringLiteral("reinício %1").arg(i);
            const QJsonObject answer = call(RpcTestClient::body(QStringLiteral("SetDescEmi"),
                {val(text), val(QStringLiteral("0002")), val(QStringLiteral("0000000002")), val(QStringLiteral("0001"))}));
            if (RpcTestClient::ok(answer)) {
                stored << text;
            } else {
                const QString message = answer.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString()
                    + RpcTestClient::message(answer);
                QVERIFY2(!message.isEmpty(), QJsonDocument(answer).toJson().constData());
                refused << text;
            }
            if (back)
                afterRestart << text;
            QTest::qWait(20);
            if (hang.elapsed() > 180000)   // only a hang: pg_ctl gives up on its own after 60 s
                break;
        }
        restarter.join();
        QCOMPARE(restartCode.load(), 0);
        QCOMPARE(afterRestart.size(), 3);
        // Sent once PostgreSQL was back: the lost connection is noticed
        // before anything of the write went out, and it goes on a new one.
        for (const QString &text : afterRestart)
            QVERIFY2(stored.contains(text), qPrintable(text + QStringLiteral(" refused; refused: ") + refused.join(QStringLiteral(", "))));
        // Restarted again with nobody calling: the worker's connection is
        // stale, and the next read is served on a new one all the same.
        QCOMPARE(QProcess::execute(QStringLiteral("runuser"), {QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                     QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl"), QStringLiteral("-D"), dir,
                     QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("restart")}), 0);
        const QJsonObject read = call(numbersCall(QStringLiteral("0001"), 2));
        QVERIFY2(RpcTestClient::ok(read), QJsonDocument(read).toJson().constData());

        auto db = opd::db::Database::open(url.toStdString());
        const QStringList audited = selectLines(*db, "SELECT DSVALORNOV FROM AUDITORIA WHERE CDFILIAL = '0002'"
                                                     " AND NRPEDIDO = '0000000002' AND NRITEMPED = '0001' ORDER BY IDAUDITORIA", 1);
        for (const QString &text : stored)
            QVERIFY2(audited.contains(text), qPrintable(text));
        // Whatever was stored has its audit row, and the newest audit row is the stored value.
        const QStringList value = selectLines(*db, "SELECT DSEMISSAOITPED FROM ITEMPEDIDO WHERE CDFILIAL = '0002'"
                                                   " AND NRPEDIDO = '0000000002' AND NRITEMPED = '0001'", 1);
        QCOMPARE(value, QStringList{audited.last()});
        for (const QString &text : audited)
            QVERIFY(stored.contains(text) || refused.contains(text));
    }
};

QTEST_GUILESS_MAIN(TestAppServerHttp)
#include "tst_appserver_http.moc"
