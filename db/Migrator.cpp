#include "db/Migrator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

static void initMigrationResources()
{
    Q_INIT_RESOURCE(migrations);
}

namespace opd::db {

namespace {

QMap<int, QString> migrationFiles(Dialect dialect)
{
    initMigrationResources();
    const QString folder = dialect == Dialect::Sqlite ? QStringLiteral(":/opd/migrations/sqlite")
                                                      : QStringLiteral(":/opd/migrations/postgresql");
    QMap<int, QString> files;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        bool ok = false;
        const int number = name.section(QLatin1Char('_'), 0, 0).toInt(&ok);
        if (ok && number > 0)
            files.insert(number, folder + QLatin1Char('/') + name);
    }
    return files;
}

void ensureVersionTable(Database &db)
{
    db.execScript("CREATE TABLE IF NOT EXISTS SCHEMA_VERSION ("
                  " VERSION INTEGER NOT NULL PRIMARY KEY,"
                  " DSARQUIVO VARCHAR(100) NOT NULL,"
                  " DTAPLICACAO VARCHAR(30) NOT NULL)");
}

int readVersion(Database &db)
{
    auto stmt = db.prepare("SELECT COALESCE(MAX(VERSION), 0) FROM SCHEMA_VERSION");
    return stmt->step() ? int(stmt->number(0)) : 0;
}

} // namespace

int Migrator::latestVersion(Dialect dialect)
{
    const auto files = migrationFiles(dialect);
    return files.isEmpty() ? 0 : files.lastKey();
}

int Migrator::currentVersion(Database &db)
{
    try {
        return readVersion(db);
    } catch (const DbError &) {
        return 0;
    }
}

int Migrator::migrate(Database &db)
{
    const auto files = migrationFiles(db.dialect());
    if (files.isEmpty())
        throw DbError("nenhuma migração compilada no programa");
    {
        Transaction tx(db, true);
        if (db.dialect() == Dialect::Postgres)
            db.execScript("SELECT pg_advisory_xact_lock(31000)");
        ensureVersionTable(db);
        tx.commit();
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        Transaction tx(db, true);
        // Several processes may start on one database: the version is read
        // again under the write lock (SQLite) or an advisory lock (PostgreSQL).
        if (db.dialect() == Dialect::Postgres)
            db.execScript("SELECT pg_advisory_xact_lock(31000)");
        if (readVersion(db) >= it.key())
            continue;
        QFile file(it.value());
        if (!file.open(QIODevice::ReadOnly))
            throw DbError("migração ilegível: " + it.value().toStdString());
        const QByteArray sql = file.readAll();
        db.execScript(std::string_view(sql.constData(), size_t(sql.size())));
        auto mark = db.prepare("INSERT INTO SCHEMA_VERSION (VERSION, DSARQUIVO, DTAPLICACAO) "
                               "VALUES (?, ?, CURRENT_TIMESTAMP)");
        mark->bindDouble(1, it.key());
        mark->bindText(2, QFileInfo(it.value()).fileName().toStdString());
        mark->exec();
        tx.commit();
    }
    return readVersion(db);
}

} // namespace opd::db
