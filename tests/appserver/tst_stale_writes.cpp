// Two clerks on one row: the writes' audit chain under concurrency, the
// stale-write check carried in "expect", and the history of a row. Every
// test runs on SQLite and, when OPD_TEST_PG_URL is set, on PostgreSQL, each
// clerk on a connection of its own.
#include "DbOracle.h"
#include "RpcTestClient.h"

#include "db/DayCount.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

using opd::db::Database;

namespace {

// A write with the optional "expect" member beside "params".
QByteArray bodyExpecting(const QString &method, const QList<Arg> &args, const QJsonValue &expect)
{
    QJsonObject request = QJsonDocument::fromJson(RpcTestClient::body(method, args)).object();
    request.insert(QStringLiteral("expect"), QJsonObject{{QStringLiteral("value"), expect}});
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

QJsonObject callExpecting(RpcTestClient &client, Database &db, const QString &method, const QList<Arg> &args,
                          const QJsonValue &expect, const std::string &user)
{
    return QJsonDocument::fromJson(client.raw(db, bodyExpecting(method, args, expect), "application/json", user)
                                       .collect()).object();
}

QJsonObject conflictOf(const QJsonObject &answer)
{
    return RpcTestClient::result(answer).value(QStringLiteral("conflict")).toObject();
}

QString shownDay(long long day)
{
    return QDate(1899, 12, 30).addDays(day).toString(QStringLiteral("dd/MM/yyyy"));
}

// One field of one row, and how each side of a test writes and reads it.
struct Target
{
    bool date = true;
    QString branch, order, item;   // item empty for the order's date

    QString method() const { return date ? QStringLiteral("SetDtEntregaPed") : QStringLiteral("SetDescEmi"); }
    QList<Arg> args(const QJsonValue &v) const
    {
        if (date)
            return {::date(v.toDouble()), val(branch), val(order)};
        return {val(v.toString()), val(branch), val(order), val(item)};
    }
    QString auditWhere() const
    {
        return QStringLiteral(" WHERE CDFILIAL = '%1' AND NRPEDIDO = '%2' AND NMCAMPO = '%3'")
                   .arg(branch, order, date ? QStringLiteral("DTENTPED") : QStringLiteral("DSEMISSAOITPED"))
               + (date ? QString() : QStringLiteral(" AND NRITEMPED = '%1'").arg(item));
    }
};

} // namespace

class TestStaleWrites : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sqliteUrl;
    std::unique_ptr<opd::test::PgTestDatabase> m_pg;
    RpcTestClient m_client;
    long long m_today = 0;
    int m_nextOrder = 0;

