// Selection modes, F9 on the "Lista" radio buttons, the order-number range
// edits and the reset, driven on the opened screen. The lookup queries read a
// small seeded SQLite database; no application server listens, so the
// order-number picker's call fails, which is what its failure test needs.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"
#include "tests/support/TestSupport.h"

#include "host/Pickers.h"
#include "host/ShowAvi.h"
#include "host/TADOIBQuery.h"
#include "host/TBtnPesquisa.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "platform/DataPacket.h"
#include "platform/DataSource.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace screentest;

namespace {

// One picker run as the hook saw it.
struct PickerRun
{
    QString source;   // object name of the data source
    QString keyField;
    QString title;
    QString listBefore;
};

// Replaces the data set's rows by one row of text cells (empty: null).
void loadOneRow(opd::ClientDataSet *cds, const QList<QByteArray> &cells)
{
    QList<opd::FieldDef> defs;
    for (const auto &f : cds->fields())
        defs << f->def();
    opd::DataPacket packet(defs);
    for (const QByteArray &cell : cells) {
        if (cell.isEmpty())
            packet.appendNull();
        else
            packet.appendText(cell);
    }
    packet.endRow();
    cds->setData(packet);
}

int trueCount(const QSignalSpy &spy)
{
    int n = 0;
    for (const QList<QVariant> &args : spy)
        n += args.value(0).toBool();
    return n;
}

} // namespace

