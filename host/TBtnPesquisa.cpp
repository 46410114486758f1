#include "host/TBtnPesquisa.h"

#include "host/Pickers.h"
#include "platform/DataSource.h"
#include "platform/Exceptions.h"

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : QToolButton(parent)
{
    setText(QStringLiteral("..."));
    setToolTip(QStringLiteral("Pesquisar"));
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QToolButton::clicked, this, [this] { opd::guarded([this] { pesquisar(); }); });
}

void TBtnPesquisa::pesquisar()
{
    bool cancel = false;
    if (OnBeforePesq)
        OnBeforePesq(this, cancel);
    if (cancel)
        return;
    if (!Pesquisar_Plus(DataSource, Title + QLatin1Char('|') + EmptyError, false, true))
        return;
    // The code is written before OnAfterPesq runs, so a handler that sets a
    // name and then the same code again keeps its name.
    opd::ClientDataSet *ds = DataSource ? DataSource->dataSet() : nullptr;
    if (Associate && ds) {
        for (const auto &field : ds->fields()) {
            if (field->isVisible()) {
                Associate->setText(field->asString());
                break;
            }
        }
    }
    if (OnAfterPesq)
        OnAfterPesq(this);
}
