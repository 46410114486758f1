// Page change and the enabling of the commands. The screen's own rule
// replaces the base's: commands 1 and 3 are never on, 6 and 7 follow the
// editing of an order, and the other page is locked while a row is edited.

#include "screen/TfrmDescEmiPed.h"

#include "platform/ClientDataSet.h"
#include "platform/DataSource.h"

void TfrmDescEmiPed::pgcPadraoChange(QObject *)
{
    // The commands first: on entering the items page command 4 still sees
    // the items view of before, and that is the established behaviour.
    ControleBotoes();
    if (pgcPadrao->activePage() != tshPadrao)
        return;   // the items keep the filter set the last time
    QString numero;
    if (cdsPedido->isActive() && !cdsPedido->isEmpty())
        numero = cdsPedido->fieldByName("NRPEDIDO")->asString();
    // Quotes doubled: an order number holding one must not end the literal.
    numero.replace(QLatin1Char('\''), QStringLiteral("''"));
    // The expression is replaced while the filter stays on: switching it off
    // in between would show every item of the search for a moment, and with
    // a million items that detour costs more than the filter itself.
    cdsItens->setFilter(QStringLiteral("NRPEDIDO = '") + numero + QLatin1Char('\''));
    cdsItens->setFiltered(true);
}

void TfrmDescEmiPed::dtsPedidoStateChange(QObject *)
{
    ControleBotoes();
}

void TfrmDescEmiPed::ControleBotoes()
{
    using State = opd::ClientDataSet::State;
    TTabSheet *page = pgcPadrao->activePage();
    const bool pedidos = page == tshPEDIDO;
    if (!pedidos && page != tshPadrao)
        return;
    const State s = pedidos ? dtsPedido->state() : dtsPadrao->state();
    const bool browsing = s == State::Browse;
    const bool editing = s == State::Edit || s == State::Insert;
    const bool inactive = s == State::Inactive;

    std::array<bool, 7> on{};
    if (pedidos) {
        on = {false, true, false, true, true, editing, editing};
    } else {
        const bool itens = browsing && cdsItens->isActive() && !cdsItens->isEmpty();
        on = {false, false, false, itens, false, false, editing};
    }
    for (int i = 0; i < 7; ++i)
        mnuComando[i]->setEnabled(on[i]);
    for (int i = 0; i < 7; ++i)
        sbtComando[i]->setEnabled(mnuComando[i]->isEnabled());
    ctlConsulta->setEnabled(browsing);
    pgcPadrao->setPageEnabled(pedidos ? tshPadrao : tshPEDIDO, inactive || browsing);
}

void TfrmDescEmiPed::updateCommands()
{
    // Deliberately empty: on this screen ControleBotoes decides, at the
    // moments it is run, and dtsPadrao's state changes move no command.
}