class TstModes : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    TfrmDescEmiPed *screen = nullptr;
    QList<PickerRun> runs;
    QString pick;                 // what the hook leaves in the list text
    QStringList remoteCalls;
    QStringList reported;         // errors that reached the unhandled-error path
    QStringList shown;            // messages shown through Consiste

    void clickRadio(QRadioButton *rb)
    {
        QTest::mouseClick(rb, Qt::LeftButton, {}, QPoint(6, rb->height() / 2));
    }

    // Leaves a focused control for another one of the panel.
    void leaveTo(QWidget *next)
    {
        next->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QString url = opd::test::makeSeededSqlite(dir.path(), 40);
        QString error;
        QVERIFY2(dtmDBGeral::open(url, &error), qPrintable(error));
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        opd::setUnhandledErrorReporter([this](const QString &t) { reported << t; });
        Consiste::setMessageSink([this](const QString &t) { shown << t; });
        pickerHooks().pesquisaLista = [this](opd::DataSource *source, const QString &key,
                                             const QString &title, QString &list) {
            runs.append({source ? source->objectName() : QString(), key, title, list});
            list = pick;
            return true;
        };
    }

    void cleanupTestCase()
    {
        pickerHooks() = PickerHooks();
        dtmDBGeral::close();
    }

    void init()
    {
        screen = openScreen();
        QVERIFY(screen);
        runs.clear();
        remoteCalls.clear();
        reported.clear();
        shown.clear();
        pick = QStringLiteral("'X1','X2'");
        screen->remoteCallObserver = [this](const QString &m, const QList<opd::RemoteArg> &args) {
            remoteCalls << m + QLatin1Char('(') + (args.isEmpty() ? QString() : args[0].value.toString())
                               + QLatin1Char(')');
        };
        for (QString *l : {&Cli_opd31000::ListaNrPedido(), &Cli_opd31000::ListaCliente(),
                           &Cli_opd31000::ListaFiliDest(), &Cli_opd31000::ListaVendedor()})
            l->clear();
    }

    void cleanup()
    {
        if (screen)
            screen->remoteCallObserver = nullptr;
        QVERIFY(closeScreen());
    }

    // ---- Two-mode criteria ------------------------------------------------

    void listModeKeepsAnEarlierChoiceAcrossTodos_data()
    {
        QTest::addColumn<QString>("todos");
        QTest::addColumn<QString>("lista");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("which");
        QTest::newRow("destination branch") << "rbtTodosFili" << "rbtListaFili" << "sbtFiliDest" << 0;
        QTest::newRow("customer") << "rbtTCliente" << "rbtLCliente" << "sbtCliente" << 1;
        QTest::newRow("salesperson") << "rbtTVendedor" << "rbtLVendedor" << "sbtVendedor" << 2;
    }

    void listModeKeepsAnEarlierChoiceAcrossTodos()
    {
        QFETCH(QString, todos);
        QFETCH(QString, lista);
        QFETCH(QString, button);
        QFETCH(int, which);
        auto *rbTodos = screen->findChild<QRadioButton *>(todos);
        auto *rbLista = screen->findChild<QRadioButton *>(lista);
        auto *sbt = screen->findChild<QToolButton *>(button);
        QString &list = which == 0 ? Cli_opd31000::ListaFiliDest()
                      : which == 1 ? Cli_opd31000::ListaCliente() : Cli_opd31000::ListaVendedor();
        QVERIFY(rbTodos && rbLista && sbt);

        // Given "Lista" clicked: the picker button comes on, nothing opens.
        clickRadio(rbLista);
        QVERIFY(rbLista->isChecked());
        QVERIFY(sbt->isEnabled());
        QVERIFY(runs.isEmpty());
        QCOMPARE(QApplication::focusWidget(), rbLista);

        // When a list is picked and the mode goes to "Todos" and back.
        QTest::mouseClick(sbt, Qt::LeftButton);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(list, pick);
        clickRadio(rbTodos);
        QVERIFY(!sbt->isEnabled());
        QCOMPARE(list, pick);
        clickRadio(rbLista);

        // Then the earlier choice is still there, and is what the picker is
        // offered next time.
        QVERIFY(sbt->isEnabled());
        QCOMPARE(list, pick);
        QCOMPARE(runs.size(), 1);
        pick = QStringLiteral("'Y'");
        QTest::mouseClick(sbt, Qt::LeftButton);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs.last().listBefore, QStringLiteral("'X1','X2'"));
        QCOMPARE(list, QStringLiteral("'Y'"));
    }

    // ---- Order number ------------------------------------------------------

    void orderNumberListStartsEmptyOnEveryEntry()
    {
        // Given a list picked in "Lista".
        clickRadio(screen->rbtLNrPedido);
        QVERIFY(screen->sbtNrPedido->isEnabled());
        QVERIFY(!screen->medDeIntervalo->isEnabled());
        Cli_opd31000::ListaNrPedido() = QStringLiteral("'0000000001'");

        // Clicking "Lista" again while it is checked changes nothing.
        clickRadio(screen->rbtLNrPedido);
        screen->rbtLNrPedido->setChecked(true);
        QCOMPARE(Cli_opd31000::ListaNrPedido(), QStringLiteral("'0000000001'"));

        // "Intervalo" keeps the list and hands the focus to the range start.
        clickRadio(screen->rbtIntervalo);
        QCOMPARE(Cli_opd31000::ListaNrPedido(), QStringLiteral("'0000000001'"));
        QVERIFY(!screen->sbtNrPedido->isEnabled());
        QVERIFY(screen->medDeIntervalo->isEnabled() && screen->medAteIntervalo->isEnabled());
        QVERIFY(screen->lblDeNrPedido->isEnabled() && screen->lblAteNrPedido->isEnabled());
        QCOMPARE(QApplication::focusWidget(), screen->medDeIntervalo);

        // Back in "Lista", the list is empty again and the range is gone.
        QTest::keyClicks(screen->medDeIntervalo, QStringLiteral("7"));
        clickRadio(screen->rbtLNrPedido);
        QVERIFY(screen->rbtLNrPedido->isChecked());
        QVERIFY(Cli_opd31000::ListaNrPedido().isEmpty());
        QVERIFY(screen->sbtNrPedido->isEnabled());
        QVERIFY(screen->medDeIntervalo->text().isEmpty());
        QVERIFY(screen->medAteIntervalo->text().isEmpty());
        QVERIFY(!screen->medDeIntervalo->isEnabled());
        QVERIFY(!screen->lblDeNrPedido->isEnabled());
    }

    void typingARangeNumberSelectsIntervalo()
    {
        QVERIFY(screen->rbtTNrPedido->isChecked());
        screen->medAteIntervalo->setText(QStringLiteral("15"));   // by the program, edits disabled
        QVERIFY(screen->rbtIntervalo->isChecked());
        QVERIFY(screen->medDeIntervalo->isEnabled());
        QVERIFY(screen->medAteIntervalo->isEnabled());
        QVERIFY(!screen->sbtNrPedido->isEnabled());
    }

    void leavingTheRangeStartAdjustsItAndCopiesItToAnEmptyEnd()
    {
        clickRadio(screen->rbtIntervalo);
        QCOMPARE(QApplication::focusWidget(), screen->medDeIntervalo);
        QTest::keyClicks(screen->medDeIntervalo, QStringLiteral("123"));
        leaveTo(screen->medAteIntervalo);
        QCOMPARE(screen->medDeIntervalo->text(), QStringLiteral("0000000123"));
        QCOMPARE(screen->medAteIntervalo->text(), QStringLiteral("0000000123"));

        // Leaving the end adjusts only the end.
        screen->medAteIntervalo->setText(QStringLiteral("45"));
        leaveTo(screen->chbPPendente);
        QCOMPARE(screen->medAteIntervalo->text(), QStringLiteral("0000000045"));
        QCOMPARE(screen->medDeIntervalo->text(), QStringLiteral("0000000123"));

        // A start left empty copies nothing.
        screen->medDeIntervalo->setFocus();
        screen->medDeIntervalo->clear();
        screen->medAteIntervalo->clear();
        leaveTo(screen->medAteIntervalo);
        QVERIFY(screen->medDeIntervalo->text().isEmpty());
        QVERIFY(screen->medAteIntervalo->text().isEmpty());

        // An end already given is not overwritten by the start.
        screen->medAteIntervalo->setText(QStringLiteral("0000000900"));
        screen->medDeIntervalo->setFocus();
        screen->medDeIntervalo->setText(QStringLiteral("800"));
        leaveTo(screen->chbPPendente);
        QCOMPARE(screen->medDeIntervalo->text(), QStringLiteral("0000000800"));
        QCOMPARE(screen->medAteIntervalo->text(), QStringLiteral("0000000900"));
    }

    void todosEmptiesTheRangeAndStaysChecked()
    {
        // Given a range with both texts.
        clickRadio(screen->rbtIntervalo);
        screen->medDeIntervalo->setText(QStringLiteral("0000000010"));
        screen->medAteIntervalo->setText(QStringLiteral("0000000020"));
        QSignalSpy todos(screen->rbtTNrPedido, &QAbstractButton::toggled);
        QSignalSpy intervalo(screen->rbtIntervalo, &QAbstractButton::toggled);

        clickRadio(screen->rbtTNrPedido);

        QVERIFY(screen->rbtTNrPedido->isChecked());
        QVERIFY(!screen->rbtIntervalo->isChecked());
        QVERIFY(screen->medDeIntervalo->text().isEmpty());
        QVERIFY(screen->medAteIntervalo->text().isEmpty());
        QVERIFY(!screen->medDeIntervalo->isEnabled());
        QVERIFY(!screen->medAteIntervalo->isEnabled());
        QVERIFY(!screen->lblDeNrPedido->isEnabled());
        QVERIFY(!screen->lblAteNrPedido->isEnabled());
        QVERIFY(!screen->sbtNrPedido->isEnabled());
        // Clearing the start brought "Intervalo" back once; "Todos" was then
        // checked again, and that second run ended the chain.
        QCOMPARE(trueCount(intervalo), 1);
        QCOMPARE(trueCount(todos), 2);
        // The focus stays inside the panel: no search was started.
        QVERIFY(screen->panFiltro->isAncestorOf(QApplication::focusWidget()));
        QVERIFY(remoteCalls.isEmpty());
    }

    void todosFromAnEmptyRangeRunsOnceWithoutChangeHandlers()
    {
        clickRadio(screen->rbtIntervalo);
        QSignalSpy todos(screen->rbtTNrPedido, &QAbstractButton::toggled);
        QSignalSpy de(screen->medDeIntervalo, &QLineEdit::textChanged);
        QSignalSpy ate(screen->medAteIntervalo, &QLineEdit::textChanged);
        clickRadio(screen->rbtTNrPedido);
        QCOMPARE(trueCount(todos), 1);
        QCOMPARE(de.count(), 0);
        QCOMPARE(ate.count(), 0);
        QVERIFY(screen->rbtTNrPedido->isChecked());
    }

    // ---- F9 ------------------------------------------------------------------

    void f9OnAListRadioButtonRunsItsPicker_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("title");
        QTest::newRow("destination branch") << "rbtListaFili" << "dtsFilialDest" << "CDFILIAL" << "Filial Destino.";
        QTest::newRow("customer") << "rbtLCliente" << "dtsCliente" << "CDCLIENTE" << "Cliente";
        QTest::newRow("salesperson") << "rbtLVendedor" << "dtsVendedor" << "CDVENDEDOR" << "Vendedor";
    }

    void f9OnAListRadioButtonRunsItsPicker()
    {
        QFETCH(QString, radio);
        QFETCH(QString, source);
        QFETCH(QString, key);
        QFETCH(QString, title);
        auto *rb = screen->findChild<QRadioButton *>(radio);
        QVERIFY(rb);
        clickRadio(rb);
        QCOMPARE(QApplication::focusWidget(), rb);

        QTest::keyClick(rb, Qt::Key_F8);                       // another key: nothing
        QVERIFY(runs.isEmpty());
        QTest::keyClick(rb, Qt::Key_F9, Qt::ShiftModifier);   // modifiers are not looked at
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].source, source);
        QCOMPARE(runs[0].keyField, key);
        QCOMPARE(runs[0].title, title);
        QVERIFY(remoteCalls.isEmpty());
    }

    void f9OnTheOrderNumberListAsksTheServer()
    {
        clickRadio(screen->rbtLNrPedido);
        screen->medCdFilial->setText(QStringLiteral("0003"));
        QTest::keyClick(screen->rbtLNrPedido, Qt::Key_F9);
        QCOMPARE(remoteCalls, QStringList{QStringLiteral("GetNrPedido(0003)")});
    }

    void f9ElsewhereInThePanelDoesNothing()
    {
        for (QWidget *w : QList<QWidget *>{screen->rbtTCliente, screen->rbtTodosFili, screen->rbtTVendedor,
                                           screen->rbtTNrPedido, screen->chbPPendente, screen->medCdFilial}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key_F9);
        }
        QVERIFY(runs.isEmpty());
        QVERIFY(remoteCalls.isEmpty());
        QVERIFY(shown.isEmpty());
    }

    // ---- Order-number picker failing -----------------------------------------

    void failedOrderNumberFetchLeavesThePreviousListAndCleansUp()
    {
        // Given a list held from an earlier fetch.
        loadOneRow(screen->cdsNrPedido, {QByteArray(), "0000000042", "Cliente Antigo"});
        clickRadio(screen->rbtLNrPedido);
        Cli_opd31000::ListaNrPedido() = QStringLiteral("'0000000042'");

        // When the server cannot be reached.
        QTest::mouseClick(screen->sbtNrPedido, Qt::LeftButton);

        // Then the failure is reported once, no picker opened, nothing kept
        // running and the list stays as it was.
        QCOMPARE(remoteCalls.size(), 1);
        QCOMPARE(reported.size() + shown.size(), 1);
        QVERIFY(runs.isEmpty());
        QVERIFY(!ShowAviRunning());
        QVERIFY(screen->onActivate);
        QCOMPARE(screen->cdsNrPedido->recordCount(), 1);
        QCOMPARE(screen->cdsNrPedido->fieldByName("NRPEDIDO")->asString(), QStringLiteral("0000000042"));
        QCOMPARE(Cli_opd31000::ListaNrPedido(), QStringLiteral("'0000000042'"));

        // And the re-attached handler is the screen's own: an activation
        // after the pick does not propose the dates again.
        screen->depDeEmissao->Clear();
        screen->runActivation();
        QVERIFY(screen->depDeEmissao->isEmptyText());
    }

    void failedBranchListOffersNoStaleRows()
    {
        // Given branches held from an earlier answer.
        loadOneRow(screen->cdsPesqFilial, {"0009", "Filial Antiga", QByteArray()});
        int listed = 0;
        pickerHooks().pesquisarPlus = [&](opd::DataSource *, const QString &) {
            ++listed;
            return true;
        };
        screen->medCdFilial->setText(QStringLiteral("0001"));

        // When the server cannot be reached.
        QTest::mouseClick(screen->btnFilial, Qt::LeftButton);
        pickerHooks().pesquisarPlus = nullptr;

        // Then the call was made once, its failure shown once, and the old
        // rows were neither offered nor replaced.
        QCOMPARE(remoteCalls, QStringList{QStringLiteral("getFilial(01)")});
        QCOMPARE(reported.size() + shown.size(), 1);
        QCOMPARE(listed, 0);
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(screen->cdsPesqFilial->recordCount(), 1);
        QCOMPARE(screen->cdsPesqFilial->fieldByName("CDFILIAL")->asString(), QStringLiteral("0009"));
        QVERIFY(!ShowAviRunning());
    }

    // ---- Reset ----------------------------------------------------------------

    void resetClearsTheFilterButLeavesSalespersonBranchAndStatus()
    {
        using namespace Cli_opd31000;
        // Given every criterion away from its default.
        clickRadio(screen->rbtListaFili);
        clickRadio(screen->rbtLCliente);
        clickRadio(screen->rbtLVendedor);
        clickRadio(screen->rbtIntervalo);
        screen->medDeIntervalo->setText(QStringLiteral("0000000005"));
        screen->medAteIntervalo->setText(QStringLiteral("0000000009"));
        ListaNrPedido() = QStringLiteral("'0000000005'");
        ListaCliente() = QStringLiteral("'C'");
        ListaFiliDest() = QStringLiteral("'0002'");
        ListaVendedor() = QStringLiteral("'V'");
        screen->depDeEntrega->setText(QStringLiteral("01/02/2024"));
        screen->depAteEntrega->setText(QStringLiteral("03/02/2024"));
        screen->medCdFilial->setText(QStringLiteral("0002"));
        screen->chbPPendente->setChecked(false);
        screen->chbPCancelado->setChecked(true);
        Filtro.Cliente.Todos = false;
        Filtro.NrPedido.De = QStringLiteral("0000000005");
        Filtro.DeEmissao = 45000;

        screen->sbtLimpa->click();

        // The lists of the three reset criteria, the dates and the modes.
        QVERIFY(ListaNrPedido().isEmpty());
        QVERIFY(ListaCliente().isEmpty());
        QVERIFY(ListaFiliDest().isEmpty());
        for (TDateEditPlus *d : {screen->depDeEmissao, screen->depAteEmissao, screen->depDeEntrega,
                                 screen->depAteEntrega})
            QVERIFY(d->isEmptyText());
        QVERIFY(screen->rbtTodosFili->isChecked() && !screen->sbtFiliDest->isEnabled());
        QVERIFY(screen->rbtTCliente->isChecked() && !screen->sbtCliente->isEnabled());
        QVERIFY(screen->rbtTNrPedido->isChecked());
        QVERIFY(!screen->rbtIntervalo->isChecked() && !screen->rbtLNrPedido->isChecked());
        QVERIFY(screen->medDeIntervalo->text().isEmpty() && screen->medAteIntervalo->text().isEmpty());
        QVERIFY(!screen->medDeIntervalo->isEnabled() && !screen->medAteIntervalo->isEnabled());
        QVERIFY(!screen->lblDeNrPedido->isEnabled() && !screen->lblAteNrPedido->isEnabled());
        QVERIFY(!screen->sbtNrPedido->isEnabled());
        QVERIFY(Filtro.Cliente.Todos);
        QVERIFY(Filtro.NrPedido.De.isEmpty());
        QCOMPARE(Filtro.DeEmissao, 0.0);
        QVERIFY(Filtro.TodasEmissao);

        // What the reset leaves alone.
        QVERIFY(screen->rbtLVendedor->isChecked());
        QVERIFY(screen->sbtVendedor->isEnabled());
        QCOMPARE(ListaVendedor(), QStringLiteral("'V'"));
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0002"));
        QVERIFY(!screen->chbPPendente->isChecked());
        QVERIFY(screen->chbPAndamento->isChecked());
        QVERIFY(screen->chbPCancelado->isChecked());
        QVERIFY(remoteCalls.isEmpty());
    }

    // ---- A reopened screen ------------------------------------------------------

    void listTextsOutliveAClosedScreenWhileModesStartOver()
    {
        clickRadio(screen->rbtLCliente);
        QTest::mouseClick(screen->sbtCliente, Qt::LeftButton);
        QCOMPARE(Cli_opd31000::ListaCliente(), pick);
        Cli_opd31000::Filtro.Cliente.Todos = false;
        Cli_opd31000::Filtro.Cliente.Lista = pick;

        QVERIFY(closeScreen());
        screen = openScreen();
        QVERIFY(screen);

        for (QRadioButton *rb : {screen->rbtTodosFili, screen->rbtTCliente, screen->rbtTVendedor,
                                 screen->rbtTNrPedido})
            QVERIFY(rb->isChecked());
        QVERIFY(!screen->sbtCliente->isEnabled());
        QVERIFY(Cli_opd31000::Filtro.Cliente.Todos);
        QVERIFY(Cli_opd31000::Filtro.Cliente.Lista.isEmpty());
        QCOMPARE(Cli_opd31000::ListaCliente(), pick);

        // The stored choice is offered again when "Lista" comes back.
        clickRadio(screen->rbtLCliente);
        QTest::mouseClick(screen->sbtCliente, Qt::LeftButton);
        QCOMPARE(runs.last().listBefore, QStringLiteral("'X1','X2'"));
    }
};

OPD_HOST_TEST_MAIN(TstModes)
#include "tst_modes.moc"
