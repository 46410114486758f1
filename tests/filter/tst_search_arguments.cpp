// What the order search stores in Filtro and sends to GetPedido, seen at the
// remote-call boundary. No server is listening: the call itself then fails,
// which also shows what the search leaves behind after a failed call.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "host/ShowAvi.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/Dates.h"

using namespace screentest;
using Kind = opd::RemoteArg::Kind;

namespace {

// One argument as "kind:value", e.g. "ref:T", "num:0", "txt:0001".
QString show(const opd::RemoteArg &a)
{
    switch (a.kind) {
    case Kind::Text: return QStringLiteral("txt:") + a.value.toString();
    case Kind::TextRef: return QStringLiteral("ref:") + a.value.toString();
    case Kind::NumberRef: return QStringLiteral("num:") + QString::number(a.value.toDouble(), 'f', 0);
    case Kind::Date: return QStringLiteral("date:") + QString::number(a.value.toDouble(), 'f', 0);
    }
    return QString();
}

} // namespace

class SearchArguments : public QObject
{
    Q_OBJECT

    TfrmDescEmiPed *screen = nullptr;
    QStringList args;             // of the last GetPedido, "kind:value", 0-based
    int calls = 0;
    bool busyDuringCall = false;
    QStringList reported;
    std::unique_ptr<MessageRecorder> messages;   // no message box may open here

