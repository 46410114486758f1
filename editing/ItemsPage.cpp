// The items page: each item's description for issuing is picked from the
// names of the products that share the item's stock product, never typed,
// and every posted item is written to the application server.

#include "screen/TfrmDescEmiPed.h"

#include "editing/WriteBack.h"
#include "host/Consiste.h"
#include "host/Pickers.h"
#include "host/ShowAvi.h"
#include "host/TADOIBQuery.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/DataSource.h"

namespace {

bool onDescription(const opd::DBGrid *grid)
{
    const opd::Field *field = grid->selectedField();
    return field && field->fieldName() == "DSEMISSAOITPED";
}

} // namespace

void TfrmDescEmiPed::dbgPadraoEditButtonClick(QObject *)
{
    if (!onDescription(dbgPadrao))
        return;
    // This handler never starts the indicator, but it must not be left
    // running by the lookup or the dialog, whatever way they end.
    struct IndicatorOff
    {
        ~IndicatorOff() { DeactiveShowAvi(); }
    } off;
    // With no current item there is nothing to describe (and an edit of an
    // empty data set would try to add a row).
    if (!cdsItens->isActive() || cdsItens->isEmpty())
        return;
    qryNMProduto->Close();
    qryNMProduto->setParam(QStringLiteral("P_CDPRODUTO"), cdsItens->fieldByName("CDPRODUTO")->asString());
    qryNMProduto->Open();
    const QString text = msgPadrao->Msg(QStringLiteral("Prod")) + QLatin1Char('|')
                         + msgPadrao->Msg(QStringLiteral("Prod_Empty"));
    if (!Pesquisar_Plus(dtsNMProduto, text, false, true))
        return;
    // Edit first: picking the name the item already has still makes an edit,
    // and its post writes again.
    dtsPadrao->edit();
    cdsItens->fieldByName("DSEMISSAOITPED")
        ->setAsString(qryNMProduto->Query()->fieldByName("NMPRODUTO")->asString());
}

void TfrmDescEmiPed::dbgPadraoDblClick(QObject *)
{
    if (!onDescription(dbgPadrao))
        return;
    const int col = Consiste::IndiceCol(dbgPadrao, QStringLiteral("DSEMISSAOITPED"));
    if (col < 0 || dbgPadrao->column(col).buttonStyle == opd::DBGrid::ButtonStyle::Ellipsis)
        return;
    // Refreshing the columns resets the grid's model, which loses the
    // selected column: put it back on the description.
    dbgPadrao->column(col).buttonStyle = opd::DBGrid::ButtonStyle::Ellipsis;
    dbgPadrao->refreshColumns();
    dbgPadrao->setSelectedIndex(col);
}

void TfrmDescEmiPed::cdsItensDSEMISSAOITPEDChange(opd::Field &)
{
    dtsPadrao->edit();   // nothing when the row is already being edited
}

void TfrmDescEmiPed::dbgPadraoKeyPress(QObject *sender, QChar &key)
{
    TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
    key = QChar();   // whatever the base made of it, no character reaches a cell
}

void TfrmDescEmiPed::cdsItensAfterPost(opd::ClientDataSet &dataSet)
{
    WriteBack *wb = WriteBack::of(&dataSet);
    if (!wb || wb->restoring())
        return;
    // Named by the item's own branch, not by what medCdFilial shows now.
    const QString descricao = dataSet.fieldByName("DSEMISSAOITPED")->asString();
    const QString filial = dataSet.fieldByName("CDFILIAL")->asString();
    const QString pedido = dataSet.fieldByName("NRPEDIDO")->asString();
    const QString item = dataSet.fieldByName("NRITEMPED")->asString();
    wb->run([&](const QVariant &expect) {
        return chamaServidor(QStringLiteral("SetDescEmi"),
                             {opd::RemoteArg::text(descricao), opd::RemoteArg::text(filial),
                              opd::RemoteArg::text(pedido), opd::RemoteArg::text(item)},
                             expect);
    });
}
