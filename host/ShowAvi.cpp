#include "host/ShowAvi.h"

#include "host/BusyOverlay.h"
#include "host/HostApplication.h"

#include <QPointer>

namespace {

// One per main window, made on first use and kept.
BusyOverlay *overlay(bool make)
{
    static QPointer<BusyOverlay> current;
    QWidget *window = HostApplication::mainForm();
    if ((!current || current->parentWidget() != window) && make && window)
        current = new BusyOverlay(window);
    return current && current->parentWidget() == window ? current.data() : nullptr;
}

} // namespace

void ActiveShowAvi(QWidget *, TShowAvi kind)
{
    // The animation always covers the main window, whatever form asks for
    // it: the screens are MDI children and would be only partly covered.
    if (BusyOverlay *o = overlay(true))
        o->start(int(kind));
}

void DeactiveShowAvi()
{
    // Hidden now, not later: a screenshot or a test right after must not
    // find the overlay still drawn.
    if (BusyOverlay *o = overlay(false))
        o->stop();
}

bool ShowAviRunning()
{
    BusyOverlay *o = overlay(false);
    return o && o->running();
}

int ShowAviKind()
{
    BusyOverlay *o = overlay(false);
    return o && o->running() ? o->kind() : -1;
}
