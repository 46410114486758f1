// The history command: the audit rows of the current order or item, fetched
// with GetHistorico and shown in their own dialog. It reads only, so the
// commands keep their states and a row being edited stays so.

#include "screen/TfrmDescEmiPed.h"

#include "editing/HistoryDialog.h"
#include "host/Consiste.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/DataPacket.h"
#include "platform/Exceptions.h"

#include <QAction>
#include <QMenu>

void TfrmDescEmiPed::mostraHistorico(const opd::DBGrid *grid)
{
    // Without a grid named, the page that is showing decides.
    const bool items = grid ? grid == dbgPadrao : pgcPadrao->activePage() == tshPadrao;
    opd::ClientDataSet *ds = items ? cdsItens : cdsPedido;
    if (!ds->isActive() || ds->isEmpty())
        return;
    const QString filial = ds->fieldByName("CDFILIAL")->asString();
    const QString pedido = ds->fieldByName("NRPEDIDO")->asString();
    const QString item = items ? ds->fieldByName("NRITEMPED")->asString() : QString();
    const QVariant payload = Consiste::CheckResultServ(
        chamaServidor(QStringLiteral("GetHistorico"),
                      {opd::RemoteArg::text(filial), opd::RemoteArg::text(pedido), opd::RemoteArg::text(item)}),
        true, 0);
    if (payload.userType() != qMetaTypeId<opd::DataPacket>())
        throw opd::DataSetError(QStringLiteral("A resposta de GetHistorico não traz o histórico."));
    const QString subject = items ? QStringLiteral("Item %1 do pedido %2").arg(item, pedido)
                                  : QStringLiteral("Pedido %1").arg(pedido);
    auto *dialog = new HistoryDialog(subject, payload.value<opd::DataPacket>(), this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
}

void TfrmDescEmiPed::wireHistory()
{
    // F7 is free on this screen and in the host; the shortcut holds while
    // the focus is anywhere in the screen.
    auto *action = new QAction(QStringLiteral("Histórico de alterações (F7)"), this);
    action->setObjectName(QStringLiteral("actHistorico"));
    action->setShortcut(QKeySequence(Qt::Key_F7));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, [this] {
        opd::guarded([this] { mostraHistorico(nullptr); });
    });

    for (opd::DBGrid *grid : {dbgPEDIDO, dbgPadrao}) {
        grid->setToolTip(QStringLiteral("F7 ou botão direito: histórico de alterações da linha"));
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint &at) {
            // The row under the pointer becomes the current one first, as a
            // click would make it.
            const QModelIndex index = grid->indexAt(at);
            if (index.isValid())
                grid->setCurrentIndex(index);
            QMenu menu(grid);
            QAction *open = menu.addAction(QStringLiteral("Histórico de alterações (F7)"));
            open->setObjectName(QStringLiteral("mnuHistorico"));
            if (menu.exec(grid->viewport()->mapToGlobal(at)) == open)
                opd::guarded([this, grid] { mostraHistorico(grid); });
        });
    }
}
