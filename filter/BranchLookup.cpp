// The issuing branch at the top of the filter panel: the code edit, the
// name beside it, the search button whose list comes from the application
// server, and the check made against the host database when the code edit
// is left. The two sources are independent on purpose: the list offers the
// company's branches, the check also refuses branches closed to orders
// (IDCNTRRESC other than 'N').

#include "screen/TfrmDescEmiPed.h"

#include "host/Consiste.h"
#include "host/Orvand.h"
#include "host/TADOIBQuery.h"
#include "platform/ClientDataSet.h"
#include "platform/DataPacket.h"

void TfrmDescEmiPed::medCdFilialChange(QObject *)
{
    // A name shown beside a code it no longer belongs to would mislead.
    edtNmFilial->clear();
}

void TfrmDescEmiPed::btnFilialBeforePesq(QObject *, bool &)
{
    const QVariant payload = Consiste::CheckResultServ(
        chamaServidor(QStringLiteral("getFilial"),
                      {opd::RemoteArg::text(Orvand::EmprProc()), opd::RemoteArg::text(QStringLiteral("T"))}),
        true, 0);
    if (payload.userType() != qMetaTypeId<opd::DataPacket>())
        throw opd::DataSetError(QStringLiteral("A resposta de getFilial não traz a lista de filiais."));
    cdsPesqFilial->setData(payload.value<opd::DataPacket>());
}

void TfrmDescEmiPed::btnFilialAfterPesq(QObject *)
{
    // Name first, then the code: when the code really changes, its change
    // handler empties the name again, as it does for any other change.
    edtNmFilial->setText(cdsPesqFilial->fieldByName("NMFILIAL")->asString());
    medCdFilial->setText(cdsPesqFilial->fieldByName("CDFILIAL")->asString());
}

void TfrmDescEmiPed::medCdFilialExit(QObject *)
{
    Vd_Filial();
}

void TfrmDescEmiPed::Vd_Filial()
{
    if (Consiste::EmptyString(medCdFilial->text()))
        return;   // no branch: every branch of the search
    // The edit keeps what the clerk typed, blanks included; only the lookup
    // goes without them.
    qryPesqFilial->Close();
    qryPesqFilial->setParam(QStringLiteral("P_CDFILIAL"), Consiste::AllTrim(medCdFilial->text()));
    try {
        qryPesqFilial->Open();
    } catch (const opd::DataSetError &e) {
        // Without the database the code cannot be vouched for: refused like
        // an unknown one, with the reason, never accepted unchecked.
        Consiste::MensErro(e.message(), true);
    }
    if (qryPesqFilial->IsEmpty())
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Cod_NCad")), true);
    edtNmFilial->setText(qryPesqFilial->Query()->fieldByName("NMFILIAL")->asString());
}
