#pragma once
// Shared setup of the editing tests: a seeded SQLite database, the real
// application server on a free loopback port, the host database open for
// the product lookup, and the screen opened and loaded by a search of one
// branch. The database is also read (and, for the setup of a case, written)
// directly through Qt SQL, so that what the server stored is checked
// independently of the screen.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/TestSupport.h"

#include "host/TADOIBQuery.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "platform/DBGrid.h"
#include "platform/Dates.h"
#include "server/TNetConnection.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

namespace editingtest {

struct RemoteCall
{
    QString method;
    QList<opd::RemoteArg> args;
};

class Fixture
{
public:
    QTemporaryDir dir;
    QString dbUrl;
    opd::test::AppServerProcess server;
    TfrmDescEmiPed *screen = nullptr;
    QList<RemoteCall> calls;

    // Returns an empty text on success, else what went wrong.
    QString start(const QString &branch = QStringLiteral("0001"))
    {
        if (!dir.isValid())
            return QStringLiteral("no temporary folder");
        dbUrl = opd::test::makeSeededSqlite(dir.path(), 200);
        if (!server.start(dbUrl))
            return server.errorString();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(dbUrl.mid(int(strlen("sqlite:"))));
        if (!db.open())
            return db.lastError().text();
        QString error;
        if (!dtmDBGeral::open(dbUrl, &error))
            return error;
        Cli_opd31000::Initialization();
        screentest::pointServerAt(server.port());
        Orvand::environment().branch = branch;
        screen = screentest::openScreen();
        if (!screen)
            return QStringLiteral("screen not opened");
        if (!screen->netDescEmiPed->Connected())
            return screen->netDescEmiPed->lastError();
        screen->remoteCallObserver = [this](const QString &m, const QList<opd::RemoteArg> &a) {
            calls << RemoteCall{m, a};
        };
        return QString();
    }

    void stop()
    {
        screentest::closeScreen();
        dtmDBGeral::close();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    // Every order of the branch shown, whatever its dates and status.
    QString search()
    {
        screentest::MessageRecorder messages;
        screen->depDeEmissao->Clear();
        screen->depAteEmissao->Clear();
        for (QCheckBox *c : {screen->chbPPendente, screen->chbPAndamento, screen->chbPLiquidado,
                             screen->chbPCancelado, screen->chbPParcialmente})
            c->setChecked(true);
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        // Leaving the filter panel runs the search, as for the clerk; the
        // focus then stays in the grid, so no later focus move searches again.
        screen->chbPPendente->setFocus();
        screen->dbgPEDIDO->setFocus();
        if (callsOf(QStringLiteral("GetPedido")) != 1)
            messages.texts << QStringLiteral("the search did not run once");
        calls.clear();
        return messages.texts.join(QLatin1Char('\n'));
    }

    int callsOf(const QString &method) const
    {
        int n = 0;
        for (const RemoteCall &c : calls)
            n += c.method == method;
        return n;
    }

    // One statement on the database; the cells of the first row joined by "|".
    static QString sql(const QString &statement, const QVariantList &binds = {})
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
        if (!q.prepare(statement))
            qFatal("%s", qPrintable(q.lastError().text()));
        for (const QVariant &b : binds)
            q.addBindValue(b);
        if (!q.exec())
            qFatal("%s", qPrintable(q.lastError().text()));
        if (!q.next())
            return QString();
        QStringList cells;
        for (int i = 0; i < q.record().count(); ++i)
            cells << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
        return cells.join(QLatin1Char('|'));
    }

    // Moves the data set to the row whose field holds the text.
    static bool moveTo(opd::ClientDataSet *cds, const QByteArray &field, const QString &text)
    {
        for (cds->first(); !cds->eof(); cds->next())
            if (cds->fieldByName(field)->asString() == text)
                return true;
        return false;
    }

    static QString iso(QDate d) { return d.toString(Qt::ISODate); }
    static QString iso(double dayCount) { return iso(opd::dateFromDayCount(dayCount)); }
};

} // namespace editingtest
