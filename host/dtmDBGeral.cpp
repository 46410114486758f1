#include "host/TADOIBQuery.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUrl>

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
    QSqlDatabase db;
    TADOIBQuery::Backend backend;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        QString path = url.mid(7);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);      // sqlite:///abs/file.db
        if (path.isEmpty())
            return fail(error, QStringLiteral("URL de banco de dados sem caminho: '%1'.").arg(url));
        // Opening a missing file would create an empty database and every
        // lookup would then come back empty instead of failing clearly.
        if (!QFileInfo(path).isFile())
            return fail(error, QStringLiteral("Banco de dados '%1' não encontrado.").arg(path));
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName());
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        backend = TADOIBQuery::Backend::SQLite;
    } else if (url.startsWith(QLatin1String("postgresql://"))) {
        const QUrl parsed(url, QUrl::StrictMode);
        const QString name = parsed.path().mid(1);
        if (!parsed.isValid() || parsed.host().isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')))
            return fail(error, QStringLiteral("URL de banco de dados inválida: '%1' "
                                              "(esperado postgresql://usuario@host:porta/banco).").arg(url));
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName());
        db.setHostName(parsed.host());
        db.setPort(parsed.port(5432));
        db.setDatabaseName(name);
        db.setUserName(parsed.userName());
        db.setPassword(parsed.password());
        backend = TADOIBQuery::Backend::PostgreSQL;
    } else {
        return fail(error, QStringLiteral("URL de banco de dados não reconhecida: '%1'.").arg(url));
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
