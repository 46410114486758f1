// The items page end to end: descriptions picked through the cell button
// (the picker replaced through pickerHooks), typing ignored, each posted
// item written through the real application server into the database and
// its audit table.

#include "../screen/SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "host/Consiste.h"
#include "host/Pickers.h"
#include "host/ShowAvi.h"
#include "platform/DataSource.h"

#include <QAbstractItemModelTester>

using namespace screentest;
using Fixture = SeededScreen;

namespace {

// What the picker was shown, and which row it picks (-1: closed without a pick).
struct PickerStandIn
{
    int pick = -1;
    int shown = 0;
    QStringList names;
    QString text;

    PickerStandIn()
    {
        pickerHooks().pesquisarPlus = [this](opd::DataSource *source, const QString &t) {
            ++shown;
            text = t;
            opd::ClientDataSet *ds = source->dataSet();
            for (ds->first(); !ds->eof(); ds->next())
                names << ds->fieldByName("NMPRODUTO")->asString();
            if (pick < 0 || pick >= ds->recordCount())
                return false;
            ds->setRecNo(pick);
            return true;
        };
    }
    ~PickerStandIn() { pickerHooks().pesquisarPlus = nullptr; }
};

} // namespace

class ItemsPage : public QObject
{
    Q_OBJECT

    Fixture fx;
    TfrmDescEmiPed *screen = nullptr;

    opd::ClientDataSet *cds() const { return screen->cdsItens; }
    QString current(const char *field) const { return cds()->fieldByName(field)->asString(); }

    QString storedDescription() const
    {
        const QString v = Fixture::sql(QStringLiteral("SELECT DSEMISSAOITPED FROM ITEMPEDIDO"
                                                      " WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?"),
                                       {current("CDFILIAL"), current("NRPEDIDO"), current("NRITEMPED")});
        return v == QLatin1String("<null>") ? QString() : v;
    }

    // Names of the products sharing the item's stock product, by a query
    // written here.
    QStringList sharedNames() const
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
        q.prepare(QStringLiteral("SELECT P.NMPRODUTO FROM PRODUTO P JOIN PRODUTO I ON I.CDPRODESTO = P.CDPRODESTO"
                                 " WHERE I.CDPRODUTO = ? ORDER BY P.CDARVPROD"));
        q.addBindValue(current("CDPRODUTO"));
        q.exec();
        QStringList out;
        while (q.next())
            out << q.value(0).toString();
        return out;
    }

    // Shows the items of the order holding an item whose product matches
    // the condition, that item current.
    bool showItemWhere(const QString &productCondition)
    {
        const QString found = Fixture::sql(QStringLiteral(
            "SELECT I.NRPEDIDO, I.NRITEMPED FROM ITEMPEDIDO I JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO"
            " WHERE I.CDFILIAL = '0001' AND ") + productCondition
            + QStringLiteral(" ORDER BY I.NRPEDIDO, I.NRITEMPED LIMIT 1"));
        const QStringList parts = found.split(QLatin1Char('|'));
        if (parts.size() != 2)
            return false;
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        if (!Fixture::moveTo(screen->cdsPedido, "NRPEDIDO", parts[0]))
            return false;
        screen->pgcPadrao->setCurrentWidget(screen->tshPadrao);
        return Fixture::moveTo(cds(), "NRITEMPED", parts[1]);
    }

    bool showSharedItem()
    {
        return showItemWhere(QStringLiteral(
            "(SELECT COUNT(*) FROM PRODUTO Q WHERE Q.CDPRODESTO = P.CDPRODESTO) > 1"));
    }

    void selectColumn(const char *field) { Fixture::selectColumn(screen->dbgPadrao, field); }

    // A real click on the cell button of the current cell.
    void clickCellButton()
    {
        opd::DBGrid *grid = screen->dbgPadrao;
        const QRect cell = grid->visualRect(grid->currentIndex());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
    }

    // Straight to the handlers: on the items page the rule keeps the confirm
    // button off, and the base runs its command handlers guarded like this.
    void confirm() { opd::guarded([this] { screen->sbtConfirmarClick(screen->sbtComando[5]); }); }
    void cancelCommand() { opd::guarded([this] { screen->sbtCancelarClick(screen->sbtComando[6]); }); }
    QString commands() const { return fx.commands(); }

