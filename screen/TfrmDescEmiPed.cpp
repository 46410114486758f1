// Construction and lifecycle of the screen: creation, first activation,
// closing and the server connection.

#include "screen/TfrmDescEmiPed.h"

#include "host/Orvand.h"
#include "host/TADOIBQuery.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "platform/Dates.h"
#include "screen/Cli_opd31000.h"
#include "screen/FocusExitTracker.h"
#include "screen/MessageTable.h"
#include "server/TNetConnection.h"

TfrmDescEmiPed::TfrmDescEmiPed(QWidget *parent)
    : TfrmPadraoGrid(parent)
{
    setObjectName(QStringLiteral("frmDescEmiPed"));
    setWindowTitle(QStringLiteral("Descrição para Emissão do Pedido"));
    resize(747, 475);
    lblCodTela->setText(QStringLiteral("OPD31000"));
    msgPadrao->setEntries(messageTableOpd31000());

    buildDataSets();
    buildQueries();
    buildFilterPanel();
    buildPages();
    nameControls();

    netDescEmiPed = new TNetConnection(this);
    netDescEmiPed->setObjectName(QStringLiteral("netDescEmiPed"));
    netDescEmiPed->ServerName = QStringLiteral("OPD31000.rdmDescEmiPed");
    netDescEmiPed->ThrowException = false;
    netDescEmiPed->OnBeforeConnect = [this](QObject *sender) { netDescEmiPedBeforeConnect(sender); };
    // A call opens a connection that failed at opening once the server is back.
    connect(netDescEmiPed, &TNetConnection::connectedChanged, this, [this](bool connected) {
        if (connected)
            mostraServidorInacessivel(QString());
    });

    m_focusTracker = new FocusExitTracker(this);
    setFocusProxy(medCdFilial);   // the control that has the focus when the screen opens

    wireFilter();
    wireEditing();
    wirePickers();
}

TfrmDescEmiPed::~TfrmDescEmiPed()
{
    // Closing the connection here too: a screen destroyed without its close
    // step (package unloaded, failed creation) must not leave it open.
    if (netDescEmiPed->Connected())
        netDescEmiPed->setConnected(false);
}

void TfrmDescEmiPed::FormCreate(QObject *sender)
{
    TfrmPadraoGrid::FormCreate(sender);
    repaint();
    netDescEmiPed->setConnected(true);
    mostraServidorInacessivel(netDescEmiPed->Connected() ? QString() : netDescEmiPed->lastError());
    Cli_opd31000::PrimeiraAtivacao = true;
    for (TDateEditPlus *dep : {depDeEmissao, depAteEmissao, depDeEntrega, depAteEntrega})
        dep->Clear();
    Cli_opd31000::Filtro.setDefaults();
    m_pageChangeByScreen = true;
    pgcPadrao->SetActivePage(tshPEDIDO);
    m_pageChangeByScreen = false;
    const QString picture = Orvand::DBPict(TPictType::ProductCode);
    cdsItens->fieldByName("CDARVPROD")->setEditMask(picture);
    qryNMProduto->Query()->fieldByName("CDARVPROD")->setEditMask(picture);
}

void TfrmDescEmiPed::netDescEmiPedBeforeConnect(QObject *)
{
    netDescEmiPed->setHost(Orvand::WebURL());
    netDescEmiPed->setPort(Orvand::WebPort());
    netDescEmiPed->setToken(Orvand::environment().token);
}

void TfrmDescEmiPed::FormActivate(QObject *)
{
    if (Cli_opd31000::PrimeiraAtivacao) {
        medCdFilial->setText(Orvand::FiliProc());
        // After the code: changing the code empties the name.
        edtNmFilial->setText(Orvand::NomeFiliProc());
        const double today = opd::toDayCount(opd::today());
        depDeEmissao->SetDate(today - 2);
        depAteEmissao->SetDate(today);
    }
    Cli_opd31000::PrimeiraAtivacao = false;
}

void TfrmDescEmiPed::FormClose(QObject *sender, CloseAction &action)
{
    TfrmPadraoGrid::FormClose(sender, action);
    Cli_opd31000::FormCriado = false;
    netDescEmiPed->setConnected(false);
}

void TfrmDescEmiPed::mostraServidorInacessivel(const QString &reason)
{
    if (reason.isEmpty()) {
        lblServidor->hide();
        lblServidor->clear();
        return;
    }
    // A notice on the screen rather than a message box: the screen still
    // opens, and every later remote call reports its own failure.
    lblServidor->setText(QStringLiteral("Servidor de aplicação inacessível (%1:%2).")
                             .arg(netDescEmiPed->host())
                             .arg(netDescEmiPed->port()));
    lblServidor->setToolTip(reason);
    lblServidor->show();
}

QVariant TfrmDescEmiPed::chamaServidor(const QString &method, const QList<opd::RemoteArg> &args)
{
    if (remoteCallObserver)
        remoteCallObserver(method, args);
    return netDescEmiPed->AppServer().call(method, args);
}

QVariant TfrmDescEmiPed::chamaServidor(const QString &method, const QList<opd::RemoteArg> &args,
                                       const QVariant &expect)
{
    if (remoteCallObserver)
        remoteCallObserver(method, args);
    return netDescEmiPed->AppServer().call(method, args, expect);
}
