// The real opd-appserver killed with SIGKILL in the middle of a burst of
// description writes from several keep-alive clients, then started again on
// the same database. Only the HTTP contract is used (POST /rpc in JSON).
// Afterwards: every write a client saw acknowledged is stored with exactly
// one audit row, nothing is stored twice, each item's audit rows chain old
// value to new value up to what the item holds, and the database itself is
// sound (SQLite integrity_check; on PostgreSQL amcheck over the indexes).
#include "RpcTestClient.h"

#include "db/Database.h"
#include "tests/support/DbLines.h"
#include "tests/support/TestSupport.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

using opd::db::Database;

namespace {

struct Item
{
    QString branch, order, item;
    QString key() const { return branch + QLatin1Char('/') + order + QLatin1Char('/') + item; }
};

struct Write
{
    int item = 0;        // index into the items
    QString value;
    bool acknowledged = false;
};

enum class Outcome { Acknowledged, Refused, NoAnswer };

Outcome setDescription(httplib::Client &client, const Item &item, const QString &value, QString *why)
{
    const QByteArray body = RpcTestClient::body(QStringLiteral("SetDescEmi"),
                                                {val(value), val(item.branch), val(item.order), val(item.item)});
    auto answer = client.Post("/rpc", body.constData(), size_t(body.size()), "application/json");
    if (!answer || answer->status != 200)
        return Outcome::NoAnswer;
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(answer->body)).object();
    if (RpcTestClient::ok(reply))
        return Outcome::Acknowledged;
    *why = RpcTestClient::message(reply) + QString::fromStdString(answer->body);
    return Outcome::Refused;
}

} // namespace

class TestCrashRestart : public QObject
{
    Q_OBJECT

    static constexpr int kClients = 4;
    QTemporaryDir m_dir;
    std::unique_ptr<opd::test::PgTestDatabase> m_pg;

    // Each client writes its own items (index % kClients), one call at a
    // time, until the server stops answering or `stop` is set. At most the
    // one call in flight at the kill is sent but unacknowledged.
    static void burst(int port, const std::vector<Item> &items, int client, int round, int limit,
                      std::atomic<int> &acknowledged, const std::atomic<bool> &stop,
                      std::vector<Write> &writes, QString &refusal)
    {
        httplib::Client http("127.0.0.1", port);
        http.set_tcp_nodelay(true);
        http.set_keep_alive(true);
        http.set_connection_timeout(2);
        http.set_read_timeout(10);
        for (int n = 0; n < limit && !stop; ++n) {
            Write w;
            w.item = (n * kClients + client) % int(items.size());
            w.value = QStringLiteral("queda %1 cliente %2 escrita %3").arg(round).arg(client).arg(n);
            writes.push_back(w);
            QString why;
            const Outcome outcome = setDescription(http, items[size_t(w.item)], w.value, &why);
            if (outcome == Outcome::NoAnswer)
                return;
            if (outcome == Outcome::Refused) {
                refusal = why;
                return;
            }
            writes.back().acknowledged = true;
            ++acknowledged;
        }
    }

