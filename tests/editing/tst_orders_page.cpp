// The orders page end to end: dates typed into the grid with real key
// events, posted by the confirm command or by a row move, checked against
// today and the order's date, and written through the real application
// server into the SQLite database and its audit table.

#include "../screen/SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "host/Consiste.h"
#include "host/Pickers.h"
#include "host/ShowAvi.h"

#include <QAbstractItemModelTester>

using namespace screentest;
using Fixture = SeededScreen;

class OrdersPage : public QObject
{
    Q_OBJECT

    Fixture fx;
    TfrmDescEmiPed *screen = nullptr;
    QString futureOrder;   // an order entered five days ahead

    opd::ClientDataSet *cds() const { return screen->cdsPedido; }
    QString current(const char *field) const { return cds()->fieldByName(field)->asString(); }
    QString storedDate(const QString &branch, const QString &order) const
    {
        return Fixture::sql(QStringLiteral("SELECT DTENTPED FROM PEDIDO WHERE CDFILIAL = ? AND NRPEDIDO = ?"),
                            {branch, order});
    }
    int audits(const QString &order) const
    {
        return Fixture::sql(QStringLiteral("SELECT COUNT(*) FROM AUDITORIA WHERE NRPEDIDO = ? AND NMCAMPO = 'DTENTPED'"),
                            {order}).toInt();
    }

    void selectColumn(const char *field) { Fixture::selectColumn(screen->dbgPEDIDO, field); }

    // Types the date into the delivery-date cell as the clerk does: the
    // first digit opens the cell editor, the rest goes to it, Enter hands
    // the text to the field. The row stays in editing.
    void typeDate(QDate date)
    {
        selectColumn("DTENTPED");
        const QString digits = date.toString(QStringLiteral("ddMMyyyy"));
        QTest::keyClick(screen->dbgPEDIDO, digits.at(0).toLatin1());
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && editor != screen->dbgPEDIDO);
        QTest::keyClicks(editor, digits.mid(1));
        QTest::keyClick(editor, Qt::Key_Return);
    }

    void confirm() { screen->mnuComando[5]->trigger(); }   // command 6
    void cancelCommand() { screen->mnuComando[6]->trigger(); }   // command 7
    QString commands() const { return fx.commands(); }

