// What a screen reader says for each control of the screen. A control with a
// caption of its own (radio buttons, check boxes, group boxes) is named by it;
// an edit by the label that stands before it, which is also its buddy (the
// label's mnemonic and a click on it go to the edit); a button that shows only
// a glyph by what it does. Names repeat the group's title where the label
// alone ("de", "até") would not tell one edit from another.

#include "screen/TfrmDescEmiPed.h"

#include "host/TBtnPesquisa.h"
#include "host/TDateEditPlus.h"
#include "grid/DBGrid.h"

#include <QTabBar>

namespace {

void describe(QLabel *label, QWidget *edit, const QString &name)
{
    label->setBuddy(edit);
    edit->setAccessibleName(name);
}

void captioned(QAbstractButton *button, const QGroupBox *group)
{
    button->setAccessibleName(button->text());
    button->setAccessibleDescription(group->title());
}

} // namespace

void TfrmDescEmiPed::nameControls()
{
    describe(lblFilial, medCdFilial, lblFilial->text());
    btnFilial->setAccessibleName(QStringLiteral("Pesquisar Filial"));
    edtNmFilial->setAccessibleName(QStringLiteral("Nome da Filial"));
    lblServidor->setAccessibleName(QStringLiteral("Situação do servidor"));

    const auto range = [](QGroupBox *group, QLabel *lblDe, QWidget *de, QLabel *lblAte, QWidget *ate) {
        describe(lblDe, de, group->title() + QLatin1Char(' ') + lblDe->text());
        describe(lblAte, ate, group->title() + QLatin1Char(' ') + lblAte->text());
    };
    range(grbEmissao, lblDeEmissao, depDeEmissao, lblAteEmissao, depAteEmissao);
    range(grbEntrega, lblDeEntrega, depDeEntrega, lblAteEntrega, depAteEntrega);
    range(grbNrPedido, lblDeNrPedido, medDeIntervalo, lblAteNrPedido, medAteIntervalo);

    const struct
    {
        QGroupBox *group;
        QList<QAbstractButton *> captions;
        QToolButton *search;
    } groups[] = {
        {gbrFiliDesti, {rbtTodosFili, rbtListaFili}, sbtFiliDest},
        {grbCliente, {rbtTCliente, rbtLCliente}, sbtCliente},
        {grbVendedor, {rbtTVendedor, rbtLVendedor}, sbtVendedor},
        {grbNrPedido, {rbtTNrPedido, rbtIntervalo, rbtLNrPedido}, sbtNrPedido},
        {grbPedido, {chbPPendente, chbPAndamento, chbPLiquidado, chbPCancelado, chbPParcialmente}, nullptr},
    };
    for (const auto &g : groups) {
        for (QAbstractButton *b : g.captions)
            captioned(b, g.group);
        if (g.search)
            g.search->setAccessibleName(QStringLiteral("Pesquisar ") + g.group->title());
    }

    sbtLimpa->setAccessibleName(sbtLimpa->toolTip());
    // The page control takes the focus and hands it to its tabs: both say it.
    pgcPadrao->setAccessibleName(QStringLiteral("Páginas"));
    pgcPadrao->tabBar()->setAccessibleName(pgcPadrao->accessibleName());
    dbgPEDIDO->setAccessibleName(QStringLiteral("Pedidos"));
    dbgPadrao->setAccessibleName(QStringLiteral("Itens do Pedido"));
}
