// NOT BUILT YET: the orders page, the items page and the command handlers.
// These empty definitions only let the screen link; the engineer who builds
// these handlers deletes this file. The four commands taken over from the
// base pass to the base's own handlers meanwhile. pgcPadraoExit is already
// bound by the focus tracker in wireFilter(); wireEditing() binds the rest.

#include "screen/TfrmDescEmiPed.h"

void TfrmDescEmiPed::wireEditing() {}

void TfrmDescEmiPed::dbgPEDIDOKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TfrmDescEmiPed::cdsPedidoDTENTPEDSetText(opd::Field &, const QString &) {}
void TfrmDescEmiPed::cdsPedidoBeforeInsert(opd::ClientDataSet &) {}
void TfrmDescEmiPed::cdsPedidoBeforePost(opd::ClientDataSet &) {}
void TfrmDescEmiPed::cdsPedidoAfterPost(opd::ClientDataSet &) {}

void TfrmDescEmiPed::dbgPadraoEditButtonClick(QObject *) {}
void TfrmDescEmiPed::dbgPadraoDblClick(QObject *) {}
void TfrmDescEmiPed::cdsItensDSEMISSAOITPEDChange(opd::Field &) {}
void TfrmDescEmiPed::dbgPadraoKeyPress(QObject *sender, QChar &key) { TfrmPadraoGrid::dbgPadraoKeyPress(sender, key); }
void TfrmDescEmiPed::cdsItensAfterPost(opd::ClientDataSet &) {}

void TfrmDescEmiPed::sbtProcurarClick(QObject *sender) { TfrmPadraoGrid::sbtProcurarClick(sender); }
void TfrmDescEmiPed::sbtConfirmarClick(QObject *sender) { TfrmPadraoGrid::sbtConfirmarClick(sender); }
void TfrmDescEmiPed::sbtCancelarClick(QObject *sender) { TfrmPadraoGrid::sbtCancelarClick(sender); }
void TfrmDescEmiPed::sbtVerificarClick(QObject *sender) { TfrmPadraoGrid::sbtVerificarClick(sender); }
void TfrmDescEmiPed::pgcPadraoExit(QObject *) {}
