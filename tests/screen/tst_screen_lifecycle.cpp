// Opening, activating and closing the screen through its unit.

#include "ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "host/TDateEditPlus.h"
#include "platform/Dates.h"
#include "server/TNetConnection.h"

#include "tests/server/FakeAppServer.h"

#include "server/RemoteResult.h"

#include <QCborStreamWriter>
#include <QSignalSpy>
#include <QTimer>

#include <chrono>
#include <thread>

using namespace screentest;

class ScreenLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        Orvand::environment().branch = QStringLiteral("0001");
        Orvand::environment().branchName = QStringLiteral("Matriz São Paulo");
    }

    void cleanup()
    {
        QVERIFY(closeScreen());
        Cli_opd31000::setCreationHookForTesting({});
        opd::setTodayForTesting(QDate());
        pointServerAt(closedPort());
    }

    void secondOpeningShowsTheSameScreenAtNormalSize()
    {
        MessageRecorder messages;
        TfrmDescEmiPed *first = openScreen();
        QVERIFY(first);
        QVERIFY(Cli_opd31000::FormCriado);
        first->subWindow()->showMinimized();
        QVERIFY(first->subWindow()->isMinimized());

        TfrmDescEmiPed *second = openScreen();
        QCOMPARE(second, first);
        QCOMPARE(HostApplication::mdiArea()->subWindowList().size(), 1);
        QVERIFY(!first->subWindow()->isMinimized());
        QVERIFY(!first->subWindow()->isMaximized());
        QVERIFY(!HostApplication::busyCursor());
    }

    void firstActivationProposesBranchAndTheLastThreeDays()
    {
        opd::setTodayForTesting(QDate(2024, 5, 10));
        TfrmDescEmiPed *screen = openScreen();
        QVERIFY(screen);
        QCOMPARE(screen->pgcPadrao->activePage(), screen->tshPEDIDO);
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(screen->edtNmFilial->text(), QStringLiteral("Matriz São Paulo"));
        QCOMPARE(screen->depDeEmissao->EditText(), QStringLiteral("08/05/2024"));
        QCOMPARE(screen->depAteEmissao->EditText(), QStringLiteral("10/05/2024"));
        QVERIFY(screen->depDeEntrega->isEmptyText());
        QVERIFY(screen->depAteEntrega->isEmptyText());
        QVERIFY(!Cli_opd31000::PrimeiraAtivacao);

        // Later activations (back from another window) change nothing.
        screen->medCdFilial->setText(QStringLiteral("0002"));
        screen->depDeEmissao->Clear();
        const int before = screen->activationCount();
        screen->runActivation();
        QCOMPARE(screen->activationCount(), before + 1);
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0002"));
        QVERIFY(screen->depDeEmissao->isEmptyText());
    }

    void reopeningResetsTheFilterButKeepsTheLists()
    {
        TfrmDescEmiPed *screen = openScreen();
        QVERIFY(screen);
        Cli_opd31000::ListaCliente() = QStringLiteral("'C1','C2'");
        Cli_opd31000::Filtro.Cliente.Todos = false;
        Cli_opd31000::Filtro.Cliente.Lista = Cli_opd31000::ListaCliente();
        Cli_opd31000::Filtro.DeEmissao = 45000;
        Cli_opd31000::Filtro.TodasEmissao = false;
        screen->rbtLCliente->setChecked(true);

        QVERIFY(closeScreen());
        QVERIFY(!Cli_opd31000::FormCriado);

        opd::setTodayForTesting(QDate(2024, 5, 10));
        TfrmDescEmiPed *again = openScreen();
        QVERIFY(again);
        QVERIFY(Cli_opd31000::Filtro.Cliente.Todos);
        QVERIFY(Cli_opd31000::Filtro.Cliente.Lista.isEmpty());
        QVERIFY(Cli_opd31000::Filtro.TodasEmissao);
        QCOMPARE(Cli_opd31000::Filtro.DeEmissao, 0.0);
        QCOMPARE(Cli_opd31000::ListaCliente(), QStringLiteral("'C1','C2'"));
        QVERIFY(again->rbtTCliente->isChecked());
        // The new screen runs its first activation again.
        QCOMPARE(again->depDeEmissao->EditText(), QStringLiteral("08/05/2024"));
        Cli_opd31000::ListaCliente().clear();
    }

    void connectionFollowsTheScreenWithTheAddressCurrentAtOpening()
    {
        FakeAppServer server;
        pointServerAt(server.port());
        TfrmDescEmiPed *screen = openScreen();
        QVERIFY(screen);
        QPointer<TNetConnection> net = screen->netDescEmiPed;
        QVERIFY(net->Connected());
        QCOMPARE(net->port(), server.port());
        QCOMPARE(server.healthHits(), 1);
        QVERIFY(!screen->lblServidor->isVisibleTo(screen));
        QSignalSpy changes(net.data(), &TNetConnection::connectedChanged);

        QVERIFY(screen->subWindow()->close());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toBool(), false);
        QVERIFY(!Cli_opd31000::FormCriado);
        QVERIFY(QTest::qWaitFor([&] { return net.isNull(); }, 2000));

        // A second server: the next opening takes the address of that moment.
        FakeAppServer other;
        pointServerAt(other.port());
        TfrmDescEmiPed *again = openScreen();
        QVERIFY(again);
        QVERIFY(again->netDescEmiPed->Connected());
        QCOMPARE(again->netDescEmiPed->port(), other.port());
        QCOMPARE(other.healthHits(), 1);
    }

    void unreachableServerStillOpensTheScreenWithANotice()
    {
        MessageRecorder messages;
        pointServerAt(closedPort());
        TfrmDescEmiPed *screen = openScreen();
        QVERIFY(screen);
        QVERIFY(!screen->netDescEmiPed->Connected());
        QCOMPARE(screen->netDescEmiPed->port(), closedPort());   // before-connect ran
        QVERIFY(screen->lblServidor->isVisible());
        QVERIFY(screen->lblServidor->text().contains(QStringLiteral("inacessível")));
        QVERIFY(messages.texts.isEmpty());   // no modal box at opening
    }

    void screenOpenedWhileTheServerWasDownWorksOnceItIsBack()
    {
        pointServerAt(closedPort());
        TfrmDescEmiPed *screen = openScreen();
        QVERIFY(screen);
        QVERIFY(!screen->netDescEmiPed->Connected());
        QVERIFY(screen->lblServidor->isVisible());

        FakeAppServer server;
        pointServerAt(server.port());
        const QVariant result = screen->chamaServidor(QStringLiteral("GetNrPedido"),
                                                      {opd::RemoteArg::text(QStringLiteral("0001"))});
        QVERIFY(RemoteResult::isOk(result));
        QVERIFY(screen->netDescEmiPed->Connected());
        QCOMPARE(screen->netDescEmiPed->port(), server.port());
        QCOMPARE(server.received().size(), 1);
        QVERIFY(!screen->lblServidor->isVisible());
    }

    void screenDestroyedDuringACallEndsTheCallNotTheProcess()
    {
        FakeAppServer server;
        server.setAnswer([](const FakeAppServer::Received &r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return FakeAppServer::cborOk(r.id(), [](QCborStreamWriter &w) { w.append(QLatin1String("feito")); });
        });
        pointServerAt(server.port());
        QPointer<TfrmDescEmiPed> screen = openScreen();
        QVERIFY(screen);
        QPointer<TNetConnection> net = screen->netDescEmiPed;
        QVERIFY(net->Connected());

        // The package is unloaded while the call is awaited: the screen's
        // destructor closes the connection.
        QTimer::singleShot(50, this, [] { Cli_opd31000::Finalization(); });
        const QVariant result = AppServerDispatch(net.data()).call(QStringLiteral("GetNrPedido"), {});
        QVERIFY(screen.isNull());
        QVERIFY(net.isNull());
        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
        Cli_opd31000::Initialization();
    }

    void failedCreationLeavesNoScreenAndTriesAgainNextTime()
    {
        Cli_opd31000::setCreationHookForTesting([](TfrmDescEmiPed &) {
            throw opd::DataSetError(QStringLiteral("falha provocada"));
        });
        QVERIFY_THROWS_EXCEPTION(opd::DataSetError, Cli_opd31000::CriaDescEmi());
        QVERIFY(!Cli_opd31000::FormCriado);
        QVERIFY(Cli_opd31000::frmDescEmiPed.isNull());
        QVERIFY(!HostApplication::busyCursor());
        QTRY_COMPARE(HostApplication::mdiArea()->subWindowList().size(), 0);

        Cli_opd31000::setCreationHookForTesting({});
        QVERIFY(openScreen());
        QVERIFY(Cli_opd31000::FormCriado);
    }

    void onlyTheLastFinalizationReleasesTheUnit()
    {
        QVERIFY(openScreen());
        Cli_opd31000::ListaVendedor() = QStringLiteral("'V1'");
        Cli_opd31000::Initialization();   // a second user of the unit
        Cli_opd31000::Finalization();
        QCOMPARE(Cli_opd31000::ListaVendedor(), QStringLiteral("'V1'"));
        QVERIFY(!Cli_opd31000::frmDescEmiPed.isNull());

        Cli_opd31000::Finalization();     // the last one
        QCOMPARE(Cli_opd31000::initializationCount(), 0);
        QVERIFY(Cli_opd31000::ListaVendedor().isEmpty());
        QVERIFY(Cli_opd31000::frmDescEmiPed.isNull());
        QVERIFY(!Cli_opd31000::FormCriado);
        QCOMPARE(HostApplication::mdiArea()->subWindowList().size(), 0);
        Cli_opd31000::Initialization();   // for the remaining cleanup
    }
};

OPD_HOST_TEST_MAIN(ScreenLifecycle)
#include "tst_screen_lifecycle.moc"