    static std::vector<Write> runClients(int port, const std::vector<Item> &items, int round, int limit,
                                         opd::test::AppServerProcess *killAfterAcks, int acksBeforeKill,
                                         QString *refusal)
    {
        std::atomic<int> acknowledged{0};
        std::atomic<bool> stop{false};
        std::vector<std::vector<Write>> perClient(kClients);
        std::vector<QString> refusals(kClients);
        std::vector<std::thread> threads;
        for (int c = 0; c < kClients; ++c)
            threads.emplace_back(burst, port, std::cref(items), c, round, limit, std::ref(acknowledged),
                                 std::cref(stop), std::ref(perClient[size_t(c)]), std::ref(refusals[size_t(c)]));
        if (killAfterAcks) {
            QElapsedTimer waited;
            waited.start();
            while (acknowledged < acksBeforeKill && waited.elapsed() < 30000)
                QThread::usleep(200);
            killAfterAcks->process().kill();   // SIGKILL: no clean shutdown of any kind
            killAfterAcks->process().waitForFinished(5000);
        }
        for (std::thread &t : threads)
            t.join();
        std::vector<Write> all;
        for (int c = 0; c < kClients; ++c) {
            all.insert(all.end(), perClient[size_t(c)].begin(), perClient[size_t(c)].end());
            if (!refusals[size_t(c)].isEmpty())
                *refusal = refusals[size_t(c)];
        }
        return all;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!opd::test::pgServerUrl().isEmpty()) {
            m_pg = std::make_unique<opd::test::PgTestDatabase>();
            QVERIFY2(m_pg->isValid(), qPrintable(m_pg->errorString()));
        }
    }
    void cleanupTestCase() { m_pg.reset(); }

    void acknowledgedWritesSurviveAKilledServer_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }
    void acknowledgedWritesSurviveAKilledServer()
    {
        QFETCH(QString, backend);
        QString url;
        if (backend == QLatin1String("sqlite")) {
            url = opd::test::makeSeededSqlite(m_dir.path(), 40, 3);
        } else {
            OPD_PG_ROW_NEEDS(m_pg && m_pg->isValid(), m_pg ? m_pg->errorString() : QString());
            url = m_pg->url();
            opd::test::seedDatabase(url, 40, 3);
        }
        auto db = Database::open(url.toStdString());
        std::vector<Item> items;
        std::map<QString, QString> seeded;   // item key -> description before the test
        for (const QString &line : selectLines(*db, "SELECT CDFILIAL, NRPEDIDO, NRITEMPED, DSEMISSAOITPED"
                                                     " FROM ITEMPEDIDO ORDER BY 1, 2, 3 LIMIT 24", 4)) {
            const QStringList cells = line.split(QLatin1Char('|'));
            items.push_back({cells[0], cells[1], cells[2]});
            seeded[items.back().key()] = cells[3];
        }
        QCOMPARE(int(items.size()), 24);
        const long long auditsBefore = selectLines(*db, "SELECT COUNT(*) FROM AUDITORIA", 1).value(0).toLongLong();
        const std::string lastAuditBefore =
            selectLines(*db, "SELECT COALESCE(MAX(IDAUDITORIA), 0) FROM AUDITORIA", 1).value(0).toStdString();

        // The burst, and the kill once 60 writes were acknowledged.
        QString refusal;
        std::vector<Write> writes;
        {
            opd::test::AppServerProcess server;
            QVERIFY2(server.start(url), qPrintable(server.errorString()));
            writes = runClients(server.port(), items, 1, 100000, &server, 60, &refusal);
            QCOMPARE(server.process().exitStatus(), QProcess::CrashExit);
        }
        QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
        int acknowledged = 0;
        for (const Write &w : writes)
            acknowledged += w.acknowledged;
        QVERIFY2(acknowledged >= 60, qPrintable(QString::number(acknowledged)));
        QVERIFY(int(writes.size()) <= acknowledged + kClients);   // one in flight per client at most

        // Started again on the same database, it serves writes at once.
        {
            opd::test::AppServerProcess server;
            QVERIFY2(server.start(url), qPrintable(server.errorString()));
            const std::vector<Write> after = runClients(server.port(), items, 2, 12, nullptr, 0, &refusal);
            QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
            QCOMPARE(int(after.size()), 12 * kClients);
            for (const Write &w : after)
                QVERIFY(w.acknowledged);
            writes.insert(writes.end(), after.begin(), after.end());
        }

        // Every write: one audit row if acknowledged, at most one if it was in flight.
        db = Database::open(url.toStdString());
        std::map<QString, int> auditsOf;
        for (const QString &line : selectLines(*db, "SELECT DSVALORNOV FROM AUDITORIA"
                                                     " WHERE NMCAMPO = 'DSEMISSAOITPED'", 1))
            ++auditsOf[line];
        for (const Write &w : writes) {
            const int n = auditsOf[w.value];
            QVERIFY2(n <= 1, qPrintable(w.value + QStringLiteral(": stored twice")));
            if (w.acknowledged)
                QVERIFY2(n == 1, qPrintable(w.value + QStringLiteral(": acknowledged but not audited")));
        }
        const long long auditsAfter = selectLines(*db, "SELECT COUNT(*) FROM AUDITORIA", 1).value(0).toLongLong();
        QVERIFY(auditsAfter - auditsBefore >= acknowledged + 12 * kClients);
        QVERIFY(auditsAfter - auditsBefore <= qsizetype(writes.size()));

        // Per item, the audit rows chain from the seeded text to the stored one.
        std::map<QString, QString> chained = seeded;
        auto audits = db->prepare("SELECT CDFILIAL, NRPEDIDO, NRITEMPED, DSVALORANT, DSVALORNOV FROM AUDITORIA"
                                  " WHERE NMCAMPO = 'DSEMISSAOITPED' AND IDAUDITORIA > ? ORDER BY IDAUDITORIA");
        audits->bindDouble(1, std::stod(lastAuditBefore));
        while (audits->step()) {
            const QString key = cellText(*audits, 0) + QLatin1Char('/') + cellText(*audits, 1) + QLatin1Char('/')
                                + cellText(*audits, 2);
            QVERIFY2(chained.count(key), qPrintable(key));
            QCOMPARE(cellText(*audits, 3), chained[key]);
            chained[key] = cellText(*audits, 4);
        }
        audits.reset();
        for (const Item &item : items) {
            auto read = db->prepare("SELECT DSEMISSAOITPED FROM ITEMPEDIDO WHERE CDFILIAL = ? AND NRPEDIDO = ?"
                                    " AND NRITEMPED = ?");
            read->bindText(1, item.branch.toStdString());
            read->bindText(2, item.order.toStdString());
            read->bindText(3, item.item.toStdString());
            QVERIFY(read->step());
            QCOMPARE(cellText(*read, 0), chained[item.key()]);
        }

        if (db->dialect() == opd::db::Dialect::Sqlite) {
            QCOMPARE(selectLines(*db, "PRAGMA integrity_check", 1), QStringList{QStringLiteral("ok")});
        } else {
            // amcheck raises an error on the first damaged index.
            db->execScript("CREATE EXTENSION IF NOT EXISTS amcheck");
            const QStringList checked = selectLines(*db,
                "SELECT bt_index_check(c.oid, true)::text FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid"
                " JOIN pg_am a ON a.oid = c.relam JOIN pg_class t ON t.oid = i.indrelid"
                " WHERE a.amname = 'btree' AND t.relname IN ('itempedido', 'auditoria', 'pedido')", 1);
            QVERIFY(checked.size() >= 3);
        }
    }
};

QTEST_MAIN(TestCrashRestart)
#include "tst_crash_restart.moc"
