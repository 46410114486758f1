// The orders page: the only value the clerk changes here is an order's
// delivery date. The grid lets keys through only in that column, the data
// set refuses new and deleted rows and dates before today or before the
// order's own date, and each accepted date is written to the application
// server as the row is posted.

#include "screen/TfrmDescEmiPed.h"

#include "editing/WriteBack.h"
#include "host/Consiste.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/Dates.h"
#include "platform/Exceptions.h"

namespace {

// Tab, Shift+Tab (Qt reports it as Backtab) and the four arrows move
// between cells; every other key would change or act on a row.
bool movesOnly(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

} // namespace

void TfrmDescEmiPed::dbgPEDIDOKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    // Modifiers are not looked at: Shift+Tab and Ctrl+arrow pass, Ctrl+Delete
    // is swallowed like Delete.
    const opd::Field *field = dbgPEDIDO->selectedField();
    if (field && field->fieldName() == "DTENTPED")
        return;
    if (!movesOnly(key))
        key = 0;
}

void TfrmDescEmiPed::cdsPedidoDTENTPEDSetText(opd::Field &, const QString &)
{
    // The text handed over is ignored on purpose: what counts is what the
    // grid shows in the cell, the editor's text while it is open.
    //
    // CheckDateTime decides the rest: a blank text ("  /  /    " from the
    // mask) empties the field, which the first date rule then refuses at the
    // post (an empty date reads as day 0); a text that is no valid date is
    // refused with its message ("'<text>' não é uma data válida.") and the
    // field keeps its value.
    const QString shown = Consiste::GridText(dbgPEDIDO, QStringLiteral("DTENTPED"), false);
    Consiste::CheckDateTime(cdsPedido->fieldByName("DTENTPED"), shown);
}

void TfrmDescEmiPed::cdsPedidoBeforeInsert(opd::ClientDataSet &)
{
    // Orders come only from the search: neither Insert nor Down on the last
    // row makes one, and nobody is told.
    opd::abortSilently();
}

void TfrmDescEmiPed::cdsPedidoBeforePost(opd::ClientDataSet &dataSet)
{
    if (WriteBack *wb = WriteBack::of(&dataSet); wb && wb->restoring())
        return;   // putting back the stored value, not a user's date
    opd::Field *entrega = dataSet.fieldByName("DTENTPED");
    // Whole days: the time of day plays no part. An empty date is day 0.
    const int d = opd::wholeDays(entrega->asDateTime());
    const int t = opd::wholeDays(opd::toDayCount(opd::today()));
    const int p = opd::wholeDays(dataSet.fieldByName("DTPEDIDO")->asDateTime());
    try {
        // Today's rule first: a date before both shows only its message.
        if (d < t)
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DtEnt_DtAtual")), true);
        if (d < p)
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DtEntr_DtPed")), true);
    } catch (...) {
        entrega->focusControl();
        throw;
    }
}

void TfrmDescEmiPed::cdsPedidoAfterPost(opd::ClientDataSet &dataSet)
{
    WriteBack *wb = WriteBack::of(&dataSet);
    if (!wb || wb->restoring())
        return;
    // The row is named by its own branch, carried in the answer of the
    // search: medCdFilial may have been changed or emptied since, and would
    // then name another order or none.
    const double entrega = dataSet.fieldByName("DTENTPED")->asDateTime();
    const QString filial = dataSet.fieldByName("CDFILIAL")->asString();
    const QString pedido = dataSet.fieldByName("NRPEDIDO")->asString();
    wb->run([&](const QVariant &expect) {
        return chamaServidor(QStringLiteral("SetDtEntregaPed"),
                             {opd::RemoteArg::date(entrega), opd::RemoteArg::text(filial),
                              opd::RemoteArg::text(pedido)},
                             expect);
    });
}
