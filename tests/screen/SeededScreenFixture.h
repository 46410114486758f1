#pragma once
// Shared setup of the end-to-end screen tests: a seeded SQLite database,
// the real application server on a free loopback port, the host database
// open for the lookups, and the screen opened through its entry routine.
// The database is also read (and, for the setup of a case, written)
// directly through Qt SQL, so that what the server stored or sent is
// checked independently of the screen.

#include "ScreenTestSupport.h"
#include "tests/support/TestSupport.h"

#include "host/TADOIBQuery.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/Dates.h"
#include "server/TNetConnection.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

namespace screentest {

struct RemoteCall
{
    QString method;
    QList<opd::RemoteArg> args;
};

class SeededScreen
{
public:
    QTemporaryDir dir;
    QString dbUrl;
    opd::test::AppServerProcess server;
    TfrmDescEmiPed *screen = nullptr;
    QList<RemoteCall> calls;
    QDate today;   // read once: the screen's, the seeder's and the server's

    // Seeds `orders` orders and opens the screen for `branch`; the rest of
    // the login environment is left as the caller set it. Returns an empty
    // text on success, else what went wrong.
    QString start(long long orders = 200, const QString &branch = QStringLiteral("0001"))
    {
        if (!dir.isValid())
            return QStringLiteral("no temporary folder");
        today = opd::dateFromDayCount(double(opd::test::pinToday()));
        opd::setTodayForTesting(today);
        dbUrl = opd::test::makeSeededSqlite(dir.path(), orders);
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

    bool stop()
    {
        const bool closed = screentest::closeScreen();
        dtmDBGeral::close();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        return closed;
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
        leavePanel();
        if (callsOf(QStringLiteral("GetPedido")) != 1)
            messages.texts << QStringLiteral("the search did not run once");
        calls.clear();
        return messages.texts.join(QLatin1Char('\n'));
    }

    // Leaving the filter panel runs the search, as for the clerk; the focus
    // then stays in the grid, so no later focus move searches again.
    void leavePanel()
    {
        screen->chbPPendente->setFocus();
        screen->dbgPEDIDO->setFocus();
    }

    int callsOf(const QString &method) const
    {
        int n = 0;
        for (const RemoteCall &c : calls)
            n += c.method == method;
        return n;
    }

    // One statement on the database: each row's cells joined by "|".
    static QStringList rows(const QString &statement, const QVariantList &binds = {},
                            const QString &nullText = QString())
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
        if (!q.prepare(statement))
            qFatal("%s", qPrintable(q.lastError().text()));
        for (const QVariant &b : binds)
            q.addBindValue(b);
        if (!q.exec())
            qFatal("%s", qPrintable(q.lastError().text()));
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << (q.isNull(i) ? nullText : q.value(i).toString());
            out << cells.join(QLatin1Char('|'));
        }
        return out;
    }

    // The first row only, a null cell shown as "<null>".
    static QString sql(const QString &statement, const QVariantList &binds = {})
    {
        return rows(statement, binds, QStringLiteral("<null>")).value(0);
    }

    // The seven command buttons as "1" (enabled) and "0".
    QString commands() const
    {
        QString out;
        for (int i = 0; i < 7; ++i)
            out += screen->sbtComando[i]->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return out;
    }

    static void selectColumn(opd::DBGrid *grid, const char *field)
    {
        grid->setFocus();
        grid->setSelectedIndex(Consiste::IndiceCol(grid, QString::fromLatin1(field)));
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

} // namespace screentest
