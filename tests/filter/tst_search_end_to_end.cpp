// The order search end to end: a seeded SQLite database, the real
// application server on a free port, the screen opened through its entry
// routine and driven by focus moves. What the data sets hold is compared
// with what the database holds for the same filter, read directly.

#include "../screen/SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "host/ShowAvi.h"

#include <QTabBar>

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

    SeededScreen fx;
    TfrmDescEmiPed *screen = nullptr;

    int getPedidoCalls() const { return fx.callsOf(QStringLiteral("GetPedido")); }
    static QStringList expected(const QString &sql, const QVariantList &binds) { return SeededScreen::rows(sql, binds); }

    void leavePanel() { fx.leavePanel(); }

    static QString iso(int daysFromToday) { return opd::today().addDays(daysFromToday).toString(Qt::ISODate); }

private slots:
    void initTestCase()
    {
        Orvand::environment().branchName = QStringLiteral("Matriz São Paulo");
        const QString failure = fx.start(600);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        screen = fx.screen;
    }

    void cleanupTestCase() { QVERIFY(fx.stop()); }

    void firstSearchLoadsTheOrdersAndItemsOfTheProposedFilter()
    {
        // As opened: branch 0001, entry dates from two days ago to today,
        // "Pendente" and "Em Andamento".
        MessageRecorder messages;
        leavePanel();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(getPedidoCalls(), 1);
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
        const int before = getPedidoCalls();
        screen->panFiltroExit(screen->panFiltro);
        QCOMPARE(getPedidoCalls(), before + 1);
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

OPD_HOST_TEST_MAIN(SearchEndToEnd)
#include "tst_search_end_to_end.moc"
