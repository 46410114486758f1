#pragma once
// The host's application object: main window with its MDI area, form creation
// and the application-wide mouse cursor.

#include <QMainWindow>
#include <QMdiSubWindow>

class QMdiArea;
class QMdiSubWindow;

namespace HostApplication {

// Start-up of the host's application object, right after it is constructed
// (the host's main() and every test that stands in for the host): Qt's own
// texts - message box buttons, the file dialog, the edits' context menus - in
// Brazilian Portuguese, and pt_BR as the default locale. Loads
// qtbase_pt_BR.qm from Qt's translations folder (QLibraryInfo::
// TranslationsPath; Debian's qt6-translations-l10n) once and installs it.
// Needs only a QCoreApplication. Returns the file installed, or an empty
// text when it is not there (Qt's texts then stay in English).
QString startUp();
// The file startUp() looks for.
QString qtTranslationFile();

QMainWindow *mainForm();          // created on first use when the host made none
void setMainForm(QMainWindow *window, QMdiArea *area);
QMdiArea *mdiArea();
// Wraps a screen in an MDI child window of the main form.
QMdiSubWindow *addChild(QWidget *screen);
// Hourglass on (true) or back (false). Calls nest: the default cursor
// returns when every "on" has been matched by an "off".
void setBusyCursor(bool busy);
bool busyCursor();

// Form creation through the application object: makes the screen, puts it
// in an MDI child and runs its creation step (create()). When creation
// throws, the half-made child is deleted and the exception goes on.
template<typename Screen>
Screen *createForm()
{
    auto *screen = new Screen();
    QMdiSubWindow *sub = addChild(screen);
    try {
        screen->create();
    } catch (...) {
        delete sub;
        throw;
    }
    return screen;
}

} // namespace HostApplication
