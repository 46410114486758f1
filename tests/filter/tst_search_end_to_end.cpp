// The order search end to end: a seeded SQLite database, the real
// application server on a free port, the screen opened through its entry
// routine and driven by focus moves. What the data sets hold is compared
// with what the database holds for the same filter, read directly.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/TestSupport.h"

#include "host/ShowAvi.h"
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
#include <QTabBar>
#include <QTemporaryDir>

using namespace screentest;

namespace {

// A row of a data set as one text, fields separated by "|".
QString rowText(const opd::ClientDataSet *cds, const QList<QByteArray> &fields)
{
    QStringList cells;
    for (const QByteArray &name : fields) {
        const opd::Field *f = cds->fieldByName(name);
        if (f->dataType() == opd::FieldType::DateTime)
            cells << (f->isNull() ? QString() : opd::dateFromDayCount(f->asDateTime()).toString(Qt::ISODate));
        else if (f->dataType() == opd::FieldType::Float)
            cells << QString::number(f->asFloat());
        else
            cells << f->asString();
    }
    return cells.join(QLatin1Char('|'));
}

QStringList allRows(opd::ClientDataSet *cds, const QList<QByteArray> &fields)
{
    QStringList out;
    for (cds->first(); !cds->eof(); cds->next())
        out << rowText(cds, fields);
    cds->first();
    return out;
}

} // namespace

class SearchEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString dbUrl;
    opd::test::AppServerProcess server;
    TfrmDescEmiPed *screen = nullptr;
    int getPedidoCalls = 0;

    // Rows the database holds, by a query written here independently.
    QStringList expected(const QString &sql, const QVariantList &binds)
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("expected"));
        QSqlQuery q(db);
        if (!q.prepare(sql))
            qFatal("%s", qPrintable(q.lastError().text()));
        for (const QVariant &b : binds)
            q.addBindValue(b);
        if (!q.exec())
            qFatal("%s", qPrintable(q.lastError().text()));
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << (q.isNull(i) ? QString() : q.value(i).toString());
            out << cells.join(QLatin1Char('|'));
        }
        return out;
    }

    void leavePanel()
    {
        screen->chbPPendente->setFocus();
        screen->dbgPEDIDO->setFocus();
    }

    static QString iso(int daysFromToday) { return opd::today().addDays(daysFromToday).toString(Qt::ISODate); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        dbUrl = opd::test::makeSeededSqlite(dir.path(), 600);
        QVERIFY2(server.start(dbUrl), qPrintable(server.errorString()));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("expected"));
        db.setDatabaseName(dbUrl.mid(int(strlen("sqlite:"))));
        QVERIFY(db.open());

        // The host's shared connection, as the host opens it at start: the
        // branch check on leaving the branch code reads it.
        QString error;
        QVERIFY2(dtmDBGeral::open(dbUrl, &error), qPrintable(error));

        Cli_opd31000::Initialization();
        pointServerAt(server.port());
        Orvand::environment().branch = QStringLiteral("0001");
        Orvand::environment().branchName = QStringLiteral("Matriz São Paulo");
        screen = openScreen();
        QVERIFY(screen);
        QVERIFY2(screen->netDescEmiPed->Connected(), qPrintable(screen->netDescEmiPed->lastError()));
        screen->remoteCallObserver = [this](const QString &m, const QList<opd::RemoteArg> &) {
            getPedidoCalls += m == QLatin1String("GetPedido");
        };
    }

    void cleanupTestCase()
    {
        QVERIFY(closeScreen());
        QSqlDatabase::removeDatabase(QStringLiteral("expected"));
        dtmDBGeral::close();
    }

    void firstSearchLoadsTheOrdersAndItemsOfTheProposedFilter()
    {
        // As opened: branch 0001, entry dates from two days ago to today,
        // "Pendente" and "Em Andamento".
        MessageRecorder messages;
        leavePanel();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(getPedidoCalls, 1);
        QCOMPARE(QApplication::focusWidget(), screen->dbgPEDIDO);
        QVERIFY(!ShowAviRunning());

        const QVariantList binds = {QStringLiteral("0001"), iso(-2), iso(0)};
        const QString where = QStringLiteral(
            " WHERE P.CDFILIAL = ? AND P.DTPEDIDO BETWEEN ? AND ? AND P.CDSTATUS IN (1, 2)");
        QCOMPARE(allRows(screen->cdsPedido, {"NRPEDIDO", "NMRAZSOCCLIE", "DTPEDIDO", "DTENTPED"}),
                 expected(QStringLiteral(
                              "SELECT P.NRPEDIDO, COALESCE(F.NMFILIAL, C.NMRAZSOCCLIE), P.DTPEDIDO, P.DTENTPED"
                              " FROM PEDIDO P LEFT JOIN CLIENTE C ON C.CDCLIENTE = P.CDCLIENTE"
                              " LEFT JOIN FILIAL F ON F.CDFILIAL = P.CDFILDEST")
                              + where + QStringLiteral(" ORDER BY P.NRPEDIDO"),
                          binds));
        QCOMPARE(allRows(screen->cdsItens, {"NRPEDIDO", "NRITEMPED", "CDPRODUTO", "DSEMISSAOITPED"}),
                 expected(QStringLiteral("SELECT I.NRPEDIDO, I.NRITEMPED, I.CDPRODUTO, I.DSEMISSAOITPED"
                                         " FROM ITEMPEDIDO I JOIN PEDIDO P"
                                         " ON P.CDFILIAL = I.CDFILIAL AND P.NRPEDIDO = I.NRPEDIDO")
                              + where + QStringLiteral(" ORDER BY I.NRPEDIDO, I.NRITEMPED"),
                          binds));
    }

    void wideFilterFillsBothPagesAndTheItemsFollowTheOrder()
    {
        MessageRecorder messages;
        screen->depDeEmissao->SetDate(opd::toDayCount(opd::today()) - 60);
        screen->chbPLiquidado->setChecked(true);
        screen->chbPCancelado->setChecked(true);
        screen->chbPParcialmente->setChecked(true);
        leavePanel();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));

        const QStringList orders = expected(
            QStringLiteral("SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = ? AND DTPEDIDO BETWEEN ? AND ?"
                           " ORDER BY NRPEDIDO"),
            {QStringLiteral("0001"), iso(-60), iso(0)});
        QVERIFY(orders.size() > 10);
        QCOMPARE(allRows(screen->cdsPedido, {"NRPEDIDO"}), orders);
        QCOMPARE(screen->cdsItens->recordCount(),
                 expected(QStringLiteral("SELECT COUNT(*) FROM ITEMPEDIDO I JOIN PEDIDO P"
                                         " ON P.CDFILIAL = I.CDFILIAL AND P.NRPEDIDO = I.NRPEDIDO"
                                         " WHERE P.CDFILIAL = ? AND P.DTPEDIDO BETWEEN ? AND ?"),
                          {QStringLiteral("0001"), iso(-60), iso(0)})
                     .value(0)
                     .toInt());

        // Orders page, browsing: commands 2, 4 and 5 and the browse control.
        QVERIFY(screen->mnuComando[1]->isEnabled() && screen->mnuComando[3]->isEnabled()
                && screen->mnuComando[4]->isEnabled());
        QVERIFY(!screen->mnuComando[0]->isEnabled() && !screen->mnuComando[5]->isEnabled());
        QVERIFY(screen->ctlConsulta->isEnabled());

        // The third order, then the items page by a click on its tab.
        screen->cdsPedido->setRecNo(2);
        const QString third = orders.at(2);
        QTabBar *tabs = screen->pgcPadrao->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(screen->pgcPadrao->activePage(), screen->tshPadrao);
        QCOMPARE(allRows(screen->cdsItens, {"NRPEDIDO", "NRITEMPED"}),
                 expected(QStringLiteral("SELECT NRPEDIDO, NRITEMPED FROM ITEMPEDIDO"
                                         " WHERE CDFILIAL = ? AND NRPEDIDO = ? ORDER BY NRITEMPED"),
                          {QStringLiteral("0001"), third}));
        QCOMPARE(screen->dbgPadrao->model()->rowCount(), screen->cdsItens->recordCount());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPEDIDO));

        // A search while the items page shows keeps it on the current order.
        const int before = getPedidoCalls;
        screen->panFiltroExit(screen->panFiltro);
        QCOMPARE(getPedidoCalls, before + 1);
        QCOMPARE(screen->cdsItens->filter(), QStringLiteral("NRPEDIDO = '%1'").arg(orders.at(0)));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(screen->pgcPadrao->activePage(), screen->tshPEDIDO);
    }

    void serverRefusalKeepsThePagesAsTheyWere()
    {
        MessageRecorder messages;
        const int rows = screen->cdsPedido->recordCount();
        QVERIFY(rows > 0);
        // A list text the server cannot read: it refuses the whole call.
        // Run from the orders page as the verify command does, so that the
        // pages are open when the call fails.
        Cli_opd31000::ListaCliente() = QStringLiteral("C000001");
        screen->rbtLCliente->setChecked(true);
        screen->dbgPEDIDO->setFocus();
        QVERIFY(!opd::guarded([&] { screen->panFiltroExit(screen->panFiltro); }));
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY(!ShowAviRunning());
        QCOMPARE(screen->cdsPedido->recordCount(), rows);

        // The same customers in the picker's form are taken.
        messages.texts.clear();
        const QString customer = expected(
            QStringLiteral("SELECT CDCLIENTE FROM PEDIDO WHERE CDFILIAL = ? AND CDCLIENTE IS NOT NULL"
                           " ORDER BY NRPEDIDO LIMIT 1"), {QStringLiteral("0001")}).value(0);
        Cli_opd31000::ListaCliente() = QLatin1Char('\'') + customer + QLatin1Char('\'');
        leavePanel();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(allRows(screen->cdsPedido, {"NRPEDIDO"}),
                 expected(QStringLiteral("SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = ? AND CDCLIENTE = ?"
                                         " AND DTPEDIDO BETWEEN ? AND ? ORDER BY NRPEDIDO"),
                          {QStringLiteral("0001"), customer, iso(-60), iso(0)}));
        screen->rbtTCliente->setChecked(true);
        Cli_opd31000::ListaCliente().clear();
    }
};

QTEST_MAIN(SearchEndToEnd)
#include "tst_search_end_to_end.moc"
