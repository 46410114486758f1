#include "host/HostApplication.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTranslator>

namespace HostApplication {

namespace {

struct State
{
    QPointer<QMainWindow> window;
    QPointer<QMdiArea> area;
    int busyDepth = 0;
};

State &state()
{
    static State s;
    return s;
}

} // namespace

QString qtTranslationFile()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_pt_BR.qm");
}

QString startUp()
{
    // One translator for the process, whatever the number of calls: a
    // second installation of the same texts would only shadow the first.
    // Held by a guarded pointer: an application object made anew (a test
    // may) gets the translator installed again.
    static QPointer<QTranslator> installed;
    // The locale of the widgets Qt formats itself (the file dialog's dates
    // and sizes); the grids format for the clerk on their own.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const QString file = qtTranslationFile();
    if (installed)
        return file;
    if (!QFileInfo::exists(file))
        return QString();
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(file)) {
        delete translator;
        return QString();
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return file;
}

QMainWindow *mainForm()
{
    if (!state().window) {
        // Libraries and tests that run without the shell still get a real
        // main window to lay overlays and dialogs over.
        auto *window = new QMainWindow;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        auto *area = new QMdiArea(window);
        window->setCentralWidget(area);
        window->resize(1000, 700);
        setMainForm(window, area);
    }
    return state().window;
}

void setMainForm(QMainWindow *window, QMdiArea *area)
{
    state().window = window;
    state().area = area;
}

QMdiArea *mdiArea()
{
    mainForm();
    return state().area;
}

QMdiSubWindow *addChild(QWidget *screen)
{
    QMdiSubWindow *sub = mdiArea()->addSubWindow(screen);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(screen->windowTitle());
    QObject::connect(screen, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    return sub;
}

void setBusyCursor(bool busy)
{
    // Nested users (a screen's opening around a busy indicator) each ask for
    // the hourglass and give it back; it goes only when the outermost does.
    // A stray "off" never takes the count below zero.
    int &depth = state().busyDepth;
    if (busy) {
        if (depth++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (depth > 0 && --depth == 0) {
        QApplication::restoreOverrideCursor();
    }
}

bool busyCursor()
{
    return state().busyDepth > 0;
}

} // namespace HostApplication
