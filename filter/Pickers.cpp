// The four list pickers of the filter panel. Three list rows of the host
// database through the lookup queries; the order-number picker asks the
// application server (GetNrPedido). Each leaves the keys the clerk chose in
// its list text of the unit, in the picker's own format.

#include "screen/TfrmDescEmiPed.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/Pickers.h"
#include "host/ShowAvi.h"
#include "host/TADOIBQuery.h"
#include "platform/ClientDataSet.h"
#include "platform/DataPacket.h"
#include "screen/Cli_opd31000.h"

namespace {

// Shows a message, sends the focus to the control to correct and abandons.
[[noreturn]] void recusaComFoco(const QString &text, QWidget *focus)
{
    try {
        Consiste::MensErro(text, true);
    } catch (...) {
        focus->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

// A lookup query that cannot be read (no database, a broken statement) is
// shown like any other refusal rather than as an unexpected error: the clerk
// sees why no list opens.
void abreConsulta(TADOIBQuery *query)
{
    try {
        query->Open();
    } catch (const opd::DataSetError &e) {
        Consiste::MensErro(e.message(), true);
    }
}

// The activation handler stays detached for as long as the order-number
// picker runs: the busy indicator and the picker dialog take the activation
// away and give it back, and the first-activation proposal must not run
// again in the middle of a pick.
class AtivacaoSuspensa
{
public:
    explicit AtivacaoSuspensa(TfrmDescEmiPed *screen) : m_screen(screen) { screen->onActivate = nullptr; }
    ~AtivacaoSuspensa()
    {
        TfrmDescEmiPed *screen = m_screen;
        screen->onActivate = [screen](QObject *sender) { screen->FormActivate(sender); };
    }
    AtivacaoSuspensa(const AtivacaoSuspensa &) = delete;
    AtivacaoSuspensa &operator=(const AtivacaoSuspensa &) = delete;

private:
    TfrmDescEmiPed *m_screen;
};

// The fetch indicator is switched off on every way out of the fetch, also
// when the call or its check fails; left running it would cover the screen.
class IndicadorBusca
{
public:
    IndicadorBusca() { ActiveShowAvi(HostApplication::mainForm(), TShowAvi::Fetch); }
    ~IndicadorBusca() { DeactiveShowAvi(); }
    IndicadorBusca(const IndicadorBusca &) = delete;
    IndicadorBusca &operator=(const IndicadorBusca &) = delete;
};

// Steps shared by the three lookup pickers: open the query, refuse an empty
// list with its message and focus, otherwise let the clerk pick.
void pesquisaConsulta(TfrmDescEmiPed *screen, TADOIBQuery *query, opd::DataSource *source,
                             const char *keyField, const char *titleKey, const char *emptyKey,
                             QWidget *focusOnEmpty, QString &list)
{
    abreConsulta(query);
    if (query->IsEmpty())
        recusaComFoco(screen->msgPadrao->Msg(QString::fromLatin1(emptyKey)), focusOnEmpty);
    const QString title = screen->msgPadrao->Msg(QString::fromLatin1(titleKey));
    PesquisaLista(source, QString::fromLatin1(keyField), title, false, list);
}

} // namespace

void TfrmDescEmiPed::sbtClienteClick(QObject *)
{
    pesquisaConsulta(this, qryCliente, dtsCliente, "CDCLIENTE", "CLIENTE", "CLIE", rbtLCliente,
                     Cli_opd31000::ListaCliente());
}

void TfrmDescEmiPed::sbtFiliDestClick(QObject *)
{
    // Unlike the others, an empty destination-branch list sends the clerk
    // back to "Todos": there is nothing a list could hold.
    pesquisaConsulta(this, qryFiliDest, dtsFilialDest, "CDFILIAL", "FiliDestino", "Dest", rbtTodosFili,
                     Cli_opd31000::ListaFiliDest());
}

void TfrmDescEmiPed::sbtVendedorClick(QObject *)
{
    pesquisaConsulta(this, qryVendedor, dtsVendedor, "CDVENDEDOR", "VENDEDOR", "VEND", rbtLVendedor,
                     Cli_opd31000::ListaVendedor());
}

void TfrmDescEmiPed::sbtNrPedidoClick(QObject *)
{
    AtivacaoSuspensa ativacao(this);
    {
        IndicadorBusca indicador;
        const QVariant payload = Consiste::CheckResultServ(
            chamaServidor(QStringLiteral("GetNrPedido"), {opd::RemoteArg::text(medCdFilial->text())}),
            true, 0);
        // The list is fetched anew at every click; an answer that is not a
        // data packet leaves the previous rows in place.
        if (payload.userType() != qMetaTypeId<opd::DataPacket>())
            throw opd::DataSetError(QStringLiteral("A resposta de GetNrPedido não traz a lista de pedidos."));
        cdsNrPedido->setData(payload.value<opd::DataPacket>());
        if (cdsNrPedido->isEmpty()) {
            rbtLNrPedido->setFocus(Qt::OtherFocusReason);
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("PEDNCAD")), true);
        }
    }
    PesquisaLista(dtsNrPedido, QStringLiteral("NRPEDIDO"), msgPadrao->Msg(QStringLiteral("PEDIDO")), false,
                  Cli_opd31000::ListaNrPedido());
}
