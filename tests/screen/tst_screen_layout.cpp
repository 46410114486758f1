// The screen as it first shows: every named control, data set, field and
// query is there, in its initial state and with its input limits; the
// message table answers the keys the handlers use.

#include "ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "host/TADOIBQuery.h"
#include "host/TBtnPesquisa.h"
#include "host/TDateEditPlus.h"
#include "host/PickerModel.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/DataSource.h"

#include <QAbstractItemModelTester>

using namespace screentest;

class ScreenLayout : public QObject
{
    Q_OBJECT

    TfrmDescEmiPed *screen = nullptr;

    template<typename T>
    T *child(const char *name)
    {
        return screen->findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        screen = openScreen();
        QVERIFY(screen);
    }

    void cleanupTestCase() { QVERIFY(closeScreen()); }

    void everyNamedPartIsReachable_data()
    {
        QTest::addColumn<QString>("name");
        const char *names[] = {
            "panFiltro", "lblFilial", "medCdFilial", "btnFilial", "edtNmFilial",
            "grbEmissao", "lblDeEmissao", "lblAteEmissao", "depDeEmissao", "depAteEmissao",
            "grbEntrega", "lblDeEntrega", "lblAteEntrega", "depDeEntrega", "depAteEntrega",
            "gbrFiliDesti", "rbtTodosFili", "rbtListaFili", "sbtFiliDest",
            "grbCliente", "rbtTCliente", "rbtLCliente", "sbtCliente",
            "grbVendedor", "rbtTVendedor", "rbtLVendedor", "sbtVendedor",
            "grbNrPedido", "rbtTNrPedido", "rbtIntervalo", "medDeIntervalo", "medAteIntervalo",
            "lblDeNrPedido", "lblAteNrPedido", "rbtLNrPedido", "sbtNrPedido",
            "grbPedido", "chbPPendente", "chbPAndamento", "chbPLiquidado", "chbPCancelado",
            "chbPParcialmente", "sbtLimpa", "tshPEDIDO", "dbgPEDIDO", "tshPadrao", "dbgPadrao",
            "pgcPadrao", "cdsPedido", "cdsItens", "cdsNrPedido", "cdsPesqFilial",
            "dtsPedido", "dtsPadrao", "dtsNrPedido", "dtsFilial", "dtsCliente", "dtsFilialDest",
            "dtsVendedor", "dtsNMProduto", "qryCliente", "qryFiliDest", "qryVendedor",
            "qryPesqFilial", "qryNMProduto", "netDescEmiPed", "msgPadrao"};
        for (const char *n : names)
            QTest::newRow(n) << QString::fromLatin1(n);
    }

    void everyNamedPartIsReachable()
    {
        QFETCH(QString, name);
        QObject *found = screen->findChild<QObject *>(name);
        QVERIFY2(found, qPrintable(name));
    }

    void windowShowsItsTitleCodeAndOrdersPage()
    {
        QCOMPARE(screen->windowTitle(), QStringLiteral("Descrição para Emissão do Pedido"));
        QCOMPARE(screen->lblCodTela->text(), QStringLiteral("OPD31000"));
        QCOMPARE(screen->pgcPadrao->count(), 2);
        QCOMPARE(screen->pgcPadrao->widget(0), screen->tshPEDIDO);
        QCOMPARE(screen->pgcPadrao->activePage(), screen->tshPEDIDO);
        QVERIFY(!screen->sbtLimpa->isVisibleTo(screen));
        QCOMPARE(screen->sbtLimpa->toolTip(), QStringLiteral("Desfazer"));
        QCOMPARE(screen->focusWidget(), screen->medCdFilial);
    }

    void criteriaStartInAllModeWithOnlyOpenStatuses()
    {
        for (const char *all : {"rbtTodosFili", "rbtTCliente", "rbtTVendedor", "rbtTNrPedido"})
            QVERIFY2(child<QRadioButton>(all)->isChecked(), all);
        for (const char *off : {"sbtFiliDest", "sbtCliente", "sbtVendedor", "sbtNrPedido",
                                "medDeIntervalo", "medAteIntervalo", "lblDeNrPedido", "lblAteNrPedido"})
            QVERIFY2(!child<QWidget>(off)->isEnabled(), off);
        QVERIFY(screen->chbPPendente->isChecked());
        QVERIFY(screen->chbPAndamento->isChecked());
        QVERIFY(!screen->chbPLiquidado->isChecked());
        QVERIFY(!screen->chbPCancelado->isChecked());
        QVERIFY(!screen->chbPParcialmente->isChecked());
        QVERIFY(!screen->edtNmFilial->isEnabled());
        QCOMPARE(screen->btnFilial->Associate, screen->medCdFilial);
        QCOMPARE(screen->btnFilial->DataSource, screen->dtsFilial);
    }

    void branchCodeTakesFourUpperCaseCharacters()
    {
        screen->medCdFilial->clear();
        screen->medCdFilial->setFocus();
        QTest::keyClicks(screen->medCdFilial, QStringLiteral("ab1cd"));
        QCOMPARE(screen->medCdFilial->text(), QStringLiteral("AB1C"));
        screen->medCdFilial->clear();
    }

    void rangeEditsTakeAtMostTenDigits()
    {
        QLineEdit *de = screen->medDeIntervalo;
        de->setEnabled(true);
        de->setFocus();
        QTest::keyClicks(de, QStringLiteral("12a-3456789012"));
        QCOMPARE(de->text(), QStringLiteral("1234567890"));
        de->clear();
        de->setEnabled(false);
    }

