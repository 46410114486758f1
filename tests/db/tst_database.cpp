// The database layer: day counts, statements on both back ends, migrations
// and the seeder.
#include "db/DayCount.h"
#include "db/Migrator.h"
#include "db/PgDatabase.h"
#include "db/Seeder.h"
#include "tests/support/DbLines.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDate>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <mutex>
#include <thread>

using namespace opd::db;

namespace {

// Orders and items as the two back ends print them alike (quantities as numbers).
QByteArray contentDigest(Database &db)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(selectLines(db, "SELECT CDFILIAL, NRPEDIDO, CDCLIENTE, CDFILDEST, CDVENDEDOR, DTPEDIDO, DTENTPED,"
                           " CDSTATUS FROM PEDIDO ORDER BY CDFILIAL, NRPEDIDO", 8).join(QLatin1Char('\n')).toUtf8());
    auto items = db.prepare("SELECT CDFILIAL, NRPEDIDO, NRITEMPED, CDPRODUTO, QTITEMPED, DSEMISSAOITPED"
                            " FROM ITEMPEDIDO ORDER BY CDFILIAL, NRPEDIDO, NRITEMPED");
    while (items->step()) {
        for (int c : {0, 1, 2, 3, 5})
            hash.addData(cellText(*items, c).toUtf8());
        hash.addData(QByteArray::number(items->number(4)));
    }
    hash.addData(selectLines(db, "SELECT CDPRODUTO, CDARVPROD, NMPRODUTO, CDPRODESTO FROM PRODUTO ORDER BY 1", 4)
                     .join(QLatin1Char('\n')).toUtf8());
    return hash.result();
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<opd::test::PgTestDatabase> m_pg;
    std::string m_lastUrl;   // of the last database openBackend() gave

