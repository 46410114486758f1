// Lookup queries on the shared connection, run once per back end: SQLite
// always, PostgreSQL when OPD_TEST_PG_URL names a server.
#include "host/TADOIBQuery.h"
#include "platform/Dates.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Writes through a connection of its own: the shared one is read-only.
bool run(const QString &connection, const QStringList &statements, QString *error)
{
    QSqlQuery q(QSqlDatabase::database(connection));
    for (const QString &sql : statements) {
        if (!q.exec(sql)) {
            *error = sql + QStringLiteral(": ") + q.lastError().text();
            return false;
        }
    }
    return true;
}

QString rowText(opd::ClientDataSet *ds)
{
    QStringList cells;
    for (const auto &f : ds->fields())
        cells << (f->isNull() ? QStringLiteral("<null>") : f->displayText());
    return cells.join('|');
}

} // namespace

class TstADOIBQuery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_sqlitePath = m_dir.filePath(QStringLiteral("host.db"));
        const QStringList setup{
            QStringLiteral("CREATE TABLE %1FILIAL (CDFILIAL VARCHAR(4), NMFILIAL VARCHAR(50), IDCNTRRESC CHAR(1), "
                           "VLTAXA NUMERIC(10,2), DTABERT DATE)"),
            QStringLiteral("INSERT INTO %1FILIAL VALUES ('0002', 'Filial Dois', 'N', 1.5, '2024-05-10')"),
            QStringLiteral("INSERT INTO %1FILIAL VALUES ('0001', 'Matriz São Paulo', 'N', NULL, NULL)"),
            QStringLiteral("INSERT INTO %1FILIAL VALUES ('0003', 'Filial com um nome bem mais comprido que trinta', 'S', 2, NULL)"),
            QStringLiteral("INSERT INTO %1FILIAL VALUES ('X''1', 'Aspas', 'N', 0, NULL)"),
        };
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            db.setDatabaseName(m_sqlitePath);
            QVERIFY(db.open());
            QStringList sql;
            for (const QString &s : setup)
                sql << s.arg(QString());
            QVERIFY2(run(QStringLiteral("setup"), sql, &error), qPrintable(error));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("setup"));

        m_pgUrl = qEnvironmentVariable("OPD_TEST_PG_URL");
        if (m_pgUrl.isEmpty())
            return;
        m_schema = QStringLiteral("host_test_%1").arg(QRandomGenerator::global()->generate());
        const QUrl url(m_pgUrl);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pgsetup"));
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QStringList sql{QStringLiteral("CREATE SCHEMA %1").arg(m_schema)};
        for (const QString &s : setup)
            sql << s.arg(m_schema + QLatin1Char('.'));
        QVERIFY2(run(QStringLiteral("pgsetup"), sql, &error), qPrintable(error));
    }

    void cleanupTestCase()
    {
        dtmDBGeral::close();
        if (!m_schema.isEmpty()) {
            QString error;
            run(QStringLiteral("pgsetup"), {QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_schema)}, &error);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pgsetup"));
    }

    void init()
    {
        if (!QTest::currentDataTag())
            return;
        QFETCH(QString, backend);
        if (backend == QLatin1String("postgresql"))
            OPD_PG_ROW_NEEDS(!m_schema.isEmpty(), QStringLiteral("o esquema de teste não foi criado"));
        QVERIFY(openBackend(backend));
    }

    void cleanup()
    {
        dtmDBGeral::close();
    }

    void rowsArriveInDeclaredFieldsAndOrder_data() { backends(); }

    void rowsArriveInDeclaredFieldsAndOrder()
    {
        TADOIBQuery q;
        q.setSql(QStringLiteral("SELECT NMFILIAL, CDFILIAL, VLTAXA, DTABERT FROM %1FILIAL "
                                "WHERE IDCNTRRESC = 'N' ORDER BY CDFILIAL").arg(m_prefix));
        q.addField({"CDFILIAL", opd::FieldType::String, 4});
        q.addField({"NMFILIAL", opd::FieldType::String, 30});
        q.addField({"VLTAXA", opd::FieldType::Float, 8});
        q.addField({"DTABERT", opd::FieldType::DateTime, 8});
        QVERIFY(!q.isActive());
        q.Open();
        QVERIFY(q.isActive());
        QVERIFY(!q.IsEmpty());
        opd::ClientDataSet *ds = q.Query();
        QCOMPARE(ds->recordCount(), 3);
        QStringList rows;
        for (ds->first(); !ds->eof(); ds->next())
            rows << rowText(ds);
        QCOMPARE(rows, (QStringList{QStringLiteral("0001|Matriz São Paulo|<null>|<null>"),
                                    QStringLiteral("0002|Filial Dois|1,5|10/05/2024"),
                                    QStringLiteral("X'1|Aspas|0|<null>")}));
        QVERIFY(ds->fieldByName("CDFILIAL")->isReadOnly());
        q.Close();
        QVERIFY(!q.isActive());
    }

    void namedTextParameterIsBoundNotSpliced_data() { backends(); }

    void namedTextParameterIsBoundNotSpliced()
    {
        TADOIBQuery q;
        q.setSql(QStringLiteral(" SELECT F.CDFILIAL, F.NMFILIAL\n  FROM %1FILIAL F\n"
                                " WHERE (F.CDFILIAL = :P_CDFILIAL)\n   AND (IDCNTRRESC = 'N')\n"
                                "ORDER BY CDFILIAL").arg(m_prefix));
        q.addField({"CDFILIAL", opd::FieldType::String, 20});
        q.addField({"NMFILIAL", opd::FieldType::String, 50});
        q.setParam(QStringLiteral("P_CDFILIAL"), QStringLiteral("0002"));
        q.Open();
        QCOMPARE(q.Query()->recordCount(), 1);
        QCOMPARE(q.Query()->fieldByName("NMFILIAL")->asString(), QStringLiteral("Filial Dois"));

        // A quote in the value is data, not SQL.
        q.Close();
        q.setParam(QStringLiteral("P_CDFILIAL"), QStringLiteral("X'1"));
        q.Open();
        QCOMPARE(q.Query()->fieldByName("NMFILIAL")->asString(), QStringLiteral("Aspas"));
        q.setParam(QStringLiteral("P_CDFILIAL"), QStringLiteral("' OR '1'='1"));
        q.Open();
        QVERIFY(q.IsEmpty());
        // A branch not marked 'N' is not found.
        q.setParam(QStringLiteral("P_CDFILIAL"), QStringLiteral("0003"));
        q.Open();
        QVERIFY(q.IsEmpty());
    }

    void valueLongerThanFieldIsAnError_data() { backends(); }

    void valueLongerThanFieldIsAnError()
    {
        TADOIBQuery q;
        q.setSql(QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM %1FILIAL ORDER BY CDFILIAL").arg(m_prefix));
        q.addField({"CDFILIAL", opd::FieldType::String, 4});
        q.addField({"NMFILIAL", opd::FieldType::String, 30});
        try {
            q.Open();
            QFAIL("a 47-character name went into a 30-character field");
        } catch (const opd::DataSetError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("NMFILIAL")), qPrintable(e.message()));
        }
        QVERIFY(!q.isActive());   // nothing half-loaded
    }

    void missingParameterOrColumnIsAnError_data() { backends(); }

    void missingParameterOrColumnIsAnError()
    {
        TADOIBQuery q;
        q.setSql(QStringLiteral("SELECT CDFILIAL FROM %1FILIAL WHERE CDFILIAL = :P_CDFILIAL").arg(m_prefix));
        q.addField({"CDFILIAL", opd::FieldType::String, 4});
        QVERIFY_THROWS_EXCEPTION(opd::DataSetError, q.Open());

        TADOIBQuery noColumn;
        noColumn.setSql(QStringLiteral("SELECT CDFILIAL FROM %1FILIAL").arg(m_prefix));
        noColumn.addField({"NMFILIAL", opd::FieldType::String, 50});
        QVERIFY_THROWS_EXCEPTION(opd::DataSetError, noColumn.Open());

        TADOIBQuery badSql;
        badSql.setSql(QStringLiteral("SELEC CDFILIAL FROM %1FILIAL").arg(m_prefix));
        QVERIFY_THROWS_EXCEPTION(opd::DataSetError, badSql.Open());
    }

    void picksTheTextOfTheActiveBackend_data() { backends(); }

    void picksTheTextOfTheActiveBackend()
    {
        TADOIBQuery q;
        const QString sql = QStringLiteral("SELECT CDFILIAL FROM %1FILIAL WHERE CDFILIAL = '0001'").arg(m_prefix);
        const QString broken = QStringLiteral("SELECT nonsense FROM nowhere");
        const bool sqlite = dtmDBGeral::backend() == TADOIBQuery::Backend::SQLite;
        q.setSql(TADOIBQuery::Backend::SQLite, sqlite ? sql : broken);
        q.setSql(TADOIBQuery::Backend::PostgreSQL, sqlite ? broken : sql);
        q.addField({"CDFILIAL", opd::FieldType::String, 4});
        q.Open();
        QCOMPARE(q.Query()->recordCount(), 1);
    }

    void badUrlsAreRefused()
    {
        dtmDBGeral::close();
        QString error;
        QVERIFY(!dtmDBGeral::open(QStringLiteral("sqlite:") + m_dir.filePath("missing.db"), &error));
        QVERIFY(error.contains(QStringLiteral("missing.db")));
        QVERIFY(!QFile::exists(m_dir.filePath("missing.db")));
        QVERIFY(!dtmDBGeral::open(QStringLiteral("mysql://x/y"), &error));
        QVERIFY(!dtmDBGeral::open(QStringLiteral("postgresql://user@host:5432/"), &error));
        QVERIFY(!dtmDBGeral::isOpen());
        TADOIBQuery q;
        q.setSql(QStringLiteral("SELECT 1"));
        QVERIFY_THROWS_EXCEPTION(opd::DataSetError, q.Open());
    }

    void urlOptionsReachPostgres()
    {
        if (m_pgUrl.isEmpty())
            QSKIP("OPD_TEST_PG_URL não definida");
        // Decoded, quoted for the driver's connection string and passed on:
        // a blank and a quote in the value arrive as written.
        const QChar join = m_pgUrl.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
        QString error;
        QVERIFY2(dtmDBGeral::open(m_pgUrl + join + QStringLiteral("application_name=opd%20host%27s&connect_timeout=5"),
                                  &error),
                 qPrintable(error));
        QSqlQuery show(QSqlDatabase::database(dtmDBGeral::connectionName()));
        QVERIFY2(show.exec(QStringLiteral("SHOW application_name")) && show.next(), qPrintable(show.lastError().text()));
        QCOMPARE(show.value(0).toString(), QStringLiteral("opd host's"));
        show = QSqlQuery();
        // The driver splits its options at ';', so such a value is refused, not mangled.
        QVERIFY(!dtmDBGeral::open(m_pgUrl + join + QStringLiteral("application_name=a%3Bb"), &error));
        QVERIFY2(error.contains(QStringLiteral("application_name")), qPrintable(error));
        dtmDBGeral::close();
    }

private:
    void backends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    bool openBackend(const QString &name);

    QTemporaryDir m_dir;
    QString m_sqlitePath;
    QString m_pgUrl;
    QString m_schema;   // PostgreSQL: a schema of this run only
    QString m_prefix;   // table prefix for the back end under test
};

bool TstADOIBQuery::openBackend(const QString &name)
{
    QString error;
    if (name == QLatin1String("sqlite")) {
        m_prefix.clear();
        if (!dtmDBGeral::open(QStringLiteral("sqlite:") + m_sqlitePath, &error))
            qWarning() << error;
        return dtmDBGeral::isOpen() && dtmDBGeral::backend() == TADOIBQuery::Backend::SQLite;
    }
    m_prefix = m_schema + QLatin1Char('.');
    if (!dtmDBGeral::open(m_pgUrl, &error))
        qWarning() << error;
    return dtmDBGeral::isOpen() && dtmDBGeral::backend() == TADOIBQuery::Backend::PostgreSQL;
}

QTEST_MAIN(TstADOIBQuery)
#include "tst_adoibquery.moc"
