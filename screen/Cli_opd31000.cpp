#include "screen/Cli_opd31000.h"

#include "host/HostApplication.h"
#include "screen/TfrmDescEmiPed.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace Cli_opd31000 {

QPointer<TfrmDescEmiPed> frmDescEmiPed;
bool FormCriado = false;
bool PrimeiraAtivacao = false;
TFiltro Filtro;

namespace {

QString s_listaNrPedido;
QString s_listaCliente;
QString s_listaFiliDest;
QString s_listaVendedor;
int s_initCount = 0;
std::function<void(TfrmDescEmiPed &)> s_creationHook;

// The hourglass goes back on every way out of CriaDescEmi, a failed
// creation included: a stuck hourglass would be a second fault on top.
struct BusyCursor
{
    BusyCursor() { HostApplication::setBusyCursor(true); }
    ~BusyCursor() { HostApplication::setBusyCursor(false); }
};

// The form's own place is (732, 366); in a smaller host window it is moved
// in just far enough to be seen whole.
void placeWindow(QMdiSubWindow *sub)
{
    sub->resize(747, 475);
    QPoint at(732, 366);
    if (QMdiArea *area = HostApplication::mdiArea()) {
        const QSize room = area->viewport()->size();
        at.setX(qMax(0, qMin(at.x(), room.width() - sub->width())));
        at.setY(qMax(0, qMin(at.y(), room.height() - sub->height())));
    }
    sub->move(at);
}

TfrmDescEmiPed *createScreen()
{
    auto *screen = new TfrmDescEmiPed;
    QPointer<QMdiSubWindow> sub;
    try {
        sub = HostApplication::addChild(screen);
        if (sub)
            placeWindow(sub);
        screen->create();
        if (s_creationHook)
            s_creationHook(*screen);
    } catch (...) {
        // Nothing half-made stays behind; the next call tries again.
        if (sub)
            delete sub.data();
        else
            delete screen;
        throw;
    }
    return screen;
}

void showNormal(TfrmDescEmiPed *screen)
{
    if (QMdiSubWindow *sub = screen->subWindow()) {
        sub->show();
        sub->showNormal();
        if (QMdiArea *area = HostApplication::mdiArea())
            area->setActiveSubWindow(sub);
        sub->raise();
    } else {
        screen->show();
        screen->showNormal();
        screen->raise();
        screen->activateWindow();
    }
}

} // namespace

QString &ListaNrPedido() { return s_listaNrPedido; }
QString &ListaCliente() { return s_listaCliente; }
QString &ListaFiliDest() { return s_listaFiliDest; }
QString &ListaVendedor() { return s_listaVendedor; }

const QString &FlagText(bool value)
{
    static const QString texts[2] = {QString(), QStringLiteral("T")};
    return texts[value ? 1 : 0];
}

void CriaDescEmi()
{
    BusyCursor busy;
    // A screen destroyed behind our back (never closed) counts as gone.
    if (!FormCriado || !frmDescEmiPed) {
        FormCriado = false;
        frmDescEmiPed = createScreen();
        FormCriado = true;
        showNormal(frmDescEmiPed);
        frmDescEmiPed->medCdFilial->setFocus(Qt::OtherFocusReason);
        return;
    }
    showNormal(frmDescEmiPed);
}

void Initialization()
{
    if (s_initCount++ == 0) {
        FormCriado = false;
        PrimeiraAtivacao = false;
    }
}

void Finalization()
{
    if (s_initCount == 0 || --s_initCount > 0)
        return;
    // The screen's code leaves with the package: a screen still open is
    // destroyed now rather than left to call into unloaded code.
    if (TfrmDescEmiPed *screen = frmDescEmiPed.data()) {
        if (QMdiSubWindow *sub = screen->subWindow())
            delete sub;
        else
            delete screen;
    }
    frmDescEmiPed = nullptr;
    FormCriado = false;
    s_listaVendedor = QString();
    s_listaFiliDest = QString();
    s_listaCliente = QString();
    s_listaNrPedido = QString();
    Filtro.setDefaults();
}

int initializationCount()
{
    return s_initCount;
}

void setCreationHookForTesting(std::function<void(TfrmDescEmiPed &)> hook)
{
    s_creationHook = std::move(hook);
}

} // namespace Cli_opd31000