    void addBackendsAndFields()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("date");
        for (const char *b : {"sqlite", "postgresql"}) {
            QTest::addRow("%s-date", b) << QString::fromLatin1(b) << true;
            QTest::addRow("%s-description", b) << QString::fromLatin1(b) << false;
        }
    }
    void addBackends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }
    // The data row's database URL; empty when PostgreSQL is not configured.
    QString url()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("postgresql"))
            return m_pg ? m_pg->url() : QString();
        return m_sqliteUrl;
    }
    std::unique_ptr<Database> connect()
    {
        const QString u = url();
        return u.isEmpty() ? nullptr : Database::open(u.toStdString());
    }
    // A fresh row for each test: an order entered before today and one of its items.
    Target target(Database &db, bool date)
    {
        const std::string sql = "SELECT I.CDFILIAL, I.NRPEDIDO, I.NRITEMPED FROM PEDIDO P JOIN ITEMPEDIDO I"
                                " ON I.CDFILIAL = P.CDFILIAL AND I.NRPEDIDO = P.NRPEDIDO WHERE P.DTPEDIDO <= '"
                                + opd::db::isoFromDayCount(m_today) + "' ORDER BY I.CDFILIAL, I.NRPEDIDO, I.NRITEMPED";
        const QStringList rows = selectLines(db, sql.c_str(), 3);
        // Items of the same order share the date: step far enough to change order.
        const QStringList cells = rows.value((m_nextOrder++) * 7 % int(rows.size())).split(QLatin1Char('|'));
        return {date, cells.value(0), cells.value(1), date ? QString() : cells.value(2)};
    }
    // The value the search delivers for the target: a day count or a text (null: none).
    QJsonValue loaded(Database &db, const Target &t)
    {
        PedidoArgs search;
        search.branch = t.branch;
        search.allNumbersNotList = QString();
        search.numbers = QStringLiteral("'%1'").arg(t.order);
        const QJsonArray payload = RpcTestClient::result(m_client.call(db, QStringLiteral("GetPedido"), search.toArgs()))
                                       .value(QStringLiteral("payload")).toArray();
        if (t.date)
            return payload.at(0)[QStringLiteral("rows")][0][3];
        for (const QJsonValue &row : payload.at(1)[QStringLiteral("rows")].toArray()) {
            if (row[1].toString() == t.item)
                return row[8];
        }
        return QJsonValue(QJsonValue::Undefined);
    }
    QString stored(Database &db, const Target &t)
    {
        const QString sql = t.date ? QStringLiteral("SELECT DTENTPED FROM PEDIDO WHERE CDFILIAL = '%1' AND NRPEDIDO = '%2'")
                                         .arg(t.branch, t.order)
                                   : QStringLiteral("SELECT DSEMISSAOITPED FROM ITEMPEDIDO WHERE CDFILIAL = '%1'"
                                                    " AND NRPEDIDO = '%2' AND NRITEMPED = '%3'").arg(t.branch, t.order, t.item);
        return selectLines(db, sql.toUtf8().constData(), 1).value(0);
    }
    int auditCount(Database &db, const Target &t)
    {
        return selectLines(db, ("SELECT COUNT(*) FROM AUDITORIA" + t.auditWhere()).toUtf8().constData(), 1)
            .value(0).toInt();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_today = opd::db::todayDayCount();
        m_sqliteUrl = opd::test::makeSeededSqlite(m_dir.path(), 200, 5);
        if (!opd::test::pgServerUrl().isEmpty()) {
            m_pg = std::make_unique<opd::test::PgTestDatabase>();
            QVERIFY2(m_pg->isValid(), qPrintable(m_pg->errorString()));
            opd::test::seedDatabase(m_pg->url(), 200, 5);
        }
    }
    void cleanupTestCase() { m_pg.reset(); }

    // Four clerks write one row 100 times each at the same moment: every
    // audit row's old value is the new value of the row before it.
    void concurrentWritesKeepAnExactAuditChain_data() { addBackendsAndFields(); }
    void concurrentWritesKeepAnExactAuditChain()
    {
        QFETCH(bool, date);
        std::unique_ptr<Database> db = connect();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const Target t = target(*db, date);
        const int before = auditCount(*db, t);
        constexpr int kThreads = 4, kWrites = 100;
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        const QString u = url();
        for (int n = 0; n < kThreads; ++n) {
            threads.emplace_back([&, n] {
                try {
                    auto own = Database::open(u.toStdString());
                    RpcTestClient client;
                    for (int i = 0; i < kWrites; ++i) {
                        // Every value distinct, so that no write is a no-op.
                        const QJsonValue v = date ? QJsonValue(double(m_today + 1 + n * kWrites + i))
                                                  : QJsonValue(QStringLiteral("clerk %1 write %2").arg(n).arg(i));
                        if (!RpcTestClient::ok(client.call(*own, t.method(), t.args(v), "clerk" + std::to_string(n))))
                            ++failures;
                    }
                } catch (...) {
                    failures += kWrites;
                }
            });
        }
        for (auto &th : threads)
            th.join();
        QCOMPARE(failures.load(), 0);

        const QStringList chain = selectLines(*db, ("SELECT DSVALORANT, DSVALORNOV FROM AUDITORIA" + t.auditWhere()
                                                    + " ORDER BY IDAUDITORIA").toUtf8().constData(), 2);
        QCOMPARE(chain.size(), before + kThreads * kWrites);
        for (int i = before + 1; i < chain.size(); ++i) {
            const QString old = chain[i].section(QLatin1Char('|'), 0, 0);
            const QString previous = chain[i - 1].section(QLatin1Char('|'), 1, 1);
            QVERIFY2(old == previous, qPrintable(QStringLiteral("row %1: old %2, previous new %3").arg(i).arg(old, previous)));
        }
        QCOMPARE(stored(*db, t).left(10), chain.last().section(QLatin1Char('|'), 1, 1).left(10));
    }

    // A and B load the same row; B writes; A's write over B's is refused
    // with B's name, time and value, writing nothing; A writing again after
    // seeing B's value succeeds; storing B's own value is no conflict; a
    // write without an expectation still wins.
    void staleWriteIsRefusedAndNamesTheOtherClerk_data() { addBackendsAndFields(); }
    void staleWriteIsRefusedAndNamesTheOtherClerk()
    {
        QFETCH(bool, date);
        std::unique_ptr<Database> a = connect();
        OPD_PG_ROW_NEEDS(a, m_pg ? m_pg->errorString() : QString());
        std::unique_ptr<Database> b = connect();
        const Target t = target(*a, date);
        const QJsonValue seenByA = loaded(*a, t);
        const QJsonValue seenByB = loaded(*b, t);
        QVERIFY(!seenByA.isUndefined());
        QCOMPARE(seenByA, seenByB);
        const int audits = auditCount(*a, t);
        const QJsonValue valueB = date ? QJsonValue(double(m_today + 40)) : QJsonValue(QStringLiteral("ESCRITO POR B"));
        const QJsonValue valueA = date ? QJsonValue(double(m_today + 50)) : QJsonValue(QStringLiteral("ESCRITO POR A"));

        QJsonObject answer = callExpecting(m_client, *b, t.method(), t.args(valueB), seenByB, "bruno");
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));

        const QByteArray digest = databaseDigest(*a);
        answer = callExpecting(m_client, *a, t.method(), t.args(valueA), seenByA, "ana");
        QVERIFY(!RpcTestClient::ok(answer));
        const QJsonObject conflict = conflictOf(answer);
        QCOMPARE(conflict.value(QStringLiteral("value")), valueB);
        QCOMPARE(conflict.value(QStringLiteral("user")).toString(), QStringLiteral("bruno"));
        const QDateTime when = QDateTime::fromString(conflict.value(QStringLiteral("when")).toString(),
                                                     QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(when.isValid());
        QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 120);
        const QString subject = date ? QStringLiteral("O pedido %1").arg(t.order)
                                     : QStringLiteral("O item %1 do pedido %2").arg(t.item, t.order);
        const QString what = date ? QStringLiteral("Data Entrega %1").arg(shownDay((long long)valueB.toDouble()))
                                  : QStringLiteral("Descrição para Emissão \"ESCRITO POR B\"");
        QCOMPARE(RpcTestClient::message(answer),
                 QStringLiteral("%1 foi alterado por bruno em %2 (%3). Sua alteração não foi gravada.")
                     .arg(subject, when.toString(QStringLiteral("dd/MM/yyyy HH:mm")), what));
        QCOMPARE(databaseDigest(*a), digest);
        QCOMPARE(auditCount(*a, t), audits + 1);

        // B's own value, even from a stale view, changes nothing and is no conflict.
        answer = callExpecting(m_client, *a, t.method(), t.args(valueB), seenByA, "ana");
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QCOMPARE(databaseDigest(*a), digest);

        // Having seen B's value, A's write goes through.
        answer = callExpecting(m_client, *a, t.method(), t.args(valueA), conflict.value(QStringLiteral("value")), "ana");
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QCOMPARE(auditCount(*a, t), audits + 2);

        // Without an expectation the last write wins, as for an older client.
        answer = m_client.call(*b, t.method(), t.args(valueB), "bruno");
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QCOMPARE(auditCount(*b, t), audits + 3);
        const QString last = selectLines(*b, ("SELECT DSVALORANT, DSVALORNOV, CDUSUARIO FROM AUDITORIA" + t.auditWhere()
                                              + " ORDER BY IDAUDITORIA DESC").toUtf8().constData(), 3).value(0);
        const auto iso = [](const QJsonValue &v) {
            return v.isString() ? v.toString() : QString::fromStdString(opd::db::isoFromDayCount((long long)v.toDouble()));
        };
        QCOMPARE(last, QStringList({iso(valueA), iso(valueB), QStringLiteral("bruno")}).join(QLatin1Char('|')));
    }

    // A value that no audit row explains (changed outside the server) is
    // still refused, naming nobody.
    void staleWriteOverAnUnauditedChangeNamesNobody_data() { addBackends(); }
    void staleWriteOverAnUnauditedChangeNamesNobody()
    {
        std::unique_ptr<Database> db = connect();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const Target t = target(*db, false);
        const QJsonValue seen = loaded(*db, t);
        auto change = db->prepare("UPDATE ITEMPEDIDO SET DSEMISSAOITPED = NULL WHERE CDFILIAL = ? AND NRPEDIDO = ?"
                                  " AND NRITEMPED = ?");
        change->bindText(1, t.branch.toStdString());
        change->bindText(2, t.order.toStdString());
        change->bindText(3, t.item.toStdString());
        change->exec();
        const QJsonObject answer = callExpecting(m_client, *db, t.method(), t.args(QStringLiteral("NOVA")),
                                                 seen.isNull() ? QJsonValue(QStringLiteral("OUTRA")) : seen, "ana");
        QVERIFY(!RpcTestClient::ok(answer));
        QCOMPARE(RpcTestClient::message(answer),
                 QStringLiteral("O item %1 do pedido %2 foi alterado por outro usuário (Descrição para Emissão em branco)."
                                " Sua alteração não foi gravada.").arg(t.item, t.order));
        QVERIFY(conflictOf(answer).value(QStringLiteral("value")).isNull());
        QCOMPARE(conflictOf(answer).value(QStringLiteral("user")).toString(), QString());
    }

    void malformedExpectationsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("expect");
        QTest::addColumn<bool>("description");
        QTest::addColumn<int>("code");   // 0: a refusal by the module
        QTest::newRow("not an object") << QByteArray("\"x\"") << true << -32602;
        QTest::newRow("no value") << QByteArray("{}") << true << -32602;
        QTest::newRow("extra member") << QByteArray("{\"value\":null,\"x\":1}") << true << -32602;
        QTest::newRow("boolean") << QByteArray("{\"value\":true}") << true << -32602;
        QTest::newRow("list") << QByteArray("{\"value\":[1]}") << false << -32602;
        QTest::newRow("number for a text") << QByteArray("{\"value\":3}") << true << 0;
        QTest::newRow("text for a date") << QByteArray("{\"value\":\"x\"}") << false << 0;
        QTest::newRow("date out of range") << QByteArray("{\"value\":-4}") << false << 0;
    }
    void malformedExpectationsAreRefused()
    {
        QFETCH(QByteArray, expect);
        QFETCH(bool, description);
        QFETCH(int, code);
        auto db = Database::open(m_sqliteUrl.toStdString());
        const Target t = target(*db, !description);
        QByteArray body = RpcTestClient::body(t.method(), t.args(description ? QJsonValue(QStringLiteral("Z"))
                                                                               : QJsonValue(double(m_today + 3))));
        body.chop(1);
        body += ",\"expect\":" + expect + "}";
        const QByteArray digest = databaseDigest(*db);
        const QJsonObject answer = QJsonDocument::fromJson(m_client.raw(*db, body).collect()).object();
        if (code) {
            QCOMPARE(RpcTestClient::errorCode(answer), code);
        } else {
            QVERIFY(!RpcTestClient::ok(answer));
            QVERIFY(RpcTestClient::message(answer).startsWith(QStringLiteral("Valor esperado inválido")));
        }
        QCOMPARE(databaseDigest(*db), digest);
    }

    // Two writes of an order's date and one of an item's description: the
    // order's history holds its two rows newest first, the item's its own.
    void historyListsTheRowsOfTheRowNewestFirst_data() { addBackends(); }
    void historyListsTheRowsOfTheRowNewestFirst()
    {
        std::unique_ptr<Database> db = connect();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        Target order = target(*db, true);
        Target item = order;
        item.date = false;
        item.item = selectLines(*db, QStringLiteral("SELECT NRITEMPED FROM ITEMPEDIDO WHERE CDFILIAL = '%1' AND NRPEDIDO = '%2'"
                                                    " ORDER BY NRITEMPED").arg(order.branch, order.order).toUtf8().constData(), 1).value(0);
        const QString first = stored(*db, order);
        QVERIFY(RpcTestClient::ok(m_client.call(*db, order.method(), order.args(double(m_today + 20)), "maria")));
        QVERIFY(RpcTestClient::ok(m_client.call(*db, order.method(), order.args(double(m_today + 21)), "jose")));
        QVERIFY(RpcTestClient::ok(m_client.call(*db, item.method(), item.args(QStringLiteral("PARAFUSO")), "ana")));

        const auto history = [&](const QString &itemNumber) {
            const QJsonObject answer = m_client.call(*db, QStringLiteral("GetHistorico"),
                                                     {val(order.branch), val(order.order), val(itemNumber)});
            return RpcTestClient::rows(RpcTestClient::result(answer).value(QStringLiteral("payload")).toObject());
        };
        const QStringList rows = history(QString());
        QCOMPARE(rows.size(), 2);
        const QString now = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
        const QString firstShown = first == QLatin1String("<null>") ? first : shownDay([&] {
            long long d = 0;
            opd::db::dayCountFromIso(first.left(10).toStdString(), &d);
            return d;
        }());
        QVERIFY2(rows[0].startsWith(now + QLatin1Char(' ')), qPrintable(rows[0]));
        QCOMPARE(rows[0].section(QLatin1Char('|'), 1),
                 QStringLiteral("jose|Data Entrega|%1|%2").arg(shownDay(m_today + 20), shownDay(m_today + 21)));
        QCOMPARE(rows[1].section(QLatin1Char('|'), 1),
                 QStringLiteral("maria|Data Entrega|%1|%2").arg(firstShown, shownDay(m_today + 20)));
        const QStringList itemRows = history(item.item);
        QCOMPARE(itemRows.size(), 1);
        QVERIFY2(itemRows[0].endsWith(QStringLiteral("|ana|Descrição para Emissão|") + itemRows[0].section(QLatin1Char('|'), 3, 3)
                                      + QStringLiteral("|PARAFUSO")), qPrintable(itemRows[0]));
        QVERIFY(history(QStringLiteral("9999")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStaleWrites)
#include "tst_stale_writes.moc"