private slots:
    void initTestCase()
    {
        const QString failure = fx.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        screen = fx.screen;
        const QString messages = fx.search();
        QVERIFY2(messages.isEmpty(), qPrintable(messages));
    }

    void cleanupTestCase() { fx.stop(); }

    void init() { fx.calls.clear(); }

    void cleanup()
    {
        if (cds()->isActive())
            cds()->cancel();
    }

    void aPickedNameIsStoredForTheItem()
    {
        QAbstractItemModelTester tester(screen->dbgPadrao->model());
        QVERIFY(showSharedItem());
        MessageRecorder messages;
        PickerStandIn picker;
        const QStringList offered = sharedNames();
        QVERIFY(offered.size() > 1);
        // A name other than the one the item has, so the store is visible.
        picker.pick = offered.indexOf(current("DSEMISSAOITPED")) == offered.size() - 1 ? 0 : offered.size() - 1;
        const int auditsBefore = Fixture::sql(QStringLiteral("SELECT COUNT(*) FROM AUDITORIA WHERE NMCAMPO = 'DSEMISSAOITPED'")).toInt();

        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        QCOMPARE(picker.shown, 1);
        QCOMPARE(picker.names, offered);
        // The title is a title ("Prod" has no exact entry), not an error text.
        QCOMPARE(picker.text,
                 QStringLiteral("Produto|Não existem Produtos de Compra para este Produto de Estoque."));
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
        QCOMPARE(current("DSEMISSAOITPED"), offered.at(picker.pick));
        QVERIFY2(fx.calls.isEmpty(), qPrintable(fx.calls.value(0).method));   // not posted by the pick

        confirm();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(storedDescription(), offered.at(picker.pick));
        QCOMPARE(Fixture::sql(QStringLiteral("SELECT COUNT(*) FROM AUDITORIA WHERE NMCAMPO = 'DSEMISSAOITPED'")).toInt(),
                 auditsBefore + 1);
        QCOMPARE(fx.callsOf(QStringLiteral("SetDescEmi")), 1);
        QVERIFY(!ShowAviRunning());
        // Items page browsing after confirm: find (4) while the order has items.
        QCOMPARE(commands(), QStringLiteral("0001000"));
        QVERIFY(screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPEDIDO));
    }

    void pickingTheSameNameWritesAgain()
    {
        QVERIFY(showSharedItem());
        PickerStandIn picker;
        picker.pick = sharedNames().indexOf(current("DSEMISSAOITPED"));
        QVERIFY(picker.pick >= 0);   // stored by the case before
        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
        confirm();
        QCOMPARE(fx.callsOf(QStringLiteral("SetDescEmi")), 1);
        // The item's own branch, whatever the filter panel shows.
        QCOMPARE(fx.calls.last().args.at(1).value.toString(), QStringLiteral("0001"));
    }

    void aProductWithoutStockProductIsOfferedNothing()
    {
        QVERIFY(showItemWhere(QStringLiteral("P.CDPRODESTO IS NULL")));
        PickerStandIn picker;
        picker.pick = 0;
        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        QCOMPARE(picker.shown, 1);
        QVERIFY(picker.names.isEmpty());
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QVERIFY(!ShowAviRunning());
    }

    void closingThePickerOrAnotherColumnChangesNothing()
    {
        QVERIFY(showSharedItem());
        PickerStandIn picker;
        const QString before = current("DSEMISSAOITPED");
        selectColumn("DSEMISSAOITPED");
        clickCellButton();   // picker.pick is -1: closed without a choice
        QCOMPARE(picker.shown, 1);
        // The button of another column's cell: no picker at all.
        selectColumn("NMPRODUTO");
        screen->dbgPadrao->onEditButtonClick(*screen->dbgPadrao);
        QCOMPARE(picker.shown, 1);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DSEMISSAOITPED"), before);
        QCOMPARE(fx.calls.size(), 0);
        QVERIFY(!ShowAviRunning());
    }

    void typingNeverReachesTheDescription()
    {
        QVERIFY(showSharedItem());
        const QString before = current("DSEMISSAOITPED");
        QVERIFY(!before.isEmpty());   // picked by the first case
        selectColumn("DSEMISSAOITPED");
        QTest::keyClicks(screen->dbgPadrao, QStringLiteral("abc 1"));
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        // With the cell editor open, too.
        QTest::keyClick(screen->dbgPadrao, Qt::Key_F2);
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && editor != screen->dbgPadrao);
        QTest::keyClicks(editor, QStringLiteral("xyz"));
        QTest::keyClick(editor, Qt::Key_End);
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClick(editor, Qt::Key_Home);
        QTest::keyClick(editor, Qt::Key_Delete);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(current("DSEMISSAOITPED"), before);
    }

    void itemsAreNeitherAddedNorDeleted()
    {
        QVERIFY(showSharedItem());
        MessageRecorder messages;
        const int rows = cds()->recordCount();
        selectColumn("NMPRODUTO");
        QTest::keyClick(screen->dbgPadrao, Qt::Key_Insert);
        cds()->last();
        QTest::keyClick(screen->dbgPadrao, Qt::Key_Down);
        QTest::keyClick(screen->dbgPadrao, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(cds()->recordCount(), rows);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QVERIFY_THROWS_EXCEPTION(opd::Abort, cds()->remove());
        QCOMPARE(cds()->recordCount(), rows);
        QVERIFY(messages.texts.isEmpty());
    }

    void cancelDropsThePickWithoutACall()
    {
        QVERIFY(showSharedItem());
        PickerStandIn picker;
        const QString before = current("DSEMISSAOITPED");
        picker.pick = sharedNames().indexOf(before) == 0 ? 1 : 0;
        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
        screen->ControleBotoes();
        QCOMPARE(commands(), QStringLiteral("0000001"));
        cancelCommand();
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DSEMISSAOITPED"), before);
        QCOMPARE(fx.calls.size(), 0);
        QCOMPARE(commands(), QStringLiteral("0001000"));
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPEDIDO));
    }

    void findAndVerifyActOnTheItems()
    {
        QVERIFY(showSharedItem());
        opd::ClientDataSet *searched = nullptr;
        pickerHooks().procura = [&](opd::ClientDataSet *ds) { searched = ds; };
        opd::guarded([this] { screen->sbtProcurarClick(screen->sbtComando[3]); });
        pickerHooks().procura = nullptr;
        QCOMPARE(searched, cds());

        // Verify here is the base's: it posts the pending pick, and searches nothing.
        MessageRecorder messages;
        PickerStandIn picker;
        const QString before = current("DSEMISSAOITPED");
        picker.pick = sharedNames().indexOf(before) == 0 ? 1 : 0;
        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        opd::guarded([this] { screen->sbtVerificarClick(screen->sbtComando[4]); });
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(fx.callsOf(QStringLiteral("GetPedido")), 0);
        QCOMPARE(fx.callsOf(QStringLiteral("SetDescEmi")), 1);
        QCOMPARE(storedDescription(), current("DSEMISSAOITPED"));
        QVERIFY(current("DSEMISSAOITPED") != before);
    }

    // Last: the server does not come back.
    void aStoppedServerLeavesTheStoredDescriptionAndTheIndicatorOff()
    {
        QVERIFY(showSharedItem());
        MessageRecorder messages;
        PickerStandIn picker;
        const QString before = current("DSEMISSAOITPED");
        picker.pick = sharedNames().indexOf(before) == 0 ? 1 : 0;
        fx.server.stop();
        selectColumn("DSEMISSAOITPED");
        clickCellButton();
        confirm();
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY(!ShowAviRunning());
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DSEMISSAOITPED"), before);
    }
};

OPD_HOST_TEST_MAIN(ItemsPage)
#include "tst_items_page.moc"
