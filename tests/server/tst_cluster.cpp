// Two application servers on one PostgreSQL database behind HAProxy (the
// configuration of scripts/cluster): both get calls, and one
// of them killed during a run of reads and writes loses no read and stores
// every accepted write exactly once; a third one added while clerks work
// (scripts/cluster add) fails no call.

#include "server/RemoteResult.h"
#include "server/TNetConnection.h"
#include "tests/support/DbLines.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

using opd::RemoteArg;

namespace {

// Clerks on the balancer, each reading its branch's order numbers and
// writing the issuing description of an item of its own, back to back, so
// that the count of audit rows per item is exact.
struct Clerks
{
    std::atomic<bool> stop{false};
    std::atomic<int> readsOk{0}, readErrors{0}, writeErrors{0}, accepted{0}, writes{0};
    QStringList errors;
    std::mutex errorsMutex;
    std::vector<std::thread> threads;

    void start(const QString &host, int port, const QStringList &items, const QString &tag)
    {
        for (int c = 0; c < items.size(); ++c) {
            threads.emplace_back([this, host, port, key = items[c].split(QLatin1Char('|')), c, tag] {
                TNetConnection net;
                net.ServerName = QStringLiteral("OPD31000.rdmDescEmiPed");
                net.setHost(host);
                net.setPort(port);
                net.setConnected(true);
                for (int n = 0; !stop; ++n) {
                    try {
                        const QVariant r = net.AppServer().call(QStringLiteral("GetNrPedido"), {RemoteArg::text(key[0])});
                        RemoteResult::isOk(r) ? ++readsOk : ++readErrors;
                    } catch (const opd::RemoteCallError &e) {
                        ++readErrors;
                        std::lock_guard lock(errorsMutex);
                        errors << QStringLiteral("read: ") + e.message();
                    }
                    ++writes;
                    try {
                        const QVariant r = net.AppServer().call(QStringLiteral("SetDescEmi"),
                            {RemoteArg::text(QStringLiteral("%1 %2 %3").arg(tag).arg(c).arg(n)), RemoteArg::text(key[0]),
                             RemoteArg::text(key[1]), RemoteArg::text(key[2])});
                        RemoteResult::isOk(r) ? ++accepted : ++writeErrors;
                    } catch (const opd::RemoteCallError &e) {
                        ++writeErrors;
                        std::lock_guard lock(errorsMutex);
                        errors << QStringLiteral("write: ") + e.message();
                    }
                }
            });
        }
    }
    void join()
    {
        stop = true;
        for (auto &t : threads)
            t.join();
        threads.clear();
    }
    ~Clerks() { join(); }
};

// Running, as opposed to gone or exited and not reaped yet.
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 2).startsWith('Z');
}

qint64 pidIn(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
}

} // namespace