    void addBackends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }
    // A fresh, empty database of the row's back end (a new SQLite file each time).
    std::unique_ptr<Database> openBackend()
    {
        QFETCH(QString, backend);
        static int n = 0;
        if (backend == QLatin1String("sqlite"))
            m_lastUrl = ("sqlite:" + m_dir.filePath(QStringLiteral("t%1.db").arg(++n))).toStdString();
        else if (m_pg)
            m_lastUrl = m_pg->url().toStdString();
        else
            return nullptr;
        return Database::open(m_lastUrl);
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

    void dayCountsAgreeWithTheCalendar()
    {
        const QDate origin(1899, 12, 30);
        for (QDate d(1900, 1, 1); d.year() < 2101; d = d.addDays(37)) {
            long long days = -1;
            const std::string iso = d.toString(Qt::ISODate).toStdString();
            QVERIFY(dayCountFromIso(iso, &days));
            QCOMPARE(days, origin.daysTo(d));
            QCOMPARE(isoFromDayCount(days), iso);
        }
        long long days = 0;
        QVERIFY(dayCountFromIso("2024-02-29 13:45:00", &days));   // a timestamp reads as its day
        QCOMPARE(days, origin.daysTo(QDate(2024, 2, 29)));
        for (const char *bad : {"2023-02-29", "1900-02-29", "2024-13-01", "2024-00-10", "2024-04-31", "2024-1-01",
                                "abcd-ef-gh", "", "2024-01"})
            QVERIFY2(!dayCountFromIso(bad, &days), bad);

        // Today: the real clock (read on both sides of the call, so midnight
        // in between cannot fail it), or the day a test run pinned.
        const QByteArray pinned = qgetenv("OPD_TEST_TODAY");
        qunsetenv("OPD_TEST_TODAY");
        const QDate before = QDate::currentDate();
        const long long today = todayDayCount();
        const QDate after = QDate::currentDate();
        QVERIFY(today == origin.daysTo(before) || today == origin.daysTo(after));
        qputenv("OPD_TEST_TODAY", "2024-02-29");
        QCOMPARE(todayDayCount(), origin.daysTo(QDate(2024, 2, 29)));
        qputenv("OPD_TEST_TODAY", "2024-02-30");   // not a date: the clock again
        QVERIFY(todayDayCount() >= origin.daysTo(after));
        if (pinned.isNull())
            qunsetenv("OPD_TEST_TODAY");
        else
            qputenv("OPD_TEST_TODAY", pinned);
    }

    void placeholdersAreNumberedOutsideQuotes()
    {
        int count = 0;
        QCOMPARE(PgDatabase::numberPlaceholders("SELECT '?', ?, \"a?\", CAST(? AS json), 'it''s?', ?", &count),
                 std::string("SELECT '?', $1, \"a?\", CAST($2 AS json), 'it''s?', $3"));
        QCOMPARE(count, 3);
    }

    void statementsBindAndReadCells_data() { addBackends(); }
    void statementsBindAndReadCells()
    {
        auto db = openBackend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        db->execScript("DROP TABLE IF EXISTS T_CELLS; CREATE TABLE T_CELLS (K INTEGER, S VARCHAR(50), D DOUBLE PRECISION)");
        auto insert = db->prepare("INSERT INTO T_CELLS (K, S, D) VALUES (?, ?, ?)");
        const std::string accented = "Ação 'citada' \"dupla\" ; --";
        insert->bindDouble(1, 1);
        insert->bindText(2, accented);
        insert->bindDouble(3, 2.5);
        insert->exec();
        QCOMPARE(insert->changes(), 1LL);
        // Rebinding after a run starts the statement again.
        insert->bindDouble(1, 2);
        insert->bindText(2, "");
        insert->bindNull(3);
        insert->exec();
        insert->bindDouble(1, 3);
        insert->bindNull(2);
        insert->bindDouble(3, -0.125);
        insert->exec();

        auto select = db->prepare("SELECT K, S, D FROM T_CELLS WHERE K >= ? ORDER BY K");
        select->bindDouble(1, 1);
        QVERIFY(select->step());
        QCOMPARE(select->text(1), std::string_view(accented));
        QCOMPARE(select->number(2), 2.5);
        QVERIFY(select->step());
        QVERIFY(!select->isNull(1));          // the empty text is not null
        QCOMPARE(select->text(1).size(), size_t(0));
        QVERIFY(select->isNull(2));
        QVERIFY(select->step());
        QVERIFY(select->isNull(1));
        QCOMPARE(select->number(2), -0.125);
        QVERIFY(!select->step());
        select->reset();
        QVERIFY(select->step());              // reset keeps the bound values
        QCOMPARE(select->number(0), 1.0);

        QVERIFY_THROWS_EXCEPTION(DbError, db->prepare("SELEC nonsense"));
        {
            Transaction tx(*db, true);
            db->execScript("DELETE FROM T_CELLS");
        }   // not committed: rolled back
        QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM T_CELLS", 1), QStringList{QStringLiteral("3")});
        select.reset();   // SQLite refuses to drop a table a statement still reads
        insert.reset();
        db->execScript("DROP TABLE T_CELLS");
    }

    void failedTransactionReleasesItsStatements()
    {
        OPD_PG_ROW_NEEDS(m_pg && m_pg->isValid(), m_pg ? m_pg->errorString() : QString());
        auto db = Database::open(m_pg->url().toStdString());
        const auto prepared = [&] {
            auto s = db->prepare("SELECT COUNT(*) FROM pg_prepared_statements");
            s->step();
            return s->number(0);   // counts itself
        };
        const auto failOnce = [&] {
            try {
                Transaction tx(*db, true);
                auto bad = db->prepare("SELECT 1 / (0 * ?)");
                bad->bindDouble(1, 1);
                bad->step();
                QFAIL("division by zero went through");
            } catch (const DbError &) {
            }
        };
        failOnce();   // its statement is kept for the next use
        const double before = prepared();
        for (int round = 0; round < 3; ++round)
            failOnce();
        QCOMPARE(prepared(), before);
        // The connection is usable again and still answers the kept statement.
        auto ok = db->prepare("SELECT 1 / (0 * ?)");
        ok->bindNull(1);
        QVERIFY(ok->step());
        QVERIFY(ok->isNull(0));
    }

    // The server's sessions price random reads as cheap, which keeps the
    // search on its key indexes, but only where nobody chose a cost: a
    // database's setting and a URL's options win.
    void sessionsPriceRandomReadsUnlessTheAdministratorDid()
    {
        OPD_PG_ROW_NEEDS(m_pg && m_pg->isValid(), m_pg ? m_pg->errorString() : QString());
        const auto setting = [](Database &db, const char *name) {
            auto s = db.prepare("SELECT current_setting(?)");
            s->bindText(1, name);
            if (!s->step())
                return std::string("(no row)");
            return std::string(s->text(0));
        };
        const std::string url = m_pg->url().toStdString();
        {
            auto db = Database::open(url);
            QCOMPARE(setting(*db, "random_page_cost"), std::string("1.1"));
            QCOMPARE(setting(*db, "jit"), std::string("off"));
        }
        {
            auto db = Database::open(url + "?options=-c%20random_page_cost%3D2");
            QCOMPARE(setting(*db, "random_page_cost"), std::string("2"));
        }
        const std::string name = url.substr(url.rfind('/') + 1);
        Database::open(url)->execScript("ALTER DATABASE \"" + name + "\" SET random_page_cost = 3");
        {
            auto db = Database::open(url);
            QCOMPARE(setting(*db, "random_page_cost"), std::string("3"));
        }
        Database::open(url)->execScript("ALTER DATABASE \"" + name + "\" RESET random_page_cost");
    }

    // Statements are kept per connection by their text; several of one text
    // may be open at once, and a statement read half way does not disturb
    // another one run meanwhile (PostgreSQL streams one answer at a time).
    void statementsAreReusedAndMayInterleave_data() { addBackends(); }
    void statementsAreReusedAndMayInterleave()
    {
        auto db = openBackend();
        if (!db)
            QSKIP("OPD_TEST_PG_URL não definida");
        db->execScript("DROP TABLE IF EXISTS T_ROWS; CREATE TABLE T_ROWS (K INTEGER)");
        {
            Transaction tx(*db, true);
            auto insert = db->prepare("INSERT INTO T_ROWS (K) VALUES (?)");
            for (int k = 1; k <= 500; ++k) {
                insert->bindDouble(1, k);
                insert->exec();
            }
            tx.commit();
        }
        const char *sql = "SELECT K FROM T_ROWS WHERE K >= ? ORDER BY K";
        for (int round = 0; round < 3; ++round) {
            Transaction tx(*db, false);
            auto outer = db->prepare(sql);
            outer->bindDouble(1, 1);
            QVERIFY(outer->step());
            QCOMPARE(outer->number(0), 1.0);
            auto inner = db->prepare(sql);   // same text while the first is open
            inner->bindDouble(1, 400);
            long long sum = 0;
            while (inner->step())
                sum += (long long)inner->number(0);
            QCOMPARE(sum, (400LL + 500LL) * 101 / 2);
            QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM T_ROWS", 1), QStringList{QStringLiteral("500")});
            int seen = 1;
            while (outer->step())
                QCOMPARE(outer->number(0), double(++seen));
            QCOMPARE(seen, 500);
            inner->reset();
            QVERIFY(inner->step());          // a reset statement runs again with its values
            QCOMPARE(inner->number(0), 400.0);
            tx.commit();
        }
        {
            // A read abandoned half way (the client went away) is rolled
            // back without reading it to the end; the connection goes on.
            auto half = std::make_unique<Transaction>(*db, false);
            auto rows = db->prepare("SELECT A.K FROM T_ROWS A, T_ROWS B WHERE B.K <= 100 ORDER BY A.K, B.K");
            QVERIFY(rows->step());
            half.reset();
            rows.reset();
            QCOMPARE(selectLines(*db, "SELECT MAX(K) FROM T_ROWS", 1), QStringList{QStringLiteral("500")});
        }
        db->execScript("DROP TABLE T_ROWS");
    }

    // A lookup is a read transaction like a scan: it holds one snapshot to
    // its end while another connection commits, and sees what was committed
    // before it began, also after a write on its own connection.
    void lookupsAndScansKeepTheirSnapshots_data() { addBackends(); }
    void lookupsAndScansKeepTheirSnapshots()
    {
        auto db = openBackend();
        if (!db)
            QSKIP("OPD_TEST_PG_URL não definida");
        db->execScript("DROP TABLE IF EXISTS T_SNAP; CREATE TABLE T_SNAP (K INTEGER, V INTEGER);"
                       " INSERT INTO T_SNAP (K, V) VALUES (1, 1)");
        auto other = Database::open(m_lastUrl);
        const auto value = [&] {
            auto s = db->prepare("SELECT V FROM T_SNAP WHERE K = 1");
            return s->step() ? int(s->number(0)) : -1;
        };
        const auto store = [&](int v) {
            Transaction tx(*other, true);
            auto up = other->prepare("UPDATE T_SNAP SET V = ? WHERE K = 1");
            up->bindDouble(1, v);
            up->exec();
            up.reset();
            tx.commit();
        };
        for (int round = 0; round < 2; ++round) {
            const bool lookup = round == 0;
            const int before = value();
            auto tx = lookup ? std::make_unique<Transaction>(*db, Transaction::Lookup)
                             : std::make_unique<Transaction>(*db, false);
            QCOMPARE(value(), before);
            store(before + 1);
            QCOMPARE(value(), before);   // still the snapshot
            tx->commit();
            tx.reset();
            QCOMPARE(value(), before + 1);
        }
        {
            // A write after a lookup goes through and is seen by the next one.
            { Transaction read(*db, Transaction::Lookup); QCOMPARE(value(), 3); read.commit(); }
            Transaction tx(*db, true);
            db->prepare("UPDATE T_SNAP SET V = 10 WHERE K = 1")->exec();
            tx.commit();
            Transaction read(*db, Transaction::Lookup);
            QCOMPARE(value(), 10);
        }
        other.reset();
        db->execScript("DROP TABLE T_SNAP");
    }

    void migrationsApplyOnceAndGuardTheOrders_data() { addBackends(); }
    void migrationsApplyOnceAndGuardTheOrders()
    {
        auto db = openBackend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const int latest = Migrator::latestVersion(db->dialect());
        QVERIFY(latest >= 1);
        QCOMPARE(Migrator::migrate(*db), latest);
        QCOMPARE(Migrator::migrate(*db), latest);
        QCOMPARE(Migrator::currentVersion(*db), latest);
        QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM SCHEMA_VERSION", 1), QStringList{QString::number(latest)});

        Seeder::seed(*db, 3, 1);
        const auto insert = [&](const char *number, const char *status) {
            auto s = db->prepare("INSERT INTO PEDIDO (CDFILIAL, NRPEDIDO, CDVENDEDOR, DTPEDIDO, CDSTATUS)"
                                 " VALUES ('0001', ?, '0001', '2026-01-05', ?)");
            s->bindText(1, number);
            s->bindText(2, status);
            s->exec();
        };
        QVERIFY_THROWS_EXCEPTION(DbError, insert("0000000100", "7"));
        QVERIFY_THROWS_EXCEPTION(DbError, insert("0000000100", "0"));
        QVERIFY_THROWS_EXCEPTION(DbError, insert("000000100", "1"));     // nine digits
        QVERIFY_THROWS_EXCEPTION(DbError, insert("00000001x0", "1"));
        QVERIFY_THROWS_EXCEPTION(DbError, insert("0000000001", "1"));    // duplicate key
        insert("0000000100", "6");
        // An item of an order that does not exist.
        QVERIFY_THROWS_EXCEPTION(DbError, db->execScript(
            "INSERT INTO ITEMPEDIDO (CDFILIAL, NRPEDIDO, NRITEMPED, CDPRODUTO, QTITEMPED)"
            " VALUES ('0002', '0000000100', '0001', '0000000002', 1)"));
    }

    void processesStartingTogetherMigrateOnce()
    {
        // Each round is a new file: the race is in its first switch to WAL
        // as much as in the migration, and one round often misses it.
        for (int round = 0; round < 8; ++round) {
            const std::string url =
                ("sqlite:" + m_dir.filePath(QStringLiteral("together%1.db").arg(round))).toStdString();
            std::vector<std::thread> starters;
            std::mutex lock;
            QStringList failures;
            for (int i = 0; i < 4; ++i) {
                starters.emplace_back([&] {
                    try {
                        auto db = Database::open(url);
                        Migrator::migrate(*db);
                    } catch (const std::exception &e) {
                        const std::lock_guard<std::mutex> hold(lock);
                        failures << QString::fromUtf8(e.what());
                    }
                });
            }
            for (auto &t : starters)
                t.join();
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
            auto db = Database::open(url);
            QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM SCHEMA_VERSION", 1),
                     QStringList{QString::number(Migrator::latestVersion(Dialect::Sqlite))});
        }
    }

    void seedIsDeterministicAndShapedForTheScreen_data() { addBackends(); }
    void seedIsDeterministicAndShapedForTheScreen()
    {
        auto db = openBackend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        Migrator::migrate(*db);
        const SeedCounts counts = Seeder::seed(*db, 700, 42);
        const QByteArray first = contentDigest(*db);
        // Same seed on a fresh SQLite file: the same rows, whatever the back end.
        auto other = Database::open(("sqlite:" + m_dir.filePath(QStringLiteral("again.db"))).toStdString());
        Migrator::migrate(*other);
        Seeder::seed(*other, 700, 42);
        QCOMPARE(contentDigest(*other), first);
        Seeder::seed(*other, 700, 43);
        QVERIFY(contentDigest(*other) != first);

        QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM PEDIDO", 1), QStringList{QString::number(counts.orders)});
        QCOMPARE(selectLines(*db, "SELECT COUNT(*) FROM ITEMPEDIDO", 1), QStringList{QString::number(counts.items)});
        QCOMPARE(selectLines(*db, "SELECT DISTINCT CDSTATUS FROM PEDIDO ORDER BY 1", 1),
                 QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(selectLines(*db, "SELECT MIN(N), MAX(N) FROM (SELECT COUNT(*) AS N FROM ITEMPEDIDO"
                            " GROUP BY CDFILIAL, NRPEDIDO) X", 2), QStringList{QStringLiteral("8|12")});
        QVERIFY(selectLines(*db, "SELECT CDFILIAL FROM FILIAL WHERE IDCNTRRESC = 'S'", 1).size() >= 2);
        QVERIFY(!selectLines(*db, "SELECT CDVENDEDOR FROM VENDEDOR WHERE IDCARGOVEND = 'R'", 1).isEmpty());
        QVERIFY(!selectLines(*db, "SELECT NRPEDIDO FROM PEDIDO WHERE CDFILDEST IS NOT NULL AND CDCLIENTE IS NULL", 1).isEmpty());
        QVERIFY(!selectLines(*db, "SELECT NRPEDIDO FROM PEDIDO WHERE DTENTPED IS NULL", 1).isEmpty());
        QVERIFY(!selectLines(*db, "SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODESTO IS NULL", 1).isEmpty());
        // Stock products shared by several purchase products.
        QVERIFY(!selectLines(*db, "SELECT CDPRODESTO FROM PRODUTO WHERE CDPRODESTO IS NOT NULL AND CDPRODESTO <> CDPRODUTO"
                            " GROUP BY CDPRODESTO HAVING COUNT(*) >= 2", 1).isEmpty());

        // The screen's customer lookup, line by line as it stands, finds every customer once.
        const char *customerLookup =
            "SELECT\n"
            "   C.CDCLIENTE , C.IDTPIJURCLIE, C.NRINSJURCLIE,\n"
            "   C.NMFANTCLIE, C.NMRAZSOCCLIE, P.NMPAIS, \n"
            "   M.SGESTADO  , M.NMMUNICIPIO , E.DSENDECLIE \n"
            "FROM\n"
            "   CLIENTE C, PAIS P, \n"
            "   MUNICIPIO M, ENDECLIE E\n"
            "WHERE \n"
            "   (C.CDCLIENTE   = E.CDCLIENTE  ) AND\n"
            "   (E.CDPAIS      = M.CDPAIS     ) AND\n"
            "   (E.SGESTADO    = M.SGESTADO   ) AND\n"
            "   (E.CDMUNICIPIO = M.CDMUNICIPIO) AND\n"
            "   (M.CDPAIS      = P.CDPAIS     ) AND\n"
            "   (IDTPENDECLIE  = 'P')\n"
            "ORDER BY"
            "   NRINSJURCLIE";
        QCOMPARE(selectLines(*db, customerLookup, 9).size(), selectLines(*db, "SELECT CDCLIENTE FROM CLIENTE", 1).size());
        // The description picker's lookup: names sharing the stock product of an item's product.
        auto names = db->prepare("SELECT CDARVPROD, NMPRODUTO"
                                 "  FROM PRODUTO P"
                                 " WHERE (P.CDPRODESTO = (SELECT PE.CDPRODESTO"
                                 "                          FROM PRODUTO PE"
                                 "                         WHERE PE.CDPRODUTO = ?))"
                                 " ORDER BY 1");
        names->bindText(1, "0000000002");
        int found = 0;
        while (names->step())
            ++found;
        QVERIFY(found >= 3);   // the stock product itself and its 2-4 purchase products
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
