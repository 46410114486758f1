#include "host/TADOIBQuery.h"

#include "platform/DbUrl.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

// The host's shared database connection. One Qt SQL connection, opened from
// the login environment's URL; the lookup queries only ever read through it.
namespace dtmDBGeral {

namespace {

struct State
{
    bool open = false;
    TADOIBQuery::Backend backend = TADOIBQuery::Backend::SQLite;
};

State &state()
{
    static State s;
    return s;
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QString connectionName()
{
    return QStringLiteral("opd_dtmDBGeral");
}

bool open(const QString &url, QString *error)
{
    close();
    opd::DbUrl t;
    std::string why;
    if (!opd::DbUrl::parse(url.toStdString(), &t, &why))
        return fail(error, QString::fromStdString(why));
    QSqlDatabase db;
    TADOIBQuery::Backend backend = TADOIBQuery::Backend::SQLite;
    if (t.kind == opd::DbUrl::Kind::Sqlite) {
        // Opening a missing file would create an empty database and every
        // lookup would then come back empty instead of failing clearly.
        const QString path = QString::fromStdString(t.path);
        if (!QFileInfo(path).isFile())
            return fail(error, QStringLiteral("Banco de dados '%1' não encontrado.").arg(path));
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName());
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        // The driver joins its options with ';' into one libpq connection
        // string; each value is quoted there, so only ';' cannot be carried.
        QStringList options;
        for (const auto &[key, value] : t.options) {
            if (value.find(';') != std::string::npos)
                return fail(error, QStringLiteral("Opção '%1' da URL de banco de dados com ';'.")
                                       .arg(QString::fromStdString(key)));
            QString quoted = QString::fromStdString(value);
            quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
            options << QStringLiteral("%1='%2'").arg(QString::fromStdString(key), quoted);
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName());
        db.setHostName(QString::fromStdString(t.host));
        db.setPort(t.port);
        db.setDatabaseName(QString::fromStdString(t.database));
        db.setUserName(QString::fromStdString(t.user));
        db.setPassword(QString::fromStdString(t.password));
        db.setConnectOptions(options.join(QLatin1Char(';')));
        backend = TADOIBQuery::Backend::PostgreSQL;
    }
    if (!db.isValid()) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName());
        return fail(error, QStringLiteral("Driver de banco de dados indisponível para '%1'.").arg(url));
    }
    if (!db.open()) {
        const QString why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName());
        return fail(error, QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(why));
    }
    state().open = true;
    state().backend = backend;
    return true;
}

void close()
{
    if (!QSqlDatabase::contains(connectionName()))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName(), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName());
    state().open = false;
}

bool isOpen()
{
    return state().open;
}

TADOIBQuery::Backend backend()
{
    return state().backend;
}

} // namespace dtmDBGeral