class TestCluster : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString balancerHost;
    int balancerPort = 0;

    QString script() const { return QStringLiteral(OPD_SOURCE_DIR "/scripts/cluster"); }
    QString lbDir() const { return dir.path() + QStringLiteral("/lb"); }

    // scripts/cluster with the servers of this build.
    bool runScript(const QStringList &args, QByteArray *out = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OPD_BIN_DIR"), QFileInfo(opd::test::AppServerProcess::binary()).absolutePath());
        p.setProcessEnvironment(env);
        p.start(script(), args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning("scripts/cluster %s: %s", qPrintable(args.join(QLatin1Char(' '))), p.readAllStandardError().constData());
            return false;
        }
        if (out)
            *out = p.readAllStandardOutput().trimmed();
        return true;
    }

    // HAProxy in front of the two servers, once both pass their health check.
    // A seeded database, two servers on it (with `serverArgs`) and HAProxy in
    // front of them, both taking calls.
    void startBehindBalancer(opd::test::PgTestDatabase &db, opd::test::AppServerProcess &one,
                             opd::test::AppServerProcess &two, const QStringList &serverArgs = {})
    {
        QVERIFY2(db.isValid(), qPrintable(db.errorString()));
        opd::test::seedDatabase(db.url(), 60);
        QVERIFY2(one.start(db.url(), serverArgs), qPrintable(one.errorString()));
        QVERIFY2(two.start(db.url(), serverArgs), qPrintable(two.errorString()));
        QByteArray address;
        QVERIFY(runScript({QStringLiteral("balance"), lbDir(), QStringLiteral("127.0.0.1:%1").arg(one.port()),
                           QStringLiteral("127.0.0.1:%1").arg(two.port())}, &address));
        balancerHost = QString::fromUtf8(address.split(':').value(0));
        balancerPort = address.split(':').value(1).toInt();
        QVERIFY2(balancerPort > 0, address.constData());
        // Both get calls once they pass their health checks; the balancer
        // names the server that answered.
        QCOMPARE(servedBy({QStringLiteral("app1"), QStringLiteral("app2")}),
                 (QSet<QString>{QStringLiteral("app1"), QStringLiteral("app2")}));
    }

    // The servers that answered health checks sent through the balancer
    // until all of `expected` did, or 10 s passed.
    QSet<QString> servedBy(const QSet<QString> &expected) const
    {
        httplib::Client probe(balancerHost.toStdString(), balancerPort);
        QSet<QString> seen;
        QElapsedTimer timer;
        timer.start();
        while (!seen.contains(expected) && timer.elapsed() < 10000) {
            if (auto res = probe.Get("/health"); res && res->status == 200)
                seen << QString::fromStdString(res->get_header_value("X-Opd-Server"));
            else
                QThread::msleep(50);
        }
        return seen;
    }

    static QStringList ownItems(opd::db::Database &database, int n)
    {
        return selectLines(database, qPrintable(QStringLiteral(
            "SELECT CDFILIAL, NRPEDIDO, NRITEMPED FROM ITEMPEDIDO ORDER BY CDFILIAL, NRPEDIDO, NRITEMPED LIMIT %1").arg(n)), 3);
    }

