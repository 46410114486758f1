// Entry routines of the package, with plain names for QLibrary::resolve.
//
// Exceptions do not cross these C entry points: a failure to open the
// screen is reported through the host's error reporter, and the unit's
// state (FormCriado false) lets the next call try again.

#include "platform/Exceptions.h"
#include "screen/Cli_opd31000.h"

#include <QtGlobal>

extern "C" {

// Runs the initialization of the package's units; the screen's unit is the
// only one and comes last.
Q_DECL_EXPORT void Initialize()
{
    Cli_opd31000::Initialization();
}

Q_DECL_EXPORT void Finalize()
{
    Cli_opd31000::Finalization();
}

Q_DECL_EXPORT void CriaDescEmi()
{
    opd::guarded([] { Cli_opd31000::CriaDescEmi(); });
}

// The host's call to open the screen.
Q_DECL_EXPORT void IniProc()
{
    CriaDescEmi();
}

} // extern "C"
