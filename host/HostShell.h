#pragma once
// The host application's shell: main window with its MDI area and screen
// menu, the login environment, the shared database, and the screen package
// loaded at run time.
//
// Command line (opd-host):
//   --config FILE      login environment (INI, see Orvand.h)
//   --open OPD31000    open the screen at start
//   --focus NAME       after opening, focus the screen's child with that name
//   --screenshot FILE  once the screen is open, first activated and (with
//                      --focus) settled with no busy indicator, save the main
//                      window as PNG and exit 0
//   --package FILE     the screen package file
//   --package-dir DIR  the folder holding the screen package (default: the
//                      installed library folder, then the executable's
//                      folder; see HostPaths.h)
//   --help, --version  print and exit 0; answered without a display
//   plus every Orvand option (--server-host, --server-port, --db, ...).
// Without --config the first opd.ini of the standard places is read (see
// HostPaths.h); the file read, or that none was found, is logged on stderr.
// Exit codes: 0 success, 1 a run-time failure (package, screen, screenshot),
// 2 a bad command line or an unreadable/invalid config file.
//
// Package interface: plain exported functions without arguments,
// Initialize, IniProc and Finalize. Initialize runs after loading, IniProc
// from the menu entry (or --open), Finalize after every screen is closed, just
// before unloading.

#include "host/Orvand.h"

#include <QLibrary>
#include <QObject>
#include <QStringList>

class QMainWindow;
class QMdiArea;

class HostShell : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString config;
        QString open;
        QString focus;
        QString screenshot;
        QString package;
        QString packageDir;
        Orvand::Options environmentOptions;   // the login environment's options, as given
        bool help = false;
        bool version = false;
    };
    // Returns 0, or 2 with *error set for an unknown option, a missing value
    // or a stray argument.
    static int parseArguments(const QStringList &arguments, Options *options, QString *error);
    // For --help or --version among the arguments: prints the answer on stdout
    // and returns 0. Otherwise returns -1 and prints nothing. Needs only a
    // QCoreApplication.
    static int answerHelpOrVersion(const QStringList &arguments);

    explicit HostShell(QObject *parent = nullptr);
    ~HostShell() override;

    // The whole run: options, environment, database, package, event loop.
    int run(const QStringList &arguments);

    QMainWindow *window() const { return m_window; }
    bool loadPackage(const QString &fileName, QString *error);
    bool packageLoaded() const { return m_library.isLoaded(); }
    void openScreen();          // the menu entry: the package's IniProc
    void unloadPackage();       // closes every screen, Finalize, unload

private:
    using EntryPoint = void (*)();
    void buildWindow();
    void report(const QString &text);
    void finish(int exitCode);
    void afterOpen();

    Options m_options;
    QMainWindow *m_window = nullptr;
    QMdiArea *m_area = nullptr;
    QLibrary m_library;
    EntryPoint m_initialize = nullptr;
    EntryPoint m_iniProc = nullptr;
    EntryPoint m_finalize = nullptr;
    bool m_quiet = false;       // messages to stderr instead of boxes
    int m_exitCode = 0;
};
