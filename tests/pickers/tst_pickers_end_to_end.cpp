// Pickers end to end: a seeded SQLite database read both by the real
// application server (order numbers, branch list, search) and by the host's
// lookup queries (customers, destination branches, salespeople). The picker
// dialogs are replaced by hooks that mark rows the way a clerk would; what
// comes back is compared with the database, read here independently.

#include "../screen/SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "platform/ListText.h"
#include "host/Pickers.h"
#include "host/ShowAvi.h"
#include "host/TBtnPesquisa.h"
#include "platform/DataSource.h"

#include <QAbstractItemModelTester>
#include <QSet>

using namespace screentest;

namespace {

QString sqlList(const QStringList &keys)
{
    QStringList quoted;
    for (const QString &k : keys)
        quoted << QLatin1Char('\'') + k + QLatin1Char('\'');
    return quoted.join(QLatin1Char(','));
}

QStringList fieldValues(opd::ClientDataSet *ds, const char *field)
{
    const int f = ds->fieldByName(field)->index();
    QStringList out;
    for (int r = 0; r < ds->recordCount(); ++r)
        out << QString::fromUtf8(ds->textAt(r, f));
    return out;
}

} // namespace

class TstPickersEndToEnd : public QObject
{
    Q_OBJECT

    SeededScreen fx;
    TfrmDescEmiPed *screen = nullptr;
    QStringList calls;            // "Method(arg|arg)"
    QStringList shown;

    // What the hook marks: the rows whose key is in `wanted`.
    QSet<QString> wanted;
    int pickerRuns = 0;
    bool busyDuringPick = true;
    bool activationDetachedDuringPick = false;

    static QStringList query(const QString &sql) { return SeededScreen::rows(sql); }

    void leavePanel() { fx.leavePanel(); }

    // Every order whatever its status and dates, of every branch.
    void widenFilter()
    {
        for (TDateEditPlus *d : {screen->depDeEmissao, screen->depAteEmissao, screen->depDeEntrega,
                                 screen->depAteEntrega})
            d->Clear();
        for (QCheckBox *c : {screen->chbPPendente, screen->chbPAndamento, screen->chbPLiquidado,
                             screen->chbPCancelado, screen->chbPParcialmente})
            c->setChecked(true);
        screen->medCdFilial->clear();
        screen->rbtTNrPedido->setChecked(true);
    }

