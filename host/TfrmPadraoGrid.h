#pragma once
// The host's base grid screen. A screen derives from it, builds its own
// controls in its constructor and overrides the by-name handlers it takes over.
//
// Commands (menu item n and button n share one enabled state):
//   1 insert, 2 export the active grid to CSV, 3 delete,
//   4 find, 5 verify, 6 confirm, 7 cancel.
// Every command and window event reaches its handler through opd::guarded(),
// so a handler that throws opd::Abort simply ends.

#include "grid/DBGrid.h"
#include "platform/DataSource.h"
#include "host/TCustomPageControl98.h"
#include "host/TMessages.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QWidget>
#include <array>

class QMdiSubWindow;
class QMenu;

class TfrmPadraoGrid : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmPadraoGrid(QWidget *parent = nullptr);
    ~TfrmPadraoGrid() override;

    // Members the screens use (each also reachable by its object name).
    QLabel *lblCodTela;
    QFrame *panMenu;
    QToolButton *sbtFechar;
    std::array<QAction *, 7> mnuComando;     // mnuComando1 .. mnuComando7
    std::array<QToolButton *, 7> sbtComando; // sbtComando1 .. sbtComando7
    QWidget *ctlConsulta;
    TCustomPageControl98 *pgcPadrao;
    TTabSheet *tshPadrao;
    QFrame *panDbgPadrao;
    QScrollArea *scbFolhaDados;
    opd::DBGrid *dbgPadrao;
    QFrame *panNavigator;
    QLabel *dbtNome;
    QWidget *dbnPadrao;
    opd::DataSource *dtsPadrao;
    TMessages *msgPadrao;
    QMenu *mnuPadrao;                        // holds mnuComando1 .. mnuComando7

    enum class CloseAction { None, Hide, Free, Minimize };

    // Creation and closing: the host calls create() once after constructing
    // (runs FormCreate) and the window's close runs FormClose.
    void create();
    QMdiSubWindow *subWindow() const;

    // Activation handler; a screen may detach it (nullptr) and put it back.
    std::function<void(QObject *sender)> onActivate;
    // Runs the activation event as the window system does when the screen
    // becomes the active window (also used by the host shell and tests).
    void runActivation();
    // How often the activation event came, whatever handler was attached.
    int activationCount() const { return m_activations; }

    // Hooks for the commands that ask the user: the export's file name
    // (default: a save dialog; empty = cancelled) and the delete confirmation
    // (default: a question box).
    std::function<QString()> exportFileName;
    std::function<bool()> confirmDelete;
    // The delete confirmation through that hook. The Delete command asks it,
    // and so does Ctrl+Delete in dbgPadrao: the grid has no dialog of its own.
    bool confirmDeletion();
    // The grid the export and the find command work on: the focused grid of
    // this screen, else the grid on the active page, else dbgPadrao.
    opd::DBGrid *activeGrid() const;

    // By-name handlers.
    virtual void FormCreate(QObject *sender);
    virtual void FormClose(QObject *sender, CloseAction &action);   // base: Free
    virtual void FormActivate(QObject *sender);
    virtual void dbgPadraoKeyPress(QObject *sender, QChar &key);
    virtual void sbtProcurarClick(QObject *sender);    // command 4
    virtual void sbtVerificarClick(QObject *sender);   // command 5
    virtual void sbtConfirmarClick(QObject *sender);   // command 6
    virtual void sbtCancelarClick(QObject *sender);    // command 7
    virtual void sbtExportarClick(QObject *sender);    // command 2
    virtual void sbtIncluirClick(QObject *sender);     // command 1
    virtual void sbtExcluirClick(QObject *sender);     // command 3
    // The base's own enabling of the commands from dtsPadrao's state; screens
    // with their own rule override it.
    virtual void updateCommands();

signals:
    void activated();     // after every activation event

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildCommands();
    void watchDataSet();

    bool m_created = false;
    int m_activations = 0;
    QMetaObject::Connection m_mdiLink;
    QList<QMetaObject::Connection> m_dataSetLinks;
};