    void ordersGridShowsFourColumnsWithoutIndicator()
    {
        opd::DBGrid *grid = screen->dbgPEDIDO;
        QCOMPARE(grid->dataSource(), screen->dtsPedido);
        QVERIFY(!(grid->options() & opd::DBGrid::Indicator));
        QVERIFY(grid->options() & opd::DBGrid::Editing);
        QCOMPARE(grid->columns().size(), 4);
        QCOMPARE(grid->columns().at(3).fieldName, QByteArray("DTENTPED"));
        QAbstractItemModelTester tester(grid->model());
        QCOMPARE(grid->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Data Entrega"));
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("N° Pedido"));
    }

    void itemsGridShowsTheItemsWithAButtonOnTheDescription()
    {
        QCOMPARE(screen->dtsPadrao->dataSet(), screen->cdsItens);
        opd::DBGrid *grid = screen->dbgPadrao;
        QCOMPARE(grid->columns().size(), 5);
        QCOMPARE(grid->columns().at(4).fieldName, QByteArray("DSEMISSAOITPED"));
        QCOMPARE(grid->columns().at(4).buttonStyle, opd::DBGrid::ButtonStyle::Ellipsis);
        QAbstractItemModelTester tester(grid->model());
        QCOMPARE(grid->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Quantidade"));
    }

    void dataSetsAndQueriesStartClosed()
    {
        for (opd::ClientDataSet *cds : {screen->cdsPedido, screen->cdsItens, screen->cdsNrPedido,
                                        screen->cdsPesqFilial})
            QVERIFY2(!cds->isActive(), qPrintable(cds->objectName()));
        for (TADOIBQuery *q : {screen->qryCliente, screen->qryFiliDest, screen->qryVendedor,
                               screen->qryPesqFilial, screen->qryNMProduto})
            QVERIFY2(!q->isActive(), qPrintable(q->objectName()));
        // The description holds 400 characters and is shown only by its column.
        opd::Field *ds = screen->cdsItens->fieldByName("DSEMISSAOITPED");
        QCOMPARE(ds->size(), 400);
        QVERIFY(!ds->isReadOnly());
        QVERIFY(!ds->isVisible());
        QVERIFY(!screen->cdsPedido->fieldByName("DTENTPED")->isReadOnly());
    }

    void productCodesTakeTheHostPicture()
    {
        // Set at creation from the login environment: a new screen is needed.
        QVERIFY(closeScreen());
        Orvand::environment().productPicture = QStringLiteral("99.999.999;0;_");
        screen = openScreen();
        QVERIFY(screen);
        QCOMPARE(screen->cdsItens->fieldByName("CDARVPROD")->editMask(), QStringLiteral("99.999.999;0;_"));
        QCOMPARE(screen->qryNMProduto->Query()->fieldByName("CDARVPROD")->editMask(),
                 QStringLiteral("99.999.999;0;_"));
        Orvand::environment().productPicture.clear();
    }

    // Every column a clerk can see, in the two grids and in each picker,
    // carries a title of words, never the raw field name.
    void noGridOrPickerShowsARawFieldName()
    {
        for (opd::DBGrid *grid : {screen->dbgPEDIDO, screen->dbgPadrao}) {
            QAbstractItemModel *m = grid->model();
            for (int c = 0; c < m->columnCount(); ++c) {
                const QString title = m->headerData(c, Qt::Horizontal).toString();
                QVERIFY2(!title.isEmpty() && title != QString::fromUtf8(grid->columns().at(c).fieldName),
                         qPrintable(grid->objectName() + QLatin1Char(' ') + title));
            }
        }
        const QList<opd::DataSource *> pickers = {screen->dtsNrPedido, screen->dtsFilial, screen->dtsCliente,
                                                  screen->dtsFilialDest, screen->dtsVendedor, screen->dtsNMProduto};
        for (opd::DataSource *source : pickers) {
            PickerModel model(source->dataSet(), source == screen->dtsNrPedido);
            QVERIFY(model.columnCount() > 1);
            for (int c = 0; c < model.columnCount(); ++c) {
                const QString title = model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
                const int field = model.fieldOfColumn(c);
                QVERIFY2(!title.isEmpty(), qPrintable(source->objectName()));
                if (field >= 0)
                    QVERIFY2(title != QString::fromUtf8(source->dataSet()->fields().at(field)->fieldName()),
                             qPrintable(source->objectName() + QLatin1Char(' ') + title));
            }
        }
    }

    void messageTableAnswersTheKeysAsStored()
    {
        TMessages *msg = screen->msgPadrao;
        QCOMPARE(msg->entries().size(), 73);
        QCOMPARE(msg->entries().filter(QRegularExpression(QStringLiteral("^SISTEMA\\|Sistema$"))).size(), 2);
        for (const QString &line : msg->entries())
            QVERIFY2(line.indexOf(QLatin1Char('|')) > 0, qPrintable(line));
        QCOMPARE(msg->Msg(QStringLiteral("DTINI>DTFIN_PEDIDO")),
                 QStringLiteral("Data pedido inicial deve ser menor ou igual à data pedido final."));
        QCOMPARE(msg->Msg(QStringLiteral("DATA_INV")), QStringLiteral("não é uma data válida."));
        QCOMPARE(msg->Msg(QStringLiteral("FiliDestino")), QStringLiteral("Filial Destino."));
        QCOMPARE(msg->Msg(QStringLiteral("CLIENTE")), QStringLiteral("Cliente"));
    }
};

OPD_HOST_TEST_MAIN(ScreenLayout)
#include "tst_screen_layout.moc"