private slots:
    void init()
    {
        if (!QFile::exists(QStringLiteral("/usr/sbin/haproxy")))
            QSKIP("haproxy is not installed (scripts/setup installs it)");
        if (opd::test::pgServerUrl().isEmpty())
            QSKIP("OPD_TEST_PG_URL not set");
    }

    void cleanup()
    {
        runScript({QStringLiteral("stop"), lbDir()});
    }

    void twoServersShareTheCallsAndSurviveTheDeathOfOne()
    {
        opd::test::PgTestDatabase db;
        opd::test::AppServerProcess one, two;
        // Workers to spare: each serves one kept-alive connection (the
        // balancer's and its health checks') at a time.
        startBehindBalancer(db, one, two, {QStringLiteral("--workers"), QStringLiteral("16")});
        if (QTest::currentTestFailed())
            return;

        auto database = opd::db::Database::open(db.url().toStdString());
        const QStringList items = ownItems(*database, 4);
        QCOMPARE(items.size(), 4);
        const long long auditBefore = selectLines(*database, "SELECT COUNT(*) FROM AUDITORIA", 1).value(0).toLongLong();

        Clerks clerks;
        clerks.start(balancerHost, balancerPort, items, QStringLiteral("escrita"));
        QTest::qWait(700);
        one.process().kill();   // SIGKILL during the run
        QTest::qWait(1500);
        clerks.join();

        const QStringList audits = selectLines(*database,
            "SELECT DSVALORNOV FROM AUDITORIA ORDER BY IDAUDITORIA", 1).mid(int(auditBefore));
        qInfo("reads %d, writes %d accepted %d, errors: %s", clerks.readsOk.load(), clerks.writes.load(),
              clerks.accepted.load(), qPrintable(clerks.errors.join(QStringLiteral("; "))));
        QVERIFY(clerks.readsOk > 8);
        // Only the calls in flight at the kill (one per clerk) may fail: a
        // read only when its answer had started (a read that broke before is
        // sent again), a write whichever way it broke, and then it was
        // stored once or not at all, never twice.
        QVERIFY2(clerks.readErrors + clerks.writeErrors <= 4, qPrintable(clerks.errors.join(QStringLiteral("; "))));
        for (const QString &e : std::as_const(clerks.errors))
            QVERIFY2(e.startsWith(QStringLiteral("write: ")) || e.startsWith(QStringLiteral("read: Resposta incompleta")),
                     qPrintable(e));
        QCOMPARE(clerks.accepted + clerks.writeErrors, clerks.writes.load());
        QVERIFY(audits.size() >= clerks.accepted && audits.size() <= clerks.accepted + clerks.writeErrors);
        QCOMPARE(QSet<QString>(audits.begin(), audits.end()).size(), audits.size());
    }

    // A third server taken in with scripts/cluster add while clerks work:
    // the balancer's reload fails no call, the new server gets its share,
    // and stop ends it and the HAProxy process the reload replaced.
    void aServerAddedWithoutStoppingTheOthers()
    {
        opd::test::PgTestDatabase db;
        opd::test::AppServerProcess one, two;
        startBehindBalancer(db, one, two);
        if (QTest::currentTestFailed())
            return;
        // The database the added server is to use, as scripts/cluster start leaves it.
        QFile url(lbDir() + QStringLiteral("/db.url"));
        QVERIFY(url.open(QIODevice::WriteOnly));
        url.write(db.url().toUtf8() + '\n');
        url.close();

        auto database = opd::db::Database::open(db.url().toStdString());
        const QStringList items = ownItems(*database, 4);
        QCOMPARE(items.size(), 4);
        const qint64 firstBalancer = pidIn(lbDir() + QStringLiteral("/haproxy.pid"));
        QVERIFY(running(firstBalancer));

        Clerks clerks;
        clerks.start(balancerHost, balancerPort, items, QStringLiteral("acréscimo"));
        QTest::qWait(500);
        QByteArray added;
        QVERIFY(runScript({QStringLiteral("add"), lbDir()}, &added));
        QVERIFY2(added.startsWith("app3 127.0.0.1:"), added.constData());
        const QSet<QString> three{QStringLiteral("app1"), QStringLiteral("app2"), QStringLiteral("app3")};
        QCOMPARE(servedBy(three), three);
        QTest::qWait(700);
        clerks.join();

        qInfo("reads %d, writes %d accepted %d, errors: %s", clerks.readsOk.load(), clerks.writes.load(),
              clerks.accepted.load(), qPrintable(clerks.errors.join(QStringLiteral("; "))));
        QVERIFY2(clerks.readErrors == 0 && clerks.writeErrors == 0, qPrintable(clerks.errors.join(QStringLiteral("; "))));
        QVERIFY(clerks.accepted > 8);
        // The clerks' own calls reached the new server, not only the health checks.
        QFile log(lbDir() + QStringLiteral("/appserver3.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY2(log.readAll().contains("method=OPD31000.rdmDescEmiPed.SetDescEmi status=ok"), "no write on app3");
        // The process the reload replaced hands over and goes.
        QTRY_VERIFY_WITH_TIMEOUT(!running(firstBalancer), 10000);

        const qint64 third = pidIn(lbDir() + QStringLiteral("/appserver3.pid"));
        const qint64 balancer = pidIn(lbDir() + QStringLiteral("/haproxy.pid"));
        QVERIFY(third > 0 && running(third) && balancer != firstBalancer && running(balancer));
        QVERIFY(runScript({QStringLiteral("stop"), lbDir()}));
        QVERIFY(!running(third));
        QVERIFY(!running(balancer));
        QVERIFY(!QFileInfo::exists(lbDir()));
    }
};

QTEST_GUILESS_MAIN(TestCluster)
#include "tst_cluster.moc"
