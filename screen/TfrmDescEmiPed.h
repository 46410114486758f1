#pragma once
// "Descrição para Emissão do Pedido" (OPD31000): selects sales orders by a
// filter, lets the clerk change an order's delivery date and pick each
// item's description for issuing.
//
// The class only declares; its behaviour is split by subsystem:
//   screen/   layout, data sets, queries, message table, lifecycle
//   filter/   validation, search (wireFilter), pickers and modes (wirePickers)
//   editing/  orders page, items page, commands (wireEditing), page state
//
// Every control, data set, field and query carries its name as object name.
// Handlers run on the user-interface thread through opd::guarded(); a check
// that fails shows its message (Consiste::MensErro throws opd::Abort), moves
// the focus to the control to correct and rethrows.
//
// Focus enter/exit handlers are bound by the focus tracker (wireFilter):
// panFiltroEnter, panFiltroExit, the four date edits' exits, medCdFilialExit,
// medDeIntervaloExit, medAteIntervaloExit and pgcPadraoExit. An exit handler
// that throws keeps the focus where it was and stops the rest of the move,
// so leaving the panel from a refused control starts no search.

#include "host/TfrmPadraoGrid.h"
#include "platform/Variant.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

class TADOIBQuery;
class TBtnPesquisa;
class TDateEditPlus;
class TNetConnection;
class FocusExitTracker;
namespace opd { class ClientDataSet; class DataSource; class Field; class DBGrid; }

class TfrmDescEmiPed : public TfrmPadraoGrid
{
    Q_OBJECT
public:
    explicit TfrmDescEmiPed(QWidget *parent = nullptr);
    ~TfrmDescEmiPed() override;

    // ---- Filter panel -------------------------------------------------
    QFrame *panFiltro;
    QLabel *lblFilial;
    QLineEdit *medCdFilial;
    TBtnPesquisa *btnFilial;
    QLineEdit *edtNmFilial;
    QLabel *lblServidor;          // shown when the application server is unreachable

    QGroupBox *grbEmissao;
    QLabel *lblDeEmissao, *lblAteEmissao;
    TDateEditPlus *depDeEmissao, *depAteEmissao;

    QGroupBox *grbEntrega;
    QLabel *lblDeEntrega, *lblAteEntrega;
    TDateEditPlus *depDeEntrega, *depAteEntrega;

    QGroupBox *gbrFiliDesti;
    QRadioButton *rbtTodosFili, *rbtListaFili;
    QToolButton *sbtFiliDest;

    QGroupBox *grbCliente;
    QRadioButton *rbtTCliente, *rbtLCliente;
    QToolButton *sbtCliente;

    QGroupBox *grbVendedor;
    QRadioButton *rbtTVendedor, *rbtLVendedor;
    QToolButton *sbtVendedor;

    QGroupBox *grbNrPedido;
    QRadioButton *rbtTNrPedido, *rbtIntervalo, *rbtLNrPedido;
    QLineEdit *medDeIntervalo, *medAteIntervalo;
    QLabel *lblDeNrPedido, *lblAteNrPedido;
    QToolButton *sbtNrPedido;

    QGroupBox *grbPedido;
    QCheckBox *chbPPendente, *chbPAndamento, *chbPLiquidado, *chbPCancelado, *chbPParcialmente;

    QToolButton *sbtLimpa;        // on the base's command bar, hidden

    // ---- Pages ----------------------------------------------------------
    TTabSheet *tshPEDIDO;
    opd::DBGrid *dbgPEDIDO;

    // ---- Data sets, data sources, queries, connection -------------------
    opd::ClientDataSet *cdsPedido, *cdsItens, *cdsNrPedido, *cdsPesqFilial;
    opd::DataSource *dtsPedido, *dtsNrPedido, *dtsFilial, *dtsCliente, *dtsFilialDest,
        *dtsVendedor, *dtsNMProduto;
    TADOIBQuery *qryCliente, *qryFiliDest, *qryVendedor, *qryPesqFilial, *qryNMProduto;
    TNetConnection *netDescEmiPed;

    // Binds the focus enter/exit handlers (see the top of this header).
    FocusExitTracker *focusTracker() const { return m_focusTracker; }

    // Every remote method goes through here: fetches AppServer afresh and
    // calls the method by name. The observer, when set, sees each call
    // (method and arguments) just before it is sent; tests use it.
    QVariant chamaServidor(const QString &method, const QList<opd::RemoteArg> &args);
    // A write with its expectation (the value the clerk saw; see WriteBack).
    QVariant chamaServidor(const QString &method, const QList<opd::RemoteArg> &args, const QVariant &expect);
    std::function<void(const QString &method, const QList<opd::RemoteArg> &args)> remoteCallObserver;

    // ---- Lifecycle (screen/) ----------------------------------------------
    void FormCreate(QObject *sender) override;
    void FormActivate(QObject *sender) override;
    void FormClose(QObject *sender, CloseAction &action) override;
    void netDescEmiPedBeforeConnect(QObject *sender);