    // Runs the search by leaving the panel; returns the arguments sent.
    QStringList search()
    {
        screen->chbPPendente->setFocus();
        screen->dbgPEDIDO->setFocus();
        return args;
    }

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        opd::setUnhandledErrorReporter([this](const QString &t) { reported << t; });
    }

    void init()
    {
        messages = std::make_unique<MessageRecorder>();
        screen = openScreen();
        QVERIFY(screen);
        args.clear();
        calls = 0;
        reported.clear();
        screen->remoteCallObserver = [this](const QString &method, const QList<opd::RemoteArg> &a) {
            if (method != QLatin1String("GetPedido"))
                return;
            ++calls;
            busyDuringCall = ShowAviRunning() && ShowAviKind() == int(TShowAvi::Fetch);
            args.clear();
            for (const auto &x : a)
                args << show(x);
        };
        for (TDateEditPlus *d : {screen->depDeEmissao, screen->depAteEmissao, screen->depDeEntrega,
                                 screen->depAteEntrega})
            d->Clear();
        // Set once the focus has left the code: the branch check on leaving
        // it reads the host database, which is not part of these tests.
        screen->chbPPendente->setFocus();
        screen->medCdFilial->setText(QStringLiteral("0001"));
        for (QString *list : {&Cli_opd31000::ListaNrPedido(), &Cli_opd31000::ListaCliente(),
                              &Cli_opd31000::ListaFiliDest(), &Cli_opd31000::ListaVendedor()})
            list->clear();
    }

    void cleanup()
    {
        screen->remoteCallObserver = nullptr;
        QVERIFY(closeScreen());
        QVERIFY2(messages->texts.isEmpty(), qPrintable(messages->texts.join('\n')));
        messages.reset();
    }

    void defaultFilterSendsEverythingAsAll()
    {
        const QStringList a = search();
        QCOMPARE(calls, 1);
        QCOMPARE(a, (QStringList{
                     "ref:T", "ref:", "ref:", "ref:T", "ref:", "ref:T", "ref:",
                     "ref:T", "num:0", "num:0", "ref:T", "num:0", "num:0", "ref:T",
                     "txt:0001", "ref:", "ref:", "ref:T", "ref:12", "ref:"}));
        QVERIFY(Cli_opd31000::Filtro.TodasEmissao);
        QVERIFY(Cli_opd31000::Filtro.TodasEntrega);
    }

    void failedCallLeavesNoBusyIndicatorAndTheFocusInThePanel()
    {
        search();
        QVERIFY(busyDuringCall);
        QVERIFY(!ShowAviRunning());
        QCOMPARE(reported.size(), 1);   // the call's own failure, reported once
        QVERIFY(screen->panFiltro->isAncestorOf(QApplication::focusWidget()));
        QVERIFY(!screen->cdsPedido->isActive());
        QVERIFY(!screen->cdsItens->isActive());
    }

    void dateRangesTravelAsDayCountsOnlyWhenComplete()
    {
        screen->depDeEmissao->setText(QStringLiteral("08/05/2024"));
        screen->depAteEmissao->setText(QStringLiteral("10/05/2024"));
        screen->depDeEntrega->setText(QStringLiteral("20/05/2024"));   // the other end left out
        const QStringList a = search();
        const double de = opd::toDayCount(QDate(2024, 5, 8));
        QCOMPARE(a.mid(7, 6), (QStringList{"ref:", QStringLiteral("num:%1").arg(de),
                                           QStringLiteral("num:%1").arg(de + 2),
                                           "ref:T", "num:0", "num:0"}));
        QVERIFY(!Cli_opd31000::Filtro.TodasEmissao);
        QVERIFY(Cli_opd31000::Filtro.TodasEntrega);
        QCOMPARE(Cli_opd31000::Filtro.DeEntrega, 0.0);
    }

    void orderNumberModesCombineTheTwoFlags()
    {
        screen->medDeIntervalo->setText(QStringLiteral("0000000010"));
        screen->medAteIntervalo->setText(QStringLiteral("0000000020"));
        screen->rbtIntervalo->setChecked(true);
        QStringList a = search();
        QCOMPARE(a.mid(0, 5), (QStringList{"ref:", "ref:0000000010", "ref:0000000020", "ref:T", "ref:"}));
        QVERIFY(Cli_opd31000::Filtro.NrPedido.Intervalo);
        QVERIFY(Cli_opd31000::Filtro.NrPedido.Todos);

        // Entering the list mode empties the range edits and the list.
        screen->rbtLNrPedido->setChecked(true);
        Cli_opd31000::ListaNrPedido() = QStringLiteral("'0000000010','0000000011'");
        a = search();
        QCOMPARE(a.mid(0, 5), (QStringList{"ref:T", "ref:", "ref:", "ref:",
                                           "ref:'0000000010','0000000011'"}));
        QVERIFY(!Cli_opd31000::Filtro.NrPedido.Todos);
    }

    void listsTravelWhateverTheMode()
    {
        Cli_opd31000::ListaCliente() = QStringLiteral("'C1'");
        Cli_opd31000::ListaFiliDest() = QStringLiteral("'0002'");
        Cli_opd31000::ListaVendedor() = QStringLiteral("'V1','V2'");
        QStringList a = search();
        QCOMPARE(a.mid(5, 2), (QStringList{"ref:T", "ref:'C1'"}));
        QCOMPARE(a.mid(13, 5), (QStringList{"ref:T", "txt:0001", "ref:'0002'", "ref:'V1','V2'", "ref:T"}));
        QVERIFY(Cli_opd31000::Filtro.Cliente.Todos);
        QCOMPARE(Cli_opd31000::Filtro.Cliente.Lista, QStringLiteral("'C1'"));

        screen->rbtLCliente->setChecked(true);
        screen->rbtListaFili->setChecked(true);
        screen->rbtLVendedor->setChecked(true);
        screen->medCdFilial->clear();   // an empty branch is sent as it is
        a = search();
        QCOMPARE(a.mid(5, 2), (QStringList{"ref:", "ref:'C1'"}));
        QCOMPARE(a.mid(13, 5), (QStringList{"ref:", "txt:", "ref:'0002'", "ref:'V1','V2'", "ref:"}));
    }

    void statusBoxesBecomeCodes_data()
    {
        QTest::addColumn<QList<bool>>("boxes");
        QTest::addColumn<QString>("codes");
        QTest::addColumn<QString>("all");
        QTest::newRow("default") << QList<bool>{true, true, false, false, false} << "12" << "";
        QTest::newRow("only Liquidado") << QList<bool>{false, false, true, false, false} << "35" << "";
        QTest::newRow("all five") << QList<bool>{true, true, true, true, true} << "123546" << "T";
        QTest::newRow("Cancelado and Parc.") << QList<bool>{false, false, false, true, true} << "46" << "";
    }

    void statusBoxesBecomeCodes()
    {
        QFETCH(QList<bool>, boxes);
        QFETCH(QString, codes);
        QFETCH(QString, all);
        const QList<QCheckBox *> checks = {screen->chbPPendente, screen->chbPAndamento, screen->chbPLiquidado,
                                           screen->chbPCancelado, screen->chbPParcialmente};
        for (int i = 0; i < 5; ++i)
            checks[i]->setChecked(boxes[i]);
        const QStringList a = search();
        QCOMPARE(a.value(18), QStringLiteral("ref:") + codes);
        QCOMPARE(a.value(19), QStringLiteral("ref:") + all);
    }
};

OPD_HOST_TEST_MAIN(SearchArguments)
#include "tst_search_arguments.moc"
