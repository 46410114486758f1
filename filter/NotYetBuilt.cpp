// NOT BUILT YET: the list pickers, the issuing-branch lookup, the selection
// modes and the reset. These empty definitions only let the screen link;
// the engineer who builds these handlers deletes this file.
//
// Enter/exit handlers (medCdFilialExit, medDeIntervaloExit, medAteIntervaloExit,
// panFiltroEnter) are already bound by the focus tracker in wireFilter();
// wirePickers() binds the clicks, changes and keys.

#include "screen/TfrmDescEmiPed.h"

void TfrmDescEmiPed::wirePickers() {}

void TfrmDescEmiPed::sbtClienteClick(QObject *) {}
void TfrmDescEmiPed::sbtFiliDestClick(QObject *) {}
void TfrmDescEmiPed::sbtVendedorClick(QObject *) {}
void TfrmDescEmiPed::sbtNrPedidoClick(QObject *) {}
void TfrmDescEmiPed::medCdFilialChange(QObject *) {}
void TfrmDescEmiPed::medCdFilialExit(QObject *) {}
void TfrmDescEmiPed::btnFilialBeforePesq(QObject *, bool &) {}
void TfrmDescEmiPed::btnFilialAfterPesq(QObject *) {}
void TfrmDescEmiPed::Vd_Filial() {}

void TfrmDescEmiPed::rbtTodosFiliClick(QObject *) {}
void TfrmDescEmiPed::rbtListaFiliClick(QObject *) {}
void TfrmDescEmiPed::rbtListaFiliKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TfrmDescEmiPed::rbtTClienteClick(QObject *) {}
void TfrmDescEmiPed::rbtLClienteClick(QObject *) {}
void TfrmDescEmiPed::rbtLClienteKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TfrmDescEmiPed::rbtTVendedorClick(QObject *) {}
void TfrmDescEmiPed::rbtLVendedorClick(QObject *) {}
void TfrmDescEmiPed::rbtLVendedorKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TfrmDescEmiPed::rbtTNrPedidoClick(QObject *) {}
void TfrmDescEmiPed::rbtIntervaloClick(QObject *) {}
void TfrmDescEmiPed::rbtLNrPedidoClick(QObject *) {}
void TfrmDescEmiPed::rbtLNrPedidoKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TfrmDescEmiPed::medDeIntervaloChange(QObject *) {}
void TfrmDescEmiPed::medAteIntervaloChange(QObject *) {}
void TfrmDescEmiPed::medDeIntervaloExit(QObject *) {}
void TfrmDescEmiPed::medAteIntervaloExit(QObject *) {}
void TfrmDescEmiPed::panFiltroEnter(QObject *) {}
void TfrmDescEmiPed::sbtLimpaClick(QObject *) {}
