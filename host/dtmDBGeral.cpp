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

bool parseUrl(const QString &url, Target *out, QString *error)
{
    Target t;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        t.path = url.mid(7);
        if (t.path.startsWith(QLatin1String("//")))
            t.path = t.path.mid(2);      // sqlite:///abs/file.db
        if (t.path.isEmpty())
            return fail(error, QStringLiteral("URL de banco de dados sem caminho: '%1'.").arg(url));
        t.backend = TADOIBQuery::Backend::SQLite;
    } else if (url.startsWith(QLatin1String("postgresql://"))) {
        const QUrl parsed(url, QUrl::StrictMode);
        t.name = parsed.path().mid(1);
        if (!parsed.isValid() || parsed.host().isEmpty() || t.name.isEmpty() || t.name.contains(QLatin1Char('/')))
            return fail(error, QStringLiteral("URL de banco de dados inválida: '%1' "
                                              "(esperado postgresql://usuario@host:porta/banco).").arg(url));
        t.host = parsed.host();
        t.port = parsed.port(5432);
        t.user = parsed.userName();
        t.password = parsed.password();
        t.backend = TADOIBQuery::Backend::PostgreSQL;
    } else {
        return fail(error, QStringLiteral("URL de banco de dados não reconhecida: '%1'.").arg(url));
    }
    *out = t;
    return true;
}

bool open(const QString &url, QString *error)
{
    close();
    Target t;
    if (!parseUrl(url, &t, error))
        return false;
    QSqlDatabase db;
    if (t.backend == TADOIBQuery::Backend::SQLite) {
        // Opening a missing file would create an empty database and every
        // lookup would then come back empty instead of failing clearly.
        if (!QFileInfo(t.path).isFile())
            return fail(error, QStringLiteral("Banco de dados '%1' não encontrado.").arg(t.path));
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName());
        db.setDatabaseName(t.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName());
        db.setHostName(t.host);
        db.setPort(t.port);
        db.setDatabaseName(t.name);
        db.setUserName(t.user);
        db.setPassword(t.password);
    }
    const TADOIBQuery::Backend backend = t.backend;
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
