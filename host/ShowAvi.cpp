#include "host/ShowAvi.h"

#include "host/BusyOverlay.h"
#include "host/HostApplication.h"

#include <QPointer>

namespace {

QPointer<BusyOverlay> &overlay()
{
    static QPointer<BusyOverlay> current;
    return current;
}

} // namespace

void ActiveShowAvi(QWidget *, TShowAvi kind)
{
    // The animation always covers the main window, whatever form asks for
    // it: the screens are MDI children and would be only partly covered.
    DeactiveShowAvi();
    QWidget *window = HostApplication::mainForm();
    overlay() = new BusyOverlay(window, int(kind));
    HostApplication::setBusyCursor(true);
}

void DeactiveShowAvi()
{
    if (!overlay())
        return;
    // Deleted now, not later: a screenshot or a test right after must not
    // find the overlay still drawn.
    delete overlay().data();
    overlay() = nullptr;
    HostApplication::setBusyCursor(false);
}

bool ShowAviRunning()
{
    return !overlay().isNull();
}

int ShowAviKind()
{
    return overlay() ? overlay()->kind() : -1;
}