    void pickWith(QToolButton *button, const QStringList &keys)
    {
        wanted = QSet<QString>(keys.begin(), keys.end());
        QTest::mouseClick(button, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        Orvand::environment().company = QStringLiteral("01");
        Orvand::environment().branchName = QStringLiteral("Matriz");
        Consiste::setMessageSink([this](const QString &t) { shown << t; });
        opd::setUnhandledErrorReporter([this](const QString &t) { shown << QStringLiteral("!") + t; });
        pickerHooks().pesquisaLista = [this](opd::DataSource *source, const QString &key, const QString &,
                                             QString &list) {
            ++pickerRuns;
            busyDuringPick = ShowAviRunning();
            activationDetachedDuringPick = screen && !screen->onActivate;
            opd::ClientDataSet *ds = source->dataSet();
            QStringList marked;
            for (const QString &k : fieldValues(ds, key.toUtf8().constData()))
                if (wanted.contains(k))
                    marked << k;
            list = opd::listtext::join(marked);
            return true;
        };

        const QString failure = fx.start(300);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        screen = fx.screen;
        screen->remoteCallObserver = [this](const QString &m, const QList<opd::RemoteArg> &args) {
            QStringList values;
            for (const auto &a : args)
                values << a.value.toString();
            calls << m + QLatin1Char('(') + values.join(QLatin1Char('|')) + QLatin1Char(')');
        };
    }

    void cleanupTestCase()
    {
        pickerHooks() = PickerHooks();
        QVERIFY(fx.stop());
    }

    void init()
    {
        calls.clear();
        shown.clear();
        pickerRuns = 0;
        busyDuringPick = true;
        activationDetachedDuringPick = false;
    }

    void orderNumberPickerListsTheOrdersOfTheBranchShown()
    {
        screen->medCdFilial->setText(QStringLiteral("0002"));
        screen->rbtLNrPedido->setChecked(true);
        const QStringList numbers =
            query(QStringLiteral("SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = '0002' ORDER BY NRPEDIDO"));
        QVERIFY(numbers.size() > 5);

        pickWith(screen->sbtNrPedido, numbers.mid(1, 3));

        QCOMPARE(calls, QStringList{QStringLiteral("GetNrPedido(0002)")});
        QCOMPARE(fieldValues(screen->cdsNrPedido, "NRPEDIDO"), numbers);
        QCOMPARE(Cli_opd31000::ListaNrPedido(), opd::listtext::join(numbers.mid(1, 3)));
        // The indicator was off before the picker opened; the activation
        // handler was away during the pick and is back afterwards.
        QVERIFY(!busyDuringPick);
        QVERIFY(activationDetachedDuringPick);
        QVERIFY(screen->onActivate);
        QVERIFY(!ShowAviRunning());
        QVERIFY(shown.isEmpty());

        // An empty branch code asks for every branch's orders.
        screen->medCdFilial->clear();
        pickWith(screen->sbtNrPedido, {});
        QCOMPARE(calls.last(), QStringLiteral("GetNrPedido()"));
        QCOMPARE(screen->cdsNrPedido->recordCount(), query(QStringLiteral("SELECT COUNT(*) FROM PEDIDO")).value(0).toInt());
    }

    void orderNumberPickerWithNoOrdersRefusesWithFocusOnLista()
    {
        screen->chbPPendente->setFocus();
        screen->rbtLNrPedido->setChecked(true);
        // A branch without orders, set while the focus is elsewhere (leaving
        // the edit would refuse the unknown code first).
        screen->medCdFilial->setText(QStringLiteral("77"));
        screen->chbPPendente->setFocus();
        Cli_opd31000::ListaNrPedido() = QStringLiteral("'0000000001'");
        QTest::mouseClick(screen->sbtNrPedido, Qt::LeftButton);
        QCOMPARE(shown, QStringList{QStringLiteral("Não há pedido cadastrado.")});
        QCOMPARE(QApplication::focusWidget(), screen->rbtLNrPedido);
        QCOMPARE(pickerRuns, 0);
        QVERIFY(!ShowAviRunning());
        QVERIFY(screen->onActivate);
        QCOMPARE(Cli_opd31000::ListaNrPedido(), QStringLiteral("'0000000001'"));
    }

    void branchButtonListsTheCompanyBranchesAndTakesThePick()
    {
        QStringList offered;
        QString dialogText;
        pickerHooks().pesquisarPlus = [&](opd::DataSource *source, const QString &text) {
            offered = fieldValues(source->dataSet(), "CDFILIAL");
            dialogText = text;
            source->dataSet()->setRecNo(int(offered.indexOf(QStringLiteral("0004"))));
            return true;
        };
        screen->medCdFilial->setText(QStringLiteral("0001"));
        QTest::mouseClick(screen->btnFilial, Qt::LeftButton);
        pickerHooks().pesquisarPlus = nullptr;

        QCOMPARE(calls, QStringList{QStringLiteral("getFilial(01|T)")});
        QCOMPARE(dialogText, QStringLiteral("Filial|Não há filial cadastrada."));
        QCOMPARE(offered, query(QStringLiteral("SELECT CDFILIAL FROM FILIAL WHERE CDEMPRESA = '01' ORDER BY CDFILIAL")));
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0004"));
        QCOMPARE(screen->edtNmFilial->text(),
                 query(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = '0004'")).value(0));
        QVERIFY(shown.isEmpty());
    }

    void searchAfterPickingListsReturnsOnlyMatchingOrders()
    {
        widenFilter();
        // Customers and salespeople that share some orders.
        const QStringList customers = query(QStringLiteral(
            "SELECT CDCLIENTE FROM PEDIDO WHERE CDCLIENTE IS NOT NULL GROUP BY CDCLIENTE ORDER BY COUNT(*) DESC LIMIT 4"));
        const QStringList sellers = query(QStringLiteral(
            "SELECT CDVENDEDOR FROM PEDIDO WHERE CDCLIENTE IN (%1) AND CDVENDEDOR IN"
            " (SELECT CDVENDEDOR FROM VENDEDOR WHERE IDCARGOVEND <> 'R') GROUP BY CDVENDEDOR LIMIT 3").arg(sqlList(customers)));
        QCOMPARE(customers.size(), 4);
        QVERIFY(!sellers.isEmpty());

        screen->rbtLCliente->setChecked(true);
        pickWith(screen->sbtCliente, customers);
        screen->rbtLVendedor->setChecked(true);
        pickWith(screen->sbtVendedor, sellers);
        QCOMPARE(pickerRuns, 2);
        leavePanel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));

        const QStringList expected = query(QStringLiteral(
            "SELECT NRPEDIDO FROM PEDIDO WHERE CDCLIENTE IN (%1) AND CDVENDEDOR IN (%2) ORDER BY CDFILIAL, NRPEDIDO")
                                               .arg(sqlList(customers), sqlList(sellers)));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(fieldValues(screen->cdsPedido, "NRPEDIDO"), expected);

        // Destination branches instead, everything else back to "Todos".
        screen->rbtTCliente->setChecked(true);
        screen->rbtTVendedor->setChecked(true);
        screen->rbtListaFili->setChecked(true);
        const QStringList destinations = {QStringLiteral("0003"), QStringLiteral("0005")};
        pickWith(screen->sbtFiliDest, destinations);
        QCOMPARE(Cli_opd31000::ListaFiliDest(), opd::listtext::join(destinations));
        leavePanel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        const QStringList toBranches = query(QStringLiteral(
            "SELECT NRPEDIDO FROM PEDIDO WHERE CDFILDEST IN ('0003','0005') ORDER BY CDFILIAL, NRPEDIDO"));
        QVERIFY(!toBranches.isEmpty());
        QCOMPARE(fieldValues(screen->cdsPedido, "NRPEDIDO"), toBranches);
        screen->rbtTodosFili->setChecked(true);

        // Order numbers picked for one branch.
        screen->medCdFilial->setText(QStringLiteral("0003"));
        screen->rbtLNrPedido->setChecked(true);
        const QStringList numbers = query(QStringLiteral(
            "SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = '0003' ORDER BY NRPEDIDO LIMIT 3"));
        pickWith(screen->sbtNrPedido, numbers);
        leavePanel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        QCOMPARE(fieldValues(screen->cdsPedido, "NRPEDIDO"), numbers);
    }

    void enteringThePanelEmptiesBothGrids()
    {
        QAbstractItemModelTester orders(screen->dbgPEDIDO->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester items(screen->dbgPadrao->model(),
                                       QAbstractItemModelTester::FailureReportingMode::QtTest);
        widenFilter();
        screen->rbtTNrPedido->setChecked(true);
        leavePanel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        QVERIFY(screen->dbgPEDIDO->model()->rowCount() > 0);
        QVERIFY(screen->cdsItens->isActive());

        // Entering the panel, changing nothing.
        screen->chbPPendente->setFocus();
        QVERIFY(!screen->cdsPedido->isActive());
        QVERIFY(!screen->cdsItens->isActive());
        QCOMPARE(screen->dbgPEDIDO->model()->rowCount(), 0);
        QCOMPARE(screen->dbgPadrao->model()->rowCount(), 0);
    }

    void resetFromTheGridEmptiesThePagesWithoutSearching()
    {
        widenFilter();
        screen->rbtIntervalo->setChecked(true);
        screen->medDeIntervalo->setText(QStringLiteral("0000000001"));
        screen->medAteIntervalo->setText(QStringLiteral("0000000100"));
        leavePanel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        QVERIFY(screen->cdsPedido->recordCount() > 0);
        QCOMPARE(QApplication::focusWidget(), screen->dbgPEDIDO);
        calls.clear();

        // Clearing the range edits passes through "Intervalo", which moves
        // the focus; wherever it ends, no search may start half way.
        screen->sbtLimpa->click();

        QVERIFY2(calls.isEmpty(), qPrintable(calls.join(' ')));
        QVERIFY(shown.isEmpty());
        QVERIFY(!screen->cdsPedido->isActive());
        QVERIFY(!screen->cdsItens->isActive());
        QVERIFY(screen->rbtTNrPedido->isChecked());
        QVERIFY(screen->medDeIntervalo->text().isEmpty());
    }
};

OPD_HOST_TEST_MAIN(TstPickersEndToEnd)
#include "tst_pickers_end_to_end.moc"
