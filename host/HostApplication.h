#pragma once
// The host's application object: main window with its MDI area, form creation
// and the application-wide mouse cursor.

#include <QMainWindow>

class QMdiArea;
class QMdiSubWindow;

namespace HostApplication {

QMainWindow *mainForm();          // created on first use when the host made none
void setMainForm(QMainWindow *window, QMdiArea *area);
QMdiArea *mdiArea();
// Wraps a screen in an MDI child window of the main form.
QMdiSubWindow *addChild(QWidget *screen);
void setBusyCursor(bool busy);    // hourglass or the default cursor
bool busyCursor();

} // namespace HostApplication
