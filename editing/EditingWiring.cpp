// Wiring of the editing subsystem: the orders page, the items page and the
// commands. Data-set and field events run inside the operation that raised
// them, so their exceptions go back to it (a refused post stays refused);
// the grids run their hooks guarded, at the Qt entry point.

#include "screen/TfrmDescEmiPed.h"

#include "editing/WriteBack.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/Exceptions.h"

void TfrmDescEmiPed::wireEditing()
{
    // Writes name their row by the row's own branch, which the orders packet
    // carries; kept out of sight.
    if (!cdsPedido->findField("CDFILIAL")) {
        opd::FieldDef filial;
        filial.name = "CDFILIAL";
        filial.type = opd::FieldType::String;
        filial.size = 4;
        filial.readOnly = true;
        filial.hidden = true;
        cdsPedido->addField(filial);
    }

    // Orders page.
    dbgPEDIDO->onKeyDown = [this](opd::DBGrid &grid, int &key, Qt::KeyboardModifiers shift) {
        dbgPEDIDOKeyDown(&grid, key, shift);
    };
    cdsPedido->fieldByName("DTENTPED")->onSetText = [this](opd::Field &field, const QString &text) {
        cdsPedidoDTENTPEDSetText(field, text);
    };
    cdsPedido->beforeInsert = [this](opd::ClientDataSet &ds) { cdsPedidoBeforeInsert(ds); };
    cdsPedido->beforePost = [this](opd::ClientDataSet &ds) { cdsPedidoBeforePost(ds); };
    cdsPedido->afterPost = [this](opd::ClientDataSet &ds) { cdsPedidoAfterPost(ds); };
    new WriteBack(cdsPedido, "DTENTPED");

    // Items page. Its key presses reach dbgPadraoKeyPress through the base.
    dbgPadrao->onEditButtonClick = [this](opd::DBGrid &grid) { dbgPadraoEditButtonClick(&grid); };
    dbgPadrao->onDblClick = [this](opd::DBGrid &grid) { dbgPadraoDblClick(&grid); };
    cdsItens->fieldByName("DSEMISSAOITPED")->onChange = [this](opd::Field &field) {
        cdsItensDSEMISSAOITPEDChange(field);
    };
    // The key hooks stop characters, but Backspace, Delete or a paste in an
    // open cell editor would still hand a text over: the description takes
    // no typed text at all, only a picked name.
    cdsItens->fieldByName("DSEMISSAOITPED")->onSetText = [](opd::Field &, const QString &) {};
    cdsItens->afterPost = [this](opd::ClientDataSet &ds) { cdsItensAfterPost(ds); };
    new WriteBack(cdsItens, "DSEMISSAOITPED");

    // Rows come only from the search and leave only with the next one: no
    // insertion and no deletion on either page, and no question asked
    // before a deletion that would be refused anyway. An added item could
    // never be written (the server knows no such item), so items refuse
    // insertion like orders do.
    cdsItens->beforeInsert = [](opd::ClientDataSet &) { opd::abortSilently(); };
    cdsPedido->beforeDelete = [](opd::ClientDataSet &) { opd::abortSilently(); };
    cdsItens->beforeDelete = [](opd::ClientDataSet &) { opd::abortSilently(); };
    dbgPEDIDO->confirmDelete = [](opd::DBGrid &) { return false; };
    dbgPadrao->confirmDelete = [](opd::DBGrid &) { return false; };

    wireHistory();
}
