// The order search: validates the filter, stores it in Filtro, asks the
// application server for the matching orders and their items (GetPedido)
// and loads both data sets. Runs when the focus leaves the filter panel and
// from the verify command on the orders page.

#include "screen/TfrmDescEmiPed.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/ShowAvi.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "platform/DataPacket.h"
#include "screen/Cli_opd31000.h"

#include <algorithm>

namespace {

bool semTexto(const TDateEditPlus *dep)
{
    return dep->isEmptyText() || Consiste::EmptyString(dep->text());
}

// The busy indicator goes off on every way out of the call, a failed call or
// check included: left running it would cover the screen after the error.
struct BusyFetch
{
    BusyFetch() { ActiveShowAvi(HostApplication::mainForm(), TShowAvi::Fetch); }
    ~BusyFetch() { DeactiveShowAvi(); }
};

// Shows the message of a list or status rule, moves the focus, abandons.
void recusa(TfrmDescEmiPed *screen, const char *key, QWidget *focus)
{
    try {
        Consiste::MensErro(screen->msgPadrao->Msg(QString::fromLatin1(key)), true);
    } catch (...) {
        focus->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

opd::DataPacket packetAt(const QVariantList &parts, int index, const char *what)
{
    if (index >= parts.size() || parts.at(index).userType() != qMetaTypeId<opd::DataPacket>())
        throw opd::DataSetError(QStringLiteral("A resposta de GetPedido não traz %1.")
                                    .arg(QString::fromUtf8(what)));
    return parts.at(index).value<opd::DataPacket>();
}

} // namespace

void TfrmDescEmiPed::panFiltroExit(QObject *)
{
    using namespace Cli_opd31000;
    using opd::RemoteArg;

    // 1-2. Date ranges: applied only when both ends are given. The validity
    // of each end is checked again here because the verify command runs the
    // search without the date edit ever being left.
    if (semTexto(depDeEmissao) || semTexto(depAteEmissao)) {
        Filtro.TodasEmissao = true;
        Filtro.DeEmissao = 0;
        Filtro.AteEmissao = 0;
    } else {
        Vd_DeEmissaoInv();
        Vd_AteEmissaoInv();
        Vd_Emissao();
        Filtro.TodasEmissao = false;
        Filtro.DeEmissao = depDeEmissao->GetDate();
        Filtro.AteEmissao = depAteEmissao->GetDate();
    }
    if (semTexto(depDeEntrega) || semTexto(depAteEntrega)) {
        Filtro.TodasEntrega = true;
        Filtro.DeEntrega = 0;
        Filtro.AteEntrega = 0;
    } else {
        Vd_DeEntregaInv();
        Vd_AteEntregaInv();
        Vd_Entrega();
        Filtro.TodasEntrega = false;
        Filtro.DeEntrega = depDeEntrega->GetDate();
        Filtro.AteEntrega = depAteEntrega->GetDate();
    }

    // 3. Order-number range.
    if (rbtIntervalo->isChecked()) {
        Vd_DeIntervalo();
        Vd_AteIntervalo();
        Vd_Intervalo();
    }

    // 4. Lists and status.
    if (rbtListaFili->isChecked() && Consiste::EmptyString(ListaFiliDest()))
        recusa(this, "LFiliDest", rbtListaFili);
    if (rbtLCliente->isChecked() && Consiste::EmptyString(ListaCliente()))
        recusa(this, "LCliente", rbtLCliente);
    if (rbtLVendedor->isChecked() && Consiste::EmptyString(ListaVendedor()))
        recusa(this, "LVendedor", rbtLVendedor);
    if (rbtLNrPedido->isChecked() && Consiste::EmptyString(ListaNrPedido()))
        recusa(this, "LNrPedido", rbtLNrPedido);
    const QList<QCheckBox *> situacoes = {chbPPendente, chbPAndamento, chbPLiquidado,
                                          chbPCancelado, chbPParcialmente};
    if (std::none_of(situacoes.begin(), situacoes.end(), [](QCheckBox *c) { return c->isChecked(); }))
        recusa(this, "STATUSPED", chbPPendente);

    // 5. The criteria, lists and range texts whatever the mode.
    Filtro.FiliDest.Todos = rbtTodosFili->isChecked();
    Filtro.FiliDest.Lista = ListaFiliDest();
    Filtro.Cliente.Todos = rbtTCliente->isChecked();
    Filtro.Cliente.Lista = ListaCliente();
    Filtro.NrPedido.Todos = rbtTNrPedido->isChecked() || rbtIntervalo->isChecked();
    Filtro.NrPedido.Lista = ListaNrPedido();
    Filtro.NrPedido.Intervalo = rbtIntervalo->isChecked();
    Filtro.NrPedido.De = medDeIntervalo->text();
    Filtro.NrPedido.Ate = medAteIntervalo->text();

    // 6. Salesperson flag and status codes ("Liquidado" stands for 3 and 5).
    const QString todosVendedores = FlagText(rbtTVendedor->isChecked());
    QString status;
    const char *codes[] = {"1", "2", "35", "4", "6"};
    bool todas = true;
    for (int i = 0; i < situacoes.size(); ++i) {
        if (situacoes[i]->isChecked())
            status += QLatin1String(codes[i]);
        else
            todas = false;
    }
    const QString todasSituacoes = FlagText(todas);

    // 7-10. The call; both packets are checked before either data set is
    // touched, so a short answer leaves the pages as they were.
    {
        BusyFetch busy;
        const QList<RemoteArg> args = {
            RemoteArg::textRef(FlagText(!Filtro.NrPedido.Intervalo)),
            RemoteArg::textRef(Filtro.NrPedido.De),
            RemoteArg::textRef(Filtro.NrPedido.Ate),
            RemoteArg::textRef(FlagText(Filtro.NrPedido.Todos)),
            RemoteArg::textRef(Filtro.NrPedido.Lista),
            RemoteArg::textRef(FlagText(Filtro.Cliente.Todos)),
            RemoteArg::textRef(Filtro.Cliente.Lista),
            RemoteArg::textRef(FlagText(Filtro.DeEmissao == 0)),
            RemoteArg::numberRef(Filtro.DeEmissao),
            RemoteArg::numberRef(Filtro.AteEmissao),
            RemoteArg::textRef(FlagText(Filtro.DeEntrega == 0)),
            RemoteArg::numberRef(Filtro.DeEntrega),
            RemoteArg::numberRef(Filtro.AteEntrega),
            RemoteArg::textRef(FlagText(Filtro.FiliDest.Todos)),
            RemoteArg::text(medCdFilial->text()),
            RemoteArg::textRef(Filtro.FiliDest.Lista),
            RemoteArg::textRef(ListaVendedor()),
            RemoteArg::textRef(todosVendedores),
            RemoteArg::textRef(status),
            RemoteArg::textRef(todasSituacoes),
        };
        const QVariant payload = Consiste::CheckResultServ(
            chamaServidor(QStringLiteral("GetPedido"), args), true, 0);
        const QVariantList parts = payload.toList();
        const opd::DataPacket pedidos = packetAt(parts, 0, "os pedidos");
        const opd::DataPacket itens = packetAt(parts, 1, "os itens");
        cdsPedido->setData(pedidos);
        cdsItens->setData(itens);
    }

    // 11. Commands and, on the items page, the current order's items.
    pgcPadraoChange(pgcPadrao);
}
