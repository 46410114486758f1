// The four commands the base screen binds by name, each acting on the page
// that is showing, and the page control's exit, which does nothing here.

#include "screen/TfrmDescEmiPed.h"

#include "host/Pickers.h"
#include "platform/ClientDataSet.h"
#include "platform/DataSource.h"

namespace {

bool editing(const opd::ClientDataSet *ds)
{
    return ds && (ds->state() == opd::ClientDataSet::State::Edit
                  || ds->state() == opd::ClientDataSet::State::Insert);
}

} // namespace

void TfrmDescEmiPed::sbtProcurarClick(QObject *)
{
    const TTabSheet *page = pgcPadrao->activePage();
    if (page == tshPEDIDO) {
        if (cdsPedido->isActive())
            Procura(cdsPedido);
    } else if (page == tshPadrao) {
        opd::ClientDataSet *ds = dtsPadrao->dataSet();
        if (ds && ds->isActive())
            Procura(ds);
    }
}

void TfrmDescEmiPed::sbtConfirmarClick(QObject *)
{
    const TTabSheet *page = pgcPadrao->activePage();
    opd::ClientDataSet *ds = page == tshPEDIDO ? cdsPedido : page == tshPadrao ? cdsItens : nullptr;
    if (!ds)
        return;
    // A row that is not being edited has nothing to post; posting it anyway
    // would only raise the data set's own complaint.
    if (editing(ds))
        ds->post();   // a refused or failed post ends the command here
    ControleBotoes();
}

void TfrmDescEmiPed::sbtCancelarClick(QObject *sender)
{
    const TTabSheet *page = pgcPadrao->activePage();
    if (page == tshPEDIDO) {
        // Drops the typed date; no remote call.
        if (cdsPedido->isActive())
            cdsPedido->cancel();
    } else if (page == tshPadrao) {
        TfrmPadraoGrid::sbtCancelarClick(sender);
    } else {
        return;
    }
    ControleBotoes();
}

void TfrmDescEmiPed::sbtVerificarClick(QObject *sender)
{
    const TTabSheet *page = pgcPadrao->activePage();
    if (page == tshPEDIDO)
        panFiltroExit(panFiltro);   // recomputes the commands at its end
    else if (page == tshPadrao)
        TfrmPadraoGrid::sbtVerificarClick(sender);
}

void TfrmDescEmiPed::pgcPadraoExit(QObject *)
{
}
