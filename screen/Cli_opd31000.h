#pragma once
// The screen's unit: the single screen instance, its lifecycle flags, the
// filter storage that outlives a screen, and the package's entry routine.
//
// Everything here is touched on the user-interface thread only.

#include "filter/TFiltro.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class TfrmDescEmiPed;

namespace Cli_opd31000 {

// The single screen instance; null when none exists (a closed screen is
// destroyed by the base screen's close step and the pointer clears itself).
extern QPointer<TfrmDescEmiPed> frmDescEmiPed;
// True while a screen exists and has not been closed.
extern bool FormCriado;
// True from the creation of a screen until its first activation has run.
extern bool PrimeiraAtivacao;
// The filter of the last search (defaults at creation and reset).
extern TFiltro Filtro;

// The four list texts: what the list pickers left, in the picker's format.
// They belong to the unit, so they survive closing the screen.
QString &ListaNrPedido();
QString &ListaCliente();
QString &ListaFiliDest();
QString &ListaVendedor();

// Boolean criteria travel as texts: "" for false, "T" for true.
const QString &FlagText(bool value);

// Opens the screen: creates it when none exists (FormCriado false), shows
// it at its normal size and brings it to the front. Throws when creating
// the screen fails; FormCriado then stays false and nothing is left behind.
void CriaDescEmi();

// Counted unit initialization and finalization: only the first
// initialization and the matching last finalization act. The last
// finalization also destroys a screen that is still open, since its code
// is about to be unloaded with the package.
void Initialization();
void Finalization();
int initializationCount();

// For tests: runs after the screen's creation step inside CriaDescEmi; a
// hook that throws makes the creation fail.
void setCreationHookForTesting(std::function<void(TfrmDescEmiPed &)> hook);

} // namespace Cli_opd31000
