// Page change and command state: the items page follows the current order,
// and the commands, the browse-only control and the other page follow the
// active page and its data set's state.

#include "ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/DataPacket.h"
#include "platform/DataSource.h"

#include <QAbstractItemModelTester>

using namespace screentest;

namespace {

opd::DataPacket packetFor(const opd::ClientDataSet *cds, const QList<QStringList> &rows)
{
    QList<opd::FieldDef> defs;
    for (const auto &f : cds->fields())
        defs << f->def();
    opd::DataPacket packet(defs);
    for (const QStringList &row : rows) {
        for (int i = 0; i < defs.size(); ++i) {
            const QString cell = row.value(i);
            if (defs[i].type == opd::FieldType::Float || defs[i].type == opd::FieldType::DateTime)
                packet.appendNumber(cell.toDouble());
            else
                packet.appendText(cell.toUtf8());
        }
        packet.endRow();
    }
    return packet;
}

// "1111100" style picture of the seven commands, enabled = 1.
QString commands(const TfrmDescEmiPed *screen)
{
    QString out;
    for (int i = 0; i < 7; ++i) {
        const bool on = screen->mnuComando[i]->isEnabled();
        if (screen->sbtComando[i]->isEnabled() != on)
            return QStringLiteral("button %1 differs from its menu item").arg(i + 1);
        out += on ? QLatin1Char('1') : QLatin1Char('0');
    }
    return out;
}

} // namespace

class PageState : public QObject
{
    Q_OBJECT

    TfrmDescEmiPed *screen = nullptr;

    void load(const QList<QStringList> &orders, const QList<QStringList> &items)
    {
        screen->cdsPedido->setData(packetFor(screen->cdsPedido, orders));
        screen->cdsItens->setData(packetFor(screen->cdsItens, items));
    }

    void showPage(TTabSheet *page) { screen->pgcPadrao->setCurrentWidget(page); }

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
    }

    void init()
    {
        screen = openScreen();
        QVERIFY(screen);
    }

    void cleanup() { QVERIFY(closeScreen()); }

    void itemsPageShowsOnlyTheCurrentOrdersItems()
    {
        load({{"1", "Cliente A", "45000", "45010"}, {"2", "Cliente B", "45001", "45011"}},
             {{"1", "1", "P1"}, {"1", "2", "P2"}, {"2", "1", "P3"}});
        QAbstractItemModelTester tester(screen->dbgPadrao->model());

        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->filter(), QStringLiteral("NRPEDIDO = '1'"));
        QVERIFY(screen->cdsItens->isFiltered());
        QCOMPARE(screen->cdsItens->recordCount(), 2);
        QCOMPARE(screen->dbgPadrao->model()->rowCount(), 2);

        showPage(screen->tshPEDIDO);
        screen->cdsPedido->next();
        // Back on the orders page the items keep the last filter.
        QCOMPARE(screen->cdsItens->filter(), QStringLiteral("NRPEDIDO = '1'"));
        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->recordCount(), 1);
        QCOMPARE(screen->cdsItens->fieldByName("CDPRODUTO")->asString(), QStringLiteral("P3"));
    }

    void withNoOrderTheItemsPageShowsNothing()
    {
        load({}, {{"1", "1", "P1"}});
        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->filter(), QStringLiteral("NRPEDIDO = ''"));
        QCOMPARE(screen->cdsItens->recordCount(), 0);
    }

    void anOrderNumberWithAQuoteSelectsExactlyItsItems()
    {
        load({{"A'1", "Cliente A", "45000", "45010"}},
             {{"A'1", "1", "P1"}, {"A", "1", "P2"}, {"A'1", "2", "P3"}});
        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->filter(), QStringLiteral("NRPEDIDO = 'A''1'"));
        QCOMPARE(screen->cdsItens->recordCount(), 2);
    }

    void ordersPageCommandsFollowTheOrdersState()
    {
        // Closed orders: 2, 4 and 5 on, browse-only control off.
        screen->ControleBotoes();
        QCOMPARE(commands(screen), QStringLiteral("0101100"));
        QVERIFY(!screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPadrao));

        load({{"1", "Cliente A", "45000", "45010"}}, {{"1", "1", "P1"}});
        QCOMPARE(commands(screen), QStringLiteral("0101100"));
        QVERIFY(screen->ctlConsulta->isEnabled());

        screen->cdsPedido->edit();
        QCOMPARE(commands(screen), QStringLiteral("0101111"));
        QVERIFY(!screen->ctlConsulta->isEnabled());
        QVERIFY(!screen->pgcPadrao->isPageEnabled(screen->tshPadrao));

        screen->cdsPedido->cancel();
        QCOMPARE(commands(screen), QStringLiteral("0101100"));
        QVERIFY(screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPadrao));

        screen->cdsPedido->close();
        QCOMPARE(commands(screen), QStringLiteral("0101100"));
        QVERIFY(!screen->ctlConsulta->isEnabled());
    }

    void itemsPageCommandsFollowTheItemsState()
    {
        load({{"1", "Cliente A", "45000", "45010"}}, {{"1", "1", "P1"}});
        showPage(screen->tshPadrao);
        QCOMPARE(commands(screen), QStringLiteral("0001000"));
        QVERIFY(screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPEDIDO));

        // The items' own state changes move no command on this screen...
        screen->cdsItens->edit();
        QCOMPARE(commands(screen), QStringLiteral("0001000"));
        // ...until the rule runs (as after confirm or cancel).
        screen->ControleBotoes();
        QCOMPARE(commands(screen), QStringLiteral("0000001"));
        QVERIFY(!screen->ctlConsulta->isEnabled());
        QVERIFY(!screen->pgcPadrao->isPageEnabled(screen->tshPEDIDO));
        screen->cdsItens->cancel();
    }

    void enteringTheItemsPageJudgesCommandFourOnTheViewBefore()
    {
        load({{"3", "Sem itens", "45000", "45010"}, {"1", "Com itens", "45000", "45010"}},
             {{"1", "1", "P1"}, {"1", "2", "P2"}});
        // First entry: the view before is every item of the search.
        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->recordCount(), 0);
        QVERIFY(screen->mnuComando[3]->isEnabled());
        screen->ControleBotoes();
        QVERIFY(!screen->mnuComando[3]->isEnabled());

        // The reverse: the view before is the empty order 3.
        showPage(screen->tshPEDIDO);
        screen->cdsPedido->next();
        showPage(screen->tshPadrao);
        QCOMPARE(screen->cdsItens->recordCount(), 2);
        QVERIFY(!screen->mnuComando[3]->isEnabled());
        screen->ControleBotoes();
        QVERIFY(screen->mnuComando[3]->isEnabled());
    }
};

OPD_HOST_TEST_MAIN(PageState)
#include "tst_page_state.moc"