private slots:
    void initTestCase()
    {
        const QString failure = fx.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        screen = fx.screen;
        // Seeded entry dates lie in the past: one order is moved five days ahead.
        futureOrder = Fixture::sql(QStringLiteral(
            "SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = '0001' ORDER BY NRPEDIDO LIMIT 1 OFFSET 1"));
        QVERIFY(!futureOrder.isEmpty());
        Fixture::sql(QStringLiteral("UPDATE PEDIDO SET DTPEDIDO = ?, DTENTPED = NULL WHERE CDFILIAL = '0001' AND NRPEDIDO = ?"),
                     {Fixture::iso(opd::today().addDays(5)), futureOrder});
        const QString messages = fx.search();
        QVERIFY2(messages.isEmpty(), qPrintable(messages));
        QVERIFY(cds()->recordCount() >= 5);
    }

    void cleanupTestCase() { fx.stop(); }

    void init()
    {
        fx.calls.clear();
        QVERIFY(!fx.screen->pgcPadrao->isHidden());
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        cds()->first();
    }

    void cleanup()
    {
        opd::setTodayForTesting(fx.today);
        if (cds()->isActive())
            cds()->cancel();
    }

    void acceptedDatesAreStoredAndAudited_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("daysAhead");
        QTest::newRow("today") << 0 << 0;
        QTest::newRow("equal to an order date in the future") << 1 << 5;
    }

    void acceptedDatesAreStoredAndAudited()
    {
        QFETCH(int, row);
        QFETCH(int, daysAhead);
        QAbstractItemModelTester tester(screen->dbgPEDIDO->model());
        MessageRecorder messages;
        cds()->setRecNo(row);
        const QString order = current("NRPEDIDO");
        const int auditsBefore = audits(order);
        const QDate date = opd::today().addDays(daysAhead);

        typeDate(date);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
        QCOMPARE(commands(), QStringLiteral("0101111"));
        confirm();

        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(Fixture::iso(cds()->fieldByName("DTENTPED")->asDateTime()), Fixture::iso(date));
        QCOMPARE(storedDate(QStringLiteral("0001"), order), Fixture::iso(date));
        QCOMPARE(audits(order), auditsBefore + 1);
        QCOMPARE(Fixture::sql(QStringLiteral("SELECT DSVALORNOV, CDFILIAL FROM AUDITORIA WHERE NRPEDIDO = ?"
                                             " ORDER BY IDAUDITORIA DESC LIMIT 1"), {order}),
                 Fixture::iso(date) + QStringLiteral("|0001"));
        QCOMPARE(fx.callsOf(QStringLiteral("SetDtEntregaPed")), 1);
        QVERIFY(!ShowAviRunning());
        // Back to browsing: the editing commands off, the items page open.
        QCOMPARE(commands(), QStringLiteral("0101100"));
        QVERIFY(screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPadrao));
    }

    void datesBeforeTodayOrTheOrdersDateAreRefused_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("daysAhead");
        QTest::addColumn<QString>("message");
        const QString beforeToday = QStringLiteral("Data de Entrega não pode ser inferior à data atual.");
        const QString beforeOrder = QStringLiteral("Data de entrega não pode ser inferior à data do pedido.");
        QTest::newRow("yesterday") << 0 << -1 << beforeToday;
        QTest::newRow("today, order in the future") << 1 << 0 << beforeOrder;
        QTest::newRow("before both: only the first rule speaks") << 1 << -1 << beforeToday;
    }

    void datesBeforeTodayOrTheOrdersDateAreRefused()
    {
        QFETCH(int, row);
        QFETCH(int, daysAhead);
        QFETCH(QString, message);
        MessageRecorder messages;
        cds()->setRecNo(row);
        const QString order = current("NRPEDIDO");
        const QString stored = storedDate(QStringLiteral("0001"), order);
        const int auditsBefore = audits(order);

        typeDate(opd::today().addDays(daysAhead));
        selectColumn("NRPEDIDO");   // the refusal must bring the focus back to the date
        confirm();

        QCOMPARE(messages.texts, QStringList{message});
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
        QCOMPARE(QApplication::focusWidget(), screen->dbgPEDIDO);
        QCOMPARE(screen->dbgPEDIDO->selectedField()->fieldName(), QByteArray("DTENTPED"));
        QCOMPARE(screen->dbgPEDIDO->currentIndex().row(), row);
        QCOMPARE(fx.callsOf(QStringLiteral("SetDtEntregaPed")), 0);
        QCOMPARE(storedDate(QStringLiteral("0001"), order), stored);
        QCOMPARE(audits(order), auditsBefore);
    }

    void anEmptiedDateIsRefusedByTheFirstRule()
    {
        MessageRecorder messages;
        selectColumn("DTENTPED");
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_F2);
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && editor != screen->dbgPEDIDO);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_Delete);
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(cds()->fieldByName("DTENTPED")->isNull());
        confirm();
        QCOMPARE(messages.texts, QStringList{QStringLiteral("Data de Entrega não pode ser inferior à data atual.")});
        QCOMPARE(fx.callsOf(QStringLiteral("SetDtEntregaPed")), 0);
    }

    void keysOutsideTheDateColumnAreSwallowed()
    {
        MessageRecorder messages;
        selectColumn("NMRAZSOCCLIE");
        const int rows = cds()->recordCount();
        const QString name = current("NMRAZSOCCLIE");
        for (int key : {int(Qt::Key_A), int(Qt::Key_1), int(Qt::Key_Delete), int(Qt::Key_Return),
                        int(Qt::Key_F2), int(Qt::Key_Escape), int(Qt::Key_Insert), int(Qt::Key_PageDown),
                        int(Qt::Key_End)})
            QTest::keyClick(screen->dbgPEDIDO, Qt::Key(key));
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(cds()->recNo(), 0);
        QCOMPARE(cds()->recordCount(), rows);
        QCOMPARE(current("NMRAZSOCCLIE"), name);
        QCOMPARE(screen->dbgPEDIDO->selectedField()->fieldName(), QByteArray("NMRAZSOCCLIE"));

        // Tab, Shift+Tab and the arrows still move.
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Down);
        QCOMPARE(cds()->recNo(), 1);
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Tab);
        QCOMPARE(screen->dbgPEDIDO->selectedField()->fieldName(), QByteArray("DTPEDIDO"));
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(screen->dbgPEDIDO->selectedField()->fieldName(), QByteArray("NMRAZSOCCLIE"));
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Right, Qt::ControlModifier);
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Up);
        QCOMPARE(cds()->recNo(), 0);
        QVERIFY(messages.texts.isEmpty());

        // In the date column a digit starts an edit.
        selectColumn("DTENTPED");
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_1);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Edit);
    }

    void noRowIsAddedAndNoneDeleted()
    {
        MessageRecorder messages;
        // In the date column, where every key reaches the grid.
        selectColumn("DTENTPED");
        const int rows = cds()->recordCount();
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Insert);
        QCOMPARE(cds()->recordCount(), rows);
        cds()->last();
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Down);
        QCOMPARE(cds()->recordCount(), rows);
        QCOMPARE(cds()->recNo(), rows - 1);
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(cds()->recordCount(), rows);
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        // Also when asked of the data set directly.
        QVERIFY_THROWS_EXCEPTION(opd::Abort, cds()->remove());
        QCOMPARE(cds()->recordCount(), rows);
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(fx.calls.size(), 0);
    }

    void cancelDropsTheTypedDateWithoutACall()
    {
        const QString before = current("DTENTPED");
        typeDate(opd::today().addDays(9));
        QVERIFY(current("DTENTPED") != before);
        cancelCommand();
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DTENTPED"), before);
        QCOMPARE(fx.calls.size(), 0);
        QCOMPARE(commands(), QStringLiteral("0101100"));
        QVERIFY(screen->ctlConsulta->isEnabled());
        QVERIFY(screen->pgcPadrao->isPageEnabled(screen->tshPadrao));
    }

    void aRowMovePostsAndWrites()
    {
        MessageRecorder messages;
        cds()->setRecNo(2);
        const QString order = current("NRPEDIDO");
        const QDate date = opd::today().addDays(3);
        typeDate(date);
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_Down);
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(cds()->recNo(), 3);
        QCOMPARE(storedDate(QStringLiteral("0001"), order), Fixture::iso(date));
    }

    void theWriteNamesTheRowsOwnBranch_data()
    {
        QTest::addColumn<QString>("shownBranch");
        QTest::addColumn<int>("daysAhead");
        QTest::newRow("another branch typed after the search") << QStringLiteral("0002") << 11;
        QTest::newRow("branch emptied after the search") << QString() << 12;
    }

    void theWriteNamesTheRowsOwnBranch()
    {
        QFETCH(QString, shownBranch);
        QFETCH(int, daysAhead);
        MessageRecorder messages;
        cds()->setRecNo(3);
        const QString order = current("NRPEDIDO");
        const QDate date = opd::today().addDays(daysAhead);
        screen->medCdFilial->setText(shownBranch);
        typeDate(date);
        confirm();
        screen->medCdFilial->setText(QStringLiteral("0001"));
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(fx.callsOf(QStringLiteral("SetDtEntregaPed")), 1);
        QCOMPARE(fx.calls.last().args.at(1).value.toString(), QStringLiteral("0001"));
        QCOMPARE(storedDate(QStringLiteral("0001"), order), Fixture::iso(date));
    }

    void aDateTheServerRefusesIsUndone()
    {
        // The screen's clock ten days behind lets yesterday pass here; the
        // server, on the day pinned for the run, refuses it.
        opd::setTodayForTesting(fx.today.addDays(-10));
        MessageRecorder messages;
        cds()->setRecNo(4);
        const QString order = current("NRPEDIDO");
        const QString shown = current("DTENTPED");
        const QString stored = storedDate(QStringLiteral("0001"), order);
        typeDate(fx.today.addDays(-1));
        confirm();
        QCOMPARE(messages.texts.size(), 1);
        QCOMPARE(fx.callsOf(QStringLiteral("SetDtEntregaPed")), 1);   // no second write for the undo
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DTENTPED"), shown);
        QCOMPARE(storedDate(QStringLiteral("0001"), order), stored);
        QVERIFY(!ShowAviRunning());
        QCOMPARE(commands(), QStringLiteral("0101100"));
    }

    void findAndVerifyActOnTheOrders()
    {
        opd::ClientDataSet *searched = nullptr;
        pickerHooks().procura = [&](opd::ClientDataSet *ds) { searched = ds; };
        screen->mnuComando[3]->trigger();   // command 4
        pickerHooks().procura = nullptr;
        QCOMPARE(searched, cds());

        MessageRecorder messages;
        screen->mnuComando[4]->trigger();   // command 5: the search again
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(fx.callsOf(QStringLiteral("GetPedido")), 1);
        QVERIFY(cds()->isActive());
    }

    // Last: the server does not come back.
    void aStoppedServerLeavesTheStoredDateAndTheIndicatorOff()
    {
        MessageRecorder messages;
        cds()->setRecNo(0);
        const QString shown = current("DTENTPED");
        fx.server.stop();
        typeDate(opd::today().addDays(20));
        confirm();
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY(!ShowAviRunning());
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(current("DTENTPED"), shown);
    }
};

OPD_HOST_TEST_MAIN(OrdersPage)
#include "tst_orders_page.moc"