    // ---- Validation (filter/) ---------------------------------------------
    void depDeEmissaoExit(QObject *sender);
    void depAteEmissaoExit(QObject *sender);
    void depDeEntregaExit(QObject *sender);
    void depAteEntregaExit(QObject *sender);
    void Vd_DeEmissaoInv();
    void Vd_AteEmissaoInv();
    void Vd_DeEntregaInv();
    void Vd_AteEntregaInv();
    void Vd_Emissao();
    void Vd_Entrega();
    void Vd_DeIntervalo();
    void Vd_AteIntervalo();
    void Vd_Intervalo();

    // ---- Search (filter/) -------------------------------------------------
    void panFiltroExit(QObject *sender);

    // ---- Pickers and branch lookup (filter/) -------------------------------
    void sbtClienteClick(QObject *sender);
    void sbtFiliDestClick(QObject *sender);
    void sbtVendedorClick(QObject *sender);
    void sbtNrPedidoClick(QObject *sender);
    void medCdFilialChange(QObject *sender);
    void medCdFilialExit(QObject *sender);
    void btnFilialBeforePesq(QObject *sender, bool &cancel);
    void btnFilialAfterPesq(QObject *sender);
    void Vd_Filial();

    // ---- Selection modes and reset (filter/) -------------------------------
    void rbtTodosFiliClick(QObject *sender);
    void rbtListaFiliClick(QObject *sender);
    void rbtListaFiliKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    void rbtTClienteClick(QObject *sender);
    void rbtLClienteClick(QObject *sender);
    void rbtLClienteKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    void rbtTVendedorClick(QObject *sender);
    void rbtLVendedorClick(QObject *sender);
    void rbtLVendedorKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    void rbtTNrPedidoClick(QObject *sender);
    void rbtIntervaloClick(QObject *sender);
    void rbtLNrPedidoClick(QObject *sender);
    void rbtLNrPedidoKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    void medDeIntervaloChange(QObject *sender);
    void medAteIntervaloChange(QObject *sender);
    void medDeIntervaloExit(QObject *sender);
    void medAteIntervaloExit(QObject *sender);
    void panFiltroEnter(QObject *sender);
    void sbtLimpaClick(QObject *sender);

    // ---- Orders page (editing/) --------------------------------------------
    void dbgPEDIDOKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    void cdsPedidoDTENTPEDSetText(opd::Field &sender, const QString &text);
    void cdsPedidoBeforeInsert(opd::ClientDataSet &dataSet);
    void cdsPedidoBeforePost(opd::ClientDataSet &dataSet);
    void cdsPedidoAfterPost(opd::ClientDataSet &dataSet);

    // ---- Items page (editing/) ---------------------------------------------
    void dbgPadraoEditButtonClick(QObject *sender);
    void dbgPadraoDblClick(QObject *sender);
    void cdsItensDSEMISSAOITPEDChange(opd::Field &sender);
    void dbgPadraoKeyPress(QObject *sender, QChar &key) override;
    void cdsItensAfterPost(opd::ClientDataSet &dataSet);

    // ---- Commands (editing/) -----------------------------------------------
    void sbtProcurarClick(QObject *sender) override;
    void sbtConfirmarClick(QObject *sender) override;
    void sbtCancelarClick(QObject *sender) override;
    void sbtVerificarClick(QObject *sender) override;
    void pgcPadraoExit(QObject *sender);

    // ---- Page change and command state (editing/) --------------------------
    void pgcPadraoChange(QObject *sender);
    void dtsPedidoStateChange(QObject *sender);
    void ControleBotoes();
    // This screen's own rule (ControleBotoes) replaces the base's enabling:
    // the base's reaction to dtsPadrao's state changes is switched off.
    void updateCommands() override;

    // ---- History (editing/) ------------------------------------------------
    // Opens the change history of the current row of `grid` (nullptr: of the
    // page showing) in a dialog; nothing when there is no current row.
    void mostraHistorico(const opd::DBGrid *grid);

    // Shows or hides the notice that the application server is unreachable.
    void mostraServidorInacessivel(const QString &reason);

private:
    // Builders (screen/).
    void buildFilterPanel();
    void buildPages();
    void buildDataSets();
    void buildQueries();
    void nameControls();  // accessible names and label buddies
    // Wiring by subsystem.
    void wireFilter();    // filter/: focus tracker, validation, search, page change
    void wirePickers();   // filter/: pickers, branch lookup, modes, reset
    void wireEditing();   // editing/: orders and items pages, commands
    void wireHistory();   // editing/: history key and context menus

    // Shared by the four date-validity checks.
    void checaData(TDateEditPlus *edit);

    FocusExitTracker *m_focusTracker = nullptr;
    bool m_pageChangeByScreen = false;   // programmatic page changes run no handler
};
