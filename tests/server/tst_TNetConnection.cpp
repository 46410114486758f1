// Opening and closing the connection: the health check, the before-connect
// hook, failures with and without ThrowException, and reopening.

#include "FakeAppServer.h"
#include "server/RemoteResult.h"
#include "server/TNetConnection.h"

#include <QCborStreamWriter>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

static const QString Module = QStringLiteral("OPD31000.rdmDescEmiPed");

// A loopback port with nothing listening: bound, then released.
static int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class TestTNetConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectsWhenHealthListsTheModule()
    {
        FakeAppServer server;
        TNetConnection net;
        server.aim(net);
        QSignalSpy changed(&net, &TNetConnection::connectedChanged);

        net.setConnected(true);

        QVERIFY2(net.Connected(), qPrintable(net.lastError()));
        QCOMPARE(net.lastError(), QString());
        QCOMPARE(server.healthHits(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);

        net.setConnected(true);   // already open: nothing happens
        QCOMPARE(server.healthHits(), 1);
        QCOMPARE(changed.count(), 1);
    }

    void failedConnectLeavesItClosedWithAReason_data()
    {
        QTest::addColumn<int>("healthStatus");
        QTest::addColumn<QByteArray>("healthBody");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("expected");

        QTest::newRow("nothing listening") << 200 << QByteArray() << false
                                           << QStringLiteral("Servidor de aplicação inacessível em 127.0.0.1:%1.");
        QTest::newRow("other module") << 200 << QByteArray(R"({"status":"ok","modules":["OPD99999.rdmOutro"]})") << true
                                      << QStringLiteral("O servidor de aplicação em 127.0.0.1:%1 não oferece o módulo OPD31000.rdmDescEmiPed.");
        QTest::newRow("module name differs in case") << 200 << QByteArray(R"({"status":"ok","modules":["opd31000.rdmdescemiped"]})") << true
                                      << QStringLiteral("O servidor de aplicação em 127.0.0.1:%1 não oferece o módulo OPD31000.rdmDescEmiPed.");
        QTest::newRow("health says not ok") << 200 << QByteArray(R"({"status":"starting","modules":["OPD31000.rdmDescEmiPed"]})") << true
                                            << QStringLiteral("O servidor de aplicação em 127.0.0.1:%1 não está pronto.");
        QTest::newRow("health unavailable") << 503 << QByteArray(R"({"status":"down"})") << true
                                            << QStringLiteral("O servidor de aplicação em 127.0.0.1:%1 não está disponível (HTTP 503).");
        QTest::newRow("health not json") << 200 << QByteArray("<html>ok</html>") << true
                                         << QStringLiteral("Resposta inválida do servidor de aplicação em 127.0.0.1:%1 ao verificar o estado.");
        QTest::newRow("modules not a list") << 200 << QByteArray(R"({"status":"ok","modules":"OPD31000.rdmDescEmiPed"})") << true
                                            << QStringLiteral("Resposta inválida do servidor de aplicação em 127.0.0.1:%1 ao verificar o estado.");
    }

    void failedConnectLeavesItClosedWithAReason()
    {
        QFETCH(int, healthStatus);
        QFETCH(QByteArray, healthBody);
        QFETCH(bool, listening);
        QFETCH(QString, expected);

        FakeAppServer server;
        server.setHealth(healthStatus, healthBody);
        const int port = listening ? server.port() : freePort();

        TNetConnection net;
        net.ServerName = Module;
        net.setHost(QStringLiteral("127.0.0.1"));
        net.setPort(port);
        QSignalSpy changed(&net, &TNetConnection::connectedChanged);

        net.setConnected(true);
        QVERIFY(!net.Connected());
        QCOMPARE(net.lastError(), expected.arg(port));
        QCOMPARE(changed.count(), 0);

        // The same failure thrown when asked for.
        net.ThrowException = true;
        try {
            net.setConnected(true);
            QFAIL("no exception");
        } catch (const opd::RemoteCallError &e) {
            QCOMPARE(e.message(), expected.arg(port));
        }
        QVERIFY(!net.Connected());

        // And a call on the closed connection is refused, not sent.
        const int before = server.received().size();
        QVERIFY_THROWS_EXCEPTION(opd::RemoteCallError, net.AppServer().call(QStringLiteral("getFilial"), {}));
        QCOMPARE(server.received().size(), before);
    }

    // Behind a balancer, the server chosen for a new connection may have
    // just died: its 502 or 504 is asked again a moment later, its 503 (no
    // server at all) is not, and neither is anything after the last repeat.
    void balancerPagesToTheHealthCheckAreAskedAgain_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("hits");
        QTest::addColumn<bool>("connects");
        QTest::newRow("502 twice") << 502 << 2 << 3 << true;
        QTest::newRow("504 once") << 504 << 1 << 2 << true;
        QTest::newRow("502 three times") << 502 << 3 << 3 << false;
        QTest::newRow("503") << 503 << 1 << 1 << false;
    }

    void balancerPagesToTheHealthCheckAreAskedAgain()
    {
        QFETCH(int, status);
        QFETCH(int, times);
        QFETCH(int, hits);
        QFETCH(bool, connects);
        FakeAppServer server;
        server.failHealth(times, status);
        TNetConnection net;
        server.aim(net);
        net.setConnected(true);
        QCOMPARE(server.healthHits(), hits);
        QCOMPARE(net.Connected(), connects);
        if (!connects)
            QCOMPARE(net.lastError(), QStringLiteral("O servidor de aplicação em 127.0.0.1:%1 não está disponível (HTTP %2).")
                                          .arg(server.port()).arg(status));
    }

    void unusableSettingsAreRefusedBeforeAnyTraffic_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("serverName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty host") << QString() << 8431 << Module
                                    << QStringLiteral("Endereço do servidor de aplicação não informado.");
        QTest::newRow("port zero") << QStringLiteral("127.0.0.1") << 0 << Module
                                   << QStringLiteral("Porta do servidor de aplicação inválida: 0.");
        QTest::newRow("port too high") << QStringLiteral("127.0.0.1") << 70000 << Module
                                       << QStringLiteral("Porta do servidor de aplicação inválida: 70000.");
        QTest::newRow("no module name") << QStringLiteral("127.0.0.1") << 8431 << QString()
                                        << QStringLiteral("Nome do módulo do servidor de aplicação não informado.");
    }

    void unusableSettingsAreRefusedBeforeAnyTraffic()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, serverName);
        QFETCH(QString, expected);
        TNetConnection net;
        net.ServerName = serverName;
        net.setHost(host);
        net.setPort(port);
        net.setConnected(true);
        QVERIFY(!net.Connected());
        QCOMPARE(net.lastError(), expected);
    }

    void beforeConnectRunsFirstAndHostAndPortAreTakenAtEachConnect()
    {
        FakeAppServer first;
        FakeAppServer second;
        TNetConnection net;
        net.ServerName = Module;
        net.setHost(QStringLiteral("192.0.2.1"));   // stale values the hook must replace
        net.setPort(1);

        QStringList log;
        int target = first.port();
        net.OnBeforeConnect = [&](QObject *sender) {
            QCOMPARE(sender, &net);
            log << QStringLiteral("before healthHits=%1").arg(first.healthHits() + second.healthHits());
            net.setHost(QStringLiteral("127.0.0.1"));
            net.setPort(target);
        };
        connect(&net, &TNetConnection::connectedChanged, this,
                [&](bool on) { log << QStringLiteral("changed %1").arg(on); });

        net.setConnected(true);
        QVERIFY2(net.Connected(), qPrintable(net.lastError()));
        QCOMPARE(first.healthHits(), 1);

        net.setConnected(false);
        target = second.port();
        net.setConnected(true);
        QVERIFY2(net.Connected(), qPrintable(net.lastError()));
        QCOMPARE(second.healthHits(), 1);
        QCOMPARE(first.healthHits(), 1);

        // Calls go to the server of the latest connect.
        net.AppServer().call(QStringLiteral("SetDescEmi"), {});
        QCOMPARE(second.received().size(), 1);
        QCOMPARE(first.received().size(), 0);

        QCOMPARE(log, (QStringList{QStringLiteral("before healthHits=0"), QStringLiteral("changed 1"),
                                   QStringLiteral("changed 0"), QStringLiteral("before healthHits=1"),
                                   QStringLiteral("changed 1")}));
    }

    void closingRefusesCallsAndReopeningServesThemAgain()
    {
        FakeAppServer server;
        server.setAnswer([](const FakeAppServer::Received &r) {
            return FakeAppServer::cborOk(r.id(), [](QCborStreamWriter &w) { w.append(QLatin1String("pong")); });
        });
        TNetConnection net;
        net.ServerName = Module;
        net.OnBeforeConnect = [&](QObject *) {
            net.setHost(QStringLiteral("127.0.0.1"));
            net.setPort(server.port());
        };
        QSignalSpy changed(&net, &TNetConnection::connectedChanged);

        net.setConnected(true);
        QCOMPARE(RemoteResult::payload(net.AppServer().call(QStringLiteral("Ping"), {})).toString(), QStringLiteral("pong"));

        net.setConnected(false);
        QVERIFY(!net.Connected());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        try {
            net.AppServer().call(QStringLiteral("Ping"), {});
            QFAIL("call on a closed connection went through");
        } catch (const opd::RemoteCallError &e) {
            QCOMPARE(e.message(), QStringLiteral("Não há conexão com o servidor de aplicação."));
        }
        net.setConnected(false);  // closing twice is harmless and silent
        QCOMPARE(changed.count(), 2);

        net.setConnected(true);
        QVERIFY(net.Connected());
        QCOMPARE(RemoteResult::payload(net.AppServer().call(QStringLiteral("Ping"), {})).toString(), QStringLiteral("pong"));
        QCOMPARE(server.received().size(), 2);
        QCOMPARE(server.healthHits(), 2);
    }

    void tokenTravelsWithEveryCall()
    {
        FakeAppServer server;
        TNetConnection net;
        server.aim(net);
        net.setToken(QStringLiteral("s3gr3d0"));
        net.setConnected(true);
        net.AppServer().call(QStringLiteral("SetDescEmi"), {});
        net.AppServer().call(QStringLiteral("SetDescEmi"), {});
        const auto got = server.received();
        QCOMPARE(got.size(), 2);
        for (const auto &r : got)
            QCOMPARE(QString::fromStdString(r.authorization), QStringLiteral("Bearer s3gr3d0"));
    }

    void serverGoingAwayFailsTheCallWithItsAddress()
    {
        auto server = std::make_unique<FakeAppServer>();
        const int port = server->port();
        TNetConnection net;
        net.ServerName = Module;
        net.setHost(QStringLiteral("127.0.0.1"));
        net.setPort(port);
        net.setConnected(true);
        net.AppServer().call(QStringLiteral("SetDescEmi"), {});

        server.reset();
        try {
            net.AppServer().call(QStringLiteral("SetDescEmi"), {});
            QFAIL("call to a stopped server succeeded");
        } catch (const opd::RemoteCallError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("127.0.0.1:%1").arg(port)), qPrintable(e.message()));
        }
        // The call tried to open it once more, and that failed too.
        QVERIFY(!net.Connected());
        QCOMPARE(net.lastError(), QStringLiteral("Servidor de aplicação inacessível em 127.0.0.1:%1.").arg(port));
    }

    void callAfterAFailedOpenOpensAgainWithTheCurrentAddress()
    {
        int target = freePort();
        TNetConnection net;
        net.ServerName = Module;
        int before = 0;
        net.OnBeforeConnect = [&](QObject *) {
            ++before;
            net.setHost(QStringLiteral("127.0.0.1"));
            net.setPort(target);
        };
        QSignalSpy changed(&net, &TNetConnection::connectedChanged);
        net.setConnected(true);   // the server is down
        QVERIFY(!net.Connected());
        try {
            net.AppServer().call(QStringLiteral("GetNrPedido"), {});
            QFAIL("call to a server that is down went through");
        } catch (const opd::RemoteCallError &e) {
            QCOMPARE(e.message(), QStringLiteral("Servidor de aplicação inacessível em 127.0.0.1:%1.").arg(target));
        }
        QCOMPARE(before, 2);

        FakeAppServer server;    // back, on another address
        target = server.port();
        QVERIFY(RemoteResult::isOk(net.AppServer().call(QStringLiteral("GetNrPedido"), {})));
        QCOMPARE(before, 3);
        QVERIFY(net.Connected());
        QCOMPARE(server.healthHits(), 1);
        QCOMPARE(server.received().size(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);
    }
};

QTEST_GUILESS_MAIN(TestTNetConnection)
#include "tst_TNetConnection.moc"
