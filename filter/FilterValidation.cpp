// Checks of the filter panel: the validity of each date edit when it is
// left, and the range rules that the search runs before sending anything.
// A failing check shows its message, puts the focus on the control to
// correct and ends the running handler (the rethrown opd::Abort).

#include "screen/TfrmDescEmiPed.h"

#include "host/Consiste.h"
#include "host/TDateEditPlus.h"

namespace {

// A date edit with nothing typed counts as empty, whatever its mask shows.
bool semTexto(const TDateEditPlus *dep)
{
    return dep->isEmptyText() || Consiste::EmptyString(dep->text());
}

} // namespace

void TfrmDescEmiPed::checaData(TDateEditPlus *dep)
{
    try {
        if (semTexto(dep))
            return;   // a date may be left out
        // Dates on or before 30/12/1899 are refused like invalid ones.
        if (!dep->IsDateValid() || dep->GetDate() <= 0)
            Consiste::MensErro(QLatin1Char('\'') + dep->EditText() + QStringLiteral("' ")
                                   + msgPadrao->Msg(QStringLiteral("DATA_INV")),
                               true);
    } catch (...) {
        dep->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TfrmDescEmiPed::Vd_DeEmissaoInv() { checaData(depDeEmissao); }
void TfrmDescEmiPed::Vd_AteEmissaoInv() { checaData(depAteEmissao); }
void TfrmDescEmiPed::Vd_DeEntregaInv() { checaData(depDeEntrega); }
void TfrmDescEmiPed::Vd_AteEntregaInv() { checaData(depAteEntrega); }

void TfrmDescEmiPed::depDeEmissaoExit(QObject *) { Vd_DeEmissaoInv(); }
void TfrmDescEmiPed::depAteEmissaoExit(QObject *) { Vd_AteEmissaoInv(); }
void TfrmDescEmiPed::depDeEntregaExit(QObject *) { Vd_DeEntregaInv(); }
void TfrmDescEmiPed::depAteEntregaExit(QObject *) { Vd_AteEntregaInv(); }

void TfrmDescEmiPed::Vd_Emissao()
{
    try {
        if (!semTexto(depDeEmissao) && !semTexto(depAteEmissao)
            && depAteEmissao->GetDate() < depDeEmissao->GetDate())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DTINI>DTFIN_PEDIDO")), true);
    } catch (...) {
        depDeEmissao->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TfrmDescEmiPed::Vd_Entrega()
{
    try {
        if (!semTexto(depDeEntrega) && !semTexto(depAteEntrega)
            && depAteEntrega->GetDate() < depDeEntrega->GetDate())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DTINI>DTFIN_ENTREGA")), true);
    } catch (...) {
        depDeEntrega->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TfrmDescEmiPed::Vd_DeIntervalo()
{
    try {
        if (rbtIntervalo->isChecked() && Consiste::EmptyString(medDeIntervalo->text()))
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NRINI")), true);
    } catch (...) {
        medDeIntervalo->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TfrmDescEmiPed::Vd_AteIntervalo()
{
    try {
        if (rbtIntervalo->isChecked() && Consiste::EmptyString(medAteIntervalo->text()))
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NRFIN")), true);
    } catch (...) {
        medAteIntervalo->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TfrmDescEmiPed::Vd_Intervalo()
{
    try {
        // Texts compared as they stand, by character code: the exit handlers
        // of the range edits bring both to the width of 10, where this order
        // is the numeric one.
        const QString de = medDeIntervalo->text();
        const QString ate = medAteIntervalo->text();
        if (!Consiste::EmptyString(de) && !Consiste::EmptyString(ate)
            && QString::compare(de, ate, Qt::CaseSensitive) > 0)
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NRINI>NRFIN")), true);
    } catch (...) {
        medDeIntervalo->setFocus(Qt::OtherFocusReason);
        throw;
    }
}
