// The real opd-appserver binary over HTTP: readiness line, health, streamed
// CBOR answers, the bearer token, oversized requests, and that it keeps
// serving after garbage.
#include "DbOracle.h"
#include "RpcTestClient.h"

#include "db/Database.h"
#include "tests/support/TestSupport.h"

#include <httplib.h>

#include <QCborMap>
#include <QCborValue>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class TestAppServerProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_url;

    static httplib::Result post(httplib::Client &client, const QByteArray &body, const char *type,
                                const httplib::Headers &headers = {})
    {
        return client.Post("/rpc", headers, body.constData(), size_t(body.size()), type);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_url = opd::test::makeSeededSqlite(m_dir.path(), 300, 5);
    }

    void servesHealthAndStreamedCborAndSurvivesGarbage()
    {
        opd::test::AppServerProcess server;
        QVERIFY2(server.start(m_url), qPrintable(server.errorString()));
        httplib::Client client("127.0.0.1", server.port());
        client.set_tcp_nodelay(true);

        auto health = client.Get("/health");
        QVERIFY(health);
        QCOMPARE(health->status, 200);
        QCOMPARE(QByteArray::fromStdString(health->body),
                 QByteArray(R"({"status":"ok","modules":["OPD31000.rdmDescEmiPed"]})"));

        // Garbage and an oversized body first: the same keep-alive client goes on afterwards.
        auto garbage = post(client, QByteArray::fromHex("ff00ff"), "application/cbor");
        QVERIFY(garbage);
        QCOMPARE(garbage->status, 400);
        QCOMPARE(QCborValue::fromCbor(QByteArray::fromStdString(garbage->body)).toMap()
                     .value(QStringLiteral("error")).toMap().value(QStringLiteral("code")).toInteger(), -32700);
        auto huge = post(client, QByteArray(1024 * 1024 + 1, '{'), "application/json");
        QVERIFY(huge);
        QCOMPARE(huge->status, 413);
        QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(huge->body)).object()
                     .value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(), -32600);

        PedidoArgs args;
        args.allStatuses = QStringLiteral("T");
        const QJsonObject request = QJsonDocument::fromJson(RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs())).object();
        httplib::Client fresh("127.0.0.1", server.port());
        auto answer = post(fresh, QCborValue::fromJsonValue(request).toCbor(), "application/cbor");
        QVERIFY(answer);
        QCOMPARE(answer->status, 200);
        QCOMPARE(answer->get_header_value("Content-Type"), std::string("application/cbor"));
        QCOMPARE(answer->get_header_value("Transfer-Encoding"), std::string("chunked"));
        const QCborMap map = QCborValue::fromCbor(QByteArray::fromStdString(answer->body)).toMap();
        QVERIFY(map.value(QStringLiteral("result")).toMap().value(QStringLiteral("ok")).toBool());
        const QCborValue items = map.value(QStringLiteral("result")).toMap().value(QStringLiteral("payload")).toArray().at(1);
        auto db = opd::db::Database::open(m_url.toStdString());
        QCOMPARE(items.toMap().value(QStringLiteral("count")).toInteger(),
                 selectLines(*db, "SELECT COUNT(*) FROM ITEMPEDIDO", 1).value(0).toLongLong());
    }

    void clientLeavingEarlyDoesNotStopTheServer()
    {
        opd::test::AppServerProcess server;
        QVERIFY2(server.start(m_url, {QStringLiteral("--workers"), QStringLiteral("1")}), qPrintable(server.errorString()));
        PedidoArgs args;
        args.allStatuses = QStringLiteral("T");
        const QByteArray body = RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs());
        for (int round = 0; round < 3; ++round) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(server.port()));
            QVERIFY(socket.waitForConnected(5000));
            socket.write("POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            QVERIFY(socket.waitForReadyRead(5000));
            QVERIFY(socket.read(100).startsWith("HTTP/1.1 200"));
            socket.abort();   // gone before the answer is read (mid-stream when it outgrows the socket buffers)
        }
        // The only worker is free again.
        httplib::Client client("127.0.0.1", server.port());
        auto write = client.Post("/rpc", RpcTestClient::body(QStringLiteral("SetDescEmi"),
            {val(QStringLiteral("depois do abandono")), val(QStringLiteral("0002")), val(QStringLiteral("0000000002")),
             val(QStringLiteral("0001"))}).toStdString(), "application/json");
        QVERIFY(write);
        QVERIFY(QByteArray::fromStdString(write->body).contains("\"ok\":true"));
    }

    void tokenFileGuardsCallsAndNamesTheAuditUser()
    {
        const QString tokens = m_dir.filePath(QStringLiteral("tokens"));
        QFile file(tokens);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# tokens\ns3cr3t-token-1 ana\n");
        file.close();
        opd::test::AppServerProcess server;
        const QString log = m_dir.filePath(QStringLiteral("tokens.err"));
        server.setLogFile(log);
        QVERIFY2(server.start(m_url, {QStringLiteral("--token-file"), tokens}), qPrintable(server.errorString()));
        httplib::Client client("127.0.0.1", server.port());

        auto db = opd::db::Database::open(m_url.toStdString());
        const QStringList auditBefore = selectLines(*db, "SELECT COUNT(*) FROM AUDITORIA", 1);
        const QByteArray write = RpcTestClient::body(QStringLiteral("SetDescEmi"),
            {val(QStringLiteral("Descrição via token")), val(QStringLiteral("0001")), val(QStringLiteral("0000000001")),
             val(QStringLiteral("0001"))});
        for (const char *bad : {"", "Bearer wrong-token", "s3cr3t-token-1"}) {
            httplib::Headers headers;
            if (*bad)
                headers.emplace("Authorization", bad);
            auto refused = post(client, write, "application/json", headers);
            QVERIFY(refused);
            QCOMPARE(refused->status, 401);
            QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(refused->body)).object()
                         .value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(), -32001);
        }
        QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM AUDITORIA", 1), auditBefore);

        auto accepted = post(client, write, "application/json", {{"Authorization", "Bearer s3cr3t-token-1"}});
        QVERIFY(accepted);
        QCOMPARE(accepted->status, 200);
        QCOMPARE(QByteArray::fromStdString(accepted->body),
                 QByteArray(R"({"jsonrpc":"2.0","id":7,"result":{"ok":true,"payload":null}})"));
        QCOMPARE(selectLines(*db, "SELECT CDUSUARIO, DSVALORNOV FROM AUDITORIA ORDER BY IDAUDITORIA DESC", 2).value(0),
                 QStringLiteral("ana|Descrição via token"));

        // The access log names who called, never with what.
        server.stop();
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(logFile.readAll());
        QVERIFY2(!text.contains(QStringLiteral("s3cr3t")) && !text.contains(QStringLiteral("wrong-token")), qPrintable(text));
        QStringList access;
        for (const QString &line : text.split(QLatin1Char('\n')))
            if (line.contains(QStringLiteral("opd.server.access")))
                access << line.section(QStringLiteral(": "), 1).remove(QRegularExpression(QStringLiteral(" ms=\\S+ bytes=\\S+")));
        QCOMPARE(access, (QStringList{QStringLiteral("method=- status=-32001 user=-"),
                                      QStringLiteral("method=- status=-32001 user=-"),
                                      QStringLiteral("method=- status=-32001 user=-"),
                                      QStringLiteral("method=OPD31000.rdmDescEmiPed.SetDescEmi status=ok user=ana")}));
    }

    void everyCallLeavesOneAccessLineWithoutItsArguments_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("prefix");   // a regular expression
        // The executable's own pattern: time, category, kind.
        QTest::newRow("default") << QString()
                                 << R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} opd\.server\.access info: )";
        // QT_MESSAGE_PATTERN wins over it.
        QTest::newRow("QT_MESSAGE_PATTERN") << QStringLiteral("<%{category}> %{message}")
                                            << R"(^<opd\.server\.access> )";
    }

    void everyCallLeavesOneAccessLineWithoutItsArguments()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, prefix);
        const QString log = m_dir.filePath(QStringLiteral("access-%1.err").arg(QTest::currentDataTag()));
        QStringList lines;
        {
            opd::test::AppServerProcess server;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("QT_LOGGING_RULES"));
            env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
            if (!pattern.isEmpty())
                env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), pattern);
            server.process().setProcessEnvironment(env);
            server.setLogFile(log);
            QVERIFY2(server.start(m_url), qPrintable(server.errorString()));
            httplib::Client client("127.0.0.1", server.port());

            // Succeeds, with a description only the client knows.
            auto written = post(client, RpcTestClient::body(QStringLiteral("SetDescEmi"),
                {val(QStringLiteral("Descrição sigilosa 4711")), val(QStringLiteral("0001")),
                 val(QStringLiteral("0000000001")), val(QStringLiteral("0001"))}), "application/json");
            QVERIFY(written);
            QVERIFY(QByteArray::fromStdString(written->body).contains("\"ok\":true"));
            // Refused by the service, for a filter value it echoes to the client.
            PedidoArgs args;
            args.statuses = QStringLiteral("12FILTROSIGILOSO");
            auto refused = post(client, RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs()),
                                "application/json");
            QVERIFY(refused);
            QVERIFY(QByteArray::fromStdString(refused->body).contains("FILTROSIGILOSO"));
            // Refused by the dispatcher: one argument where four are declared.
            auto wrong = post(client, RpcTestClient::body(QStringLiteral("SetDescEmi"),
                {val(QStringLiteral("Argumento sigiloso 4712"))}), "application/json");
            QVERIFY(wrong);
            QVERIFY(QByteArray::fromStdString(wrong->body).contains("-32602"));
            server.stop();
            QFile file(log);
            QVERIFY(file.open(QIODevice::ReadOnly));
            for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
                if (line.contains(QStringLiteral("access")))
                    lines << line;
            QCOMPARE(lines.size(), 3);
            const qsizetype sizes[3] = {qsizetype(written->body.size()), qsizetype(refused->body.size()),
                                        qsizetype(wrong->body.size())};
            const char *const expected[3] = {"SetDescEmi status=ok", "GetPedido status=failed",
                                             "SetDescEmi status=-32602"};
            for (int i = 0; i < 3; ++i) {
                const QRegularExpression shape(prefix + QStringLiteral(
                    R"(method=OPD31000\.rdmDescEmiPed\.%1 ms=\d+\.\d bytes=(\d+) user=local$)")
                    .arg(QString::fromLatin1(expected[i])));
                const QRegularExpressionMatch m = shape.match(lines[i]);
                QVERIFY2(m.hasMatch(), qPrintable(lines[i] + QStringLiteral(" !~ ") + shape.pattern()));
                // The whole answer, header included, is counted.
                QVERIFY2(m.captured(1).toLongLong() > sizes[i], qPrintable(lines[i]));
            }
        }
        const QString all = lines.join(QLatin1Char('\n'));
        for (const char *secret : {"sigilos", "SIGILOSO", "4711", "4712", "0000000001"})
            QVERIFY2(!all.contains(QLatin1String(secret)), qPrintable(all));
    }

    void refusesToListenBeyondLoopbackWithoutTokens()
    {
        QProcess process;
        process.start(opd::test::AppServerProcess::binary(),
                      {QStringLiteral("--db"), m_url, QStringLiteral("--listen"), QStringLiteral("0.0.0.0:0")});
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(process.exitCode() != 0);
        QVERIFY(process.readAllStandardError().contains("--token-file"));
        QVERIFY(!process.readAllStandardOutput().contains("listening"));
    }
};

QTEST_GUILESS_MAIN(TestAppServerProcess)
#include "tst_appserver_process.moc"
