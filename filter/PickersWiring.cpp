// Wiring of the pickers, the issuing-branch lookup, the selection modes and
// the reset. The enter and exit handlers of this subsystem (panFiltroEnter,
// medCdFilialExit, the range edits' exits) are bound by the focus tracker in
// wireFilter(); everything else is bound here.
//
// Every handler runs through opd::guarded(): a refusal has already been
// shown, and nothing may escape into Qt's event dispatch.

#include "screen/TfrmDescEmiPed.h"

#include "filter/ModesKeyFilter.h"
#include "host/TBtnPesquisa.h"
#include "platform/Exceptions.h"

namespace {

// A radio button's click handler runs when it becomes checked, by the clerk
// or by the program, and never when it is unchecked or checked again:
// toggled(true) is exactly that.
template<typename Fn>
void aoMarcar(QRadioButton *button, QObject *context, Fn handler)
{
    QObject::connect(button, &QAbstractButton::toggled, context, [button, handler](bool checked) {
        if (checked)
            opd::guarded([&] { handler(button); });
    });
}

// A change handler runs only when the text really changes, typed or set by
// the program; textChanged is emitted for both and never for an equal text.
template<typename Fn>
void aoMudar(QLineEdit *edit, QObject *context, Fn handler)
{
    QObject::connect(edit, &QLineEdit::textChanged, context, [edit, handler] {
        opd::guarded([&] { handler(edit); });
    });
}

template<typename Fn>
void aoClicar(QAbstractButton *button, QObject *context, Fn handler)
{
    QObject::connect(button, &QAbstractButton::clicked, context, [button, handler] {
        opd::guarded([&] { handler(button); });
    });
}

} // namespace

void TfrmDescEmiPed::wirePickers()
{
    // Pickers.
    aoClicar(sbtCliente, this, [this](QObject *s) { sbtClienteClick(s); });
    aoClicar(sbtFiliDest, this, [this](QObject *s) { sbtFiliDestClick(s); });
    aoClicar(sbtVendedor, this, [this](QObject *s) { sbtVendedorClick(s); });
    aoClicar(sbtNrPedido, this, [this](QObject *s) { sbtNrPedidoClick(s); });

    // Issuing branch. A failed branch list cancels the search button, so it
    // never offers the rows of an earlier answer as if they were current.
    aoMudar(medCdFilial, this, [this](QObject *s) { medCdFilialChange(s); });
    btnFilial->OnBeforePesq = [this](QObject *sender, bool &cancel) {
        if (!opd::guarded([&] { btnFilialBeforePesq(sender, cancel); }))
            cancel = true;
    };
    btnFilial->OnAfterPesq = [this](QObject *sender) {
        opd::guarded([&] { btnFilialAfterPesq(sender); });
    };

    // Selection modes.
    aoMarcar(rbtTodosFili, this, [this](QObject *s) { rbtTodosFiliClick(s); });
    aoMarcar(rbtListaFili, this, [this](QObject *s) { rbtListaFiliClick(s); });
    aoMarcar(rbtTCliente, this, [this](QObject *s) { rbtTClienteClick(s); });
    aoMarcar(rbtLCliente, this, [this](QObject *s) { rbtLClienteClick(s); });
    aoMarcar(rbtTVendedor, this, [this](QObject *s) { rbtTVendedorClick(s); });
    aoMarcar(rbtLVendedor, this, [this](QObject *s) { rbtLVendedorClick(s); });
    aoMarcar(rbtTNrPedido, this, [this](QObject *s) { rbtTNrPedidoClick(s); });
    aoMarcar(rbtIntervalo, this, [this](QObject *s) { rbtIntervaloClick(s); });
    aoMarcar(rbtLNrPedido, this, [this](QObject *s) { rbtLNrPedidoClick(s); });
    aoMudar(medDeIntervalo, this, [this](QObject *s) { medDeIntervaloChange(s); });
    aoMudar(medAteIntervalo, this, [this](QObject *s) { medAteIntervaloChange(s); });

    // F9 on a "Lista" radio button.
    auto *teclas = new ModesKeyFilter(this);
    teclas->setObjectName(QStringLiteral("modesKeyFilter"));
    teclas->setKeyDownHandler(rbtListaFili, [this](QObject *s, int &k, Qt::KeyboardModifiers m) {
        rbtListaFiliKeyDown(s, k, m);
    });
    teclas->setKeyDownHandler(rbtLCliente, [this](QObject *s, int &k, Qt::KeyboardModifiers m) {
        rbtLClienteKeyDown(s, k, m);
    });
    teclas->setKeyDownHandler(rbtLVendedor, [this](QObject *s, int &k, Qt::KeyboardModifiers m) {
        rbtLVendedorKeyDown(s, k, m);
    });
    teclas->setKeyDownHandler(rbtLNrPedido, [this](QObject *s, int &k, Qt::KeyboardModifiers m) {
        rbtLNrPedidoKeyDown(s, k, m);
    });

    // The reset (its button stays hidden; the handler is there for when a
    // screen shows it).
    aoClicar(sbtLimpa, this, [this](QObject *s) { sbtLimpaClick(s); });
}
