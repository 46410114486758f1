// Selection modes of the filter's four multi-valued criteria, the order-number
// range edits, entering the panel and the reset.
//
// The handlers rely on how the controls report changes (see wirePickers):
// a radio button's click handler runs only when it becomes checked, by the
// clerk or by the program, and a range edit's change handler only when its
// text really changes. Several handlers below set controls whose own
// handlers then run inside them; the order of the steps is what keeps those
// nested runs finite.

#include "screen/TfrmDescEmiPed.h"

#include "host/Consiste.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "screen/Cli_opd31000.h"


namespace {

// F9 on a "Lista" radio button opens that criterion's picker; other keys and
// the modifier keys are of no interest here.
bool ehF9(int key)
{
    return key == Qt::Key_F9;
}

} // namespace

// ---- Two-mode criteria -----------------------------------------------------
// A list chosen earlier stays stored while its criterion is in "Todos" and is
// offered again when "Lista" comes back; neither click touches it.

void TfrmDescEmiPed::rbtTodosFiliClick(QObject *)
{
    sbtFiliDest->setEnabled(!rbtTodosFili->isChecked());
}

void TfrmDescEmiPed::rbtListaFiliClick(QObject *)
{
    sbtFiliDest->setEnabled(rbtListaFili->isChecked());
}

void TfrmDescEmiPed::rbtListaFiliKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    if (ehF9(key))
        sbtFiliDestClick(sbtFiliDest);
}

void TfrmDescEmiPed::rbtTClienteClick(QObject *)
{
    sbtCliente->setEnabled(!rbtTCliente->isChecked());
}

void TfrmDescEmiPed::rbtLClienteClick(QObject *)
{
    sbtCliente->setEnabled(rbtLCliente->isChecked());
}

void TfrmDescEmiPed::rbtLClienteKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    if (ehF9(key))
        sbtClienteClick(sbtCliente);
}

void TfrmDescEmiPed::rbtTVendedorClick(QObject *)
{
    sbtVendedor->setEnabled(!rbtTVendedor->isChecked());
}

void TfrmDescEmiPed::rbtLVendedorClick(QObject *)
{
    sbtVendedor->setEnabled(rbtLVendedor->isChecked());
}

void TfrmDescEmiPed::rbtLVendedorKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    if (ehF9(key))
        sbtVendedorClick(sbtVendedor);
}

// ---- Order number: all, a range or a list --------------------------------

void TfrmDescEmiPed::rbtTNrPedidoClick(QObject *)
{
    sbtNrPedido->setEnabled(false);
    medDeIntervalo->setEnabled(false);
    medAteIntervalo->setEnabled(false);
    // Clearing an edit that held text selects "Intervalo" through its change
    // handler; checking "Todos" again below brings this handler back once,
    // and that run finds both edits empty and changes nothing more.
    medDeIntervalo->clear();
    medAteIntervalo->clear();
    lblDeNrPedido->setEnabled(false);
    lblAteNrPedido->setEnabled(false);
    rbtTNrPedido->setChecked(true);
}

void TfrmDescEmiPed::rbtIntervaloClick(QObject *)
{
    const bool intervalo = rbtIntervalo->isChecked();
    sbtNrPedido->setEnabled(!intervalo);
    medDeIntervalo->setEnabled(intervalo);
    medAteIntervalo->setEnabled(intervalo);
    lblDeNrPedido->setEnabled(intervalo);
    lblAteNrPedido->setEnabled(intervalo);
    medDeIntervalo->setFocus(Qt::OtherFocusReason);
}

void TfrmDescEmiPed::rbtLNrPedidoClick(QObject *)
{
    const bool lista = rbtLNrPedido->isChecked();
    sbtNrPedido->setEnabled(lista);
    medDeIntervalo->setEnabled(!lista);
    medAteIntervalo->setEnabled(!lista);
    lblDeNrPedido->setEnabled(!lista);
    lblAteNrPedido->setEnabled(!lista);
    medDeIntervalo->clear();
    medAteIntervalo->clear();
    rbtLNrPedido->setChecked(true);   // clearing may have selected "Intervalo"
    // Unlike the other criteria, the order-number list always starts empty:
    // numbers picked for one branch mean nothing for another.
    Cli_opd31000::ListaNrPedido().clear();
}

void TfrmDescEmiPed::rbtLNrPedidoKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    if (ehF9(key))
        sbtNrPedidoClick(sbtNrPedido);
}

void TfrmDescEmiPed::medDeIntervaloChange(QObject *)
{
    rbtIntervalo->setChecked(true);
}

void TfrmDescEmiPed::medAteIntervaloChange(QObject *)
{
    rbtIntervalo->setChecked(true);
}

void TfrmDescEmiPed::medDeIntervaloExit(QObject *)
{
    // Both ends stand at the width of 10 so that the search can compare them
    // as texts; a single number selects exactly that order.
    medDeIntervalo->setText(Consiste::Ajusta(medDeIntervalo->text(), 10));
    if (!Consiste::EmptyString(medDeIntervalo->text()) && Consiste::EmptyString(medAteIntervalo->text()))
        medAteIntervalo->setText(medDeIntervalo->text());
}

void TfrmDescEmiPed::medAteIntervaloExit(QObject *)
{
    medAteIntervalo->setText(Consiste::Ajusta(medAteIntervalo->text(), 10));
}

// ---- Panel and reset ---------------------------------------------------------

void TfrmDescEmiPed::panFiltroEnter(QObject *)
{
    // While the filter is being changed the pages show nothing: what they
    // held no longer matches the filter. A pending edit is dropped with them.
    cdsPedido->close();
    cdsItens->close();
}

void TfrmDescEmiPed::sbtLimpaClick(QObject *)
{
    using namespace Cli_opd31000;

    // The salesperson criterion, the issuing branch and the status boxes are
    // deliberately left as they are.
    ListaNrPedido().clear();
    ListaCliente().clear();
    ListaFiliDest().clear();
    for (TDateEditPlus *dep : {depDeEmissao, depAteEmissao, depDeEntrega, depAteEntrega})
        dep->Clear();
    rbtTodosFili->setChecked(true);
    rbtTCliente->setChecked(true);
    medDeIntervalo->clear();
    medAteIntervalo->clear();
    // Unchecking a radio button of an exclusive group is a no-op in Qt; the
    // check of "Todos" that follows unchecks the other two all the same.
    rbtIntervalo->setChecked(false);
    rbtLNrPedido->setChecked(false);
    rbtTNrPedido->setChecked(true);
    medDeIntervalo->setEnabled(false);
    medAteIntervalo->setEnabled(false);
    lblDeNrPedido->setEnabled(false);
    lblAteNrPedido->setEnabled(false);
    sbtNrPedido->setEnabled(false);
    Filtro.setDefaults();
    if (cdsPedido->isActive())
        cdsPedido->close();
    if (cdsItens->isActive())
        cdsItens->close();
}
