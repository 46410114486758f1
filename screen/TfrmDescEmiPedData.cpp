// The screen's client data sets, data sources and lookup queries.
//
// The lookup queries carry the same SQL for both back ends: the statements
// are plain SQL that SQLite and PostgreSQL read alike.

#include "screen/TfrmDescEmiPed.h"

#include "host/TADOIBQuery.h"
#include "platform/ClientDataSet.h"
#include "platform/DataSource.h"

namespace {

opd::FieldDef text(const char *name, int size, const QString &label = QString())
{
    opd::FieldDef d;
    d.name = name;
    d.type = opd::FieldType::String;
    d.size = size;
    d.label = label;
    return d;
}

opd::FieldDef readOnly(opd::FieldDef d)
{
    d.readOnly = true;
    return d;
}

opd::FieldDef hidden(opd::FieldDef d)
{
    d.hidden = true;
    return d;
}

opd::FieldDef required(opd::FieldDef d)
{
    d.required = true;
    return d;
}

opd::FieldDef typed(opd::FieldDef d, opd::FieldType type)
{
    d.type = type;
    d.size = 8;
    return d;
}

opd::ClientDataSet *dataSet(QObject *owner, const char *name)
{
    auto *cds = new opd::ClientDataSet(owner);
    cds->setObjectName(QString::fromLatin1(name));
    return cds;
}

opd::DataSource *source(QObject *owner, const char *name, opd::ClientDataSet *cds)
{
    auto *dts = new opd::DataSource(owner);
    dts->setObjectName(QString::fromLatin1(name));
    dts->setDataSet(cds);
    return dts;
}

TADOIBQuery *query(QObject *owner, const char *name, const QStringList &lines)
{
    auto *q = new TADOIBQuery(owner);
    q->setObjectName(QString::fromLatin1(name));
    q->Query()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Rows"));
    const QString sql = lines.join(QLatin1Char('\n'));
    q->setSql(TADOIBQuery::Backend::SQLite, sql);
    q->setSql(TADOIBQuery::Backend::PostgreSQL, sql);
    return q;
}

} // namespace

void TfrmDescEmiPed::buildDataSets()
{
    using opd::FieldType;

    cdsPedido = dataSet(this, "cdsPedido");
    cdsPedido->addField(readOnly(text("NRPEDIDO", 10, QStringLiteral("Núm. Pedido"))));
    cdsPedido->addField(readOnly(text("NMRAZSOCCLIE", 50, QStringLiteral("Razão Social"))));
    cdsPedido->addField(readOnly(typed(text("DTPEDIDO", 8, QStringLiteral("Data Lançamento Pedido")),
                                       FieldType::DateTime)));
    opd::FieldDef entrega = typed(text("DTENTPED", 8, QStringLiteral("Data Entrega")), FieldType::DateTime);
    entrega.editMask = QStringLiteral("00/00/9999;_");   // two-digit day and month, four-digit year
    cdsPedido->addField(entrega);

    cdsItens = dataSet(this, "cdsItens");
    cdsItens->addField(readOnly(text("NRPEDIDO", 10, QStringLiteral("Núm. Pedido"))));
    cdsItens->addField(readOnly(text("NRITEMPED", 10, QStringLiteral("Núm. Item Pedido"))));
    cdsItens->addField(hidden(readOnly(text("CDPRODUTO", 10, QStringLiteral("Código Produto")))));
    cdsItens->addField(readOnly(text("CDARVPROD", 20, QStringLiteral("Produto"))));
    cdsItens->addField(readOnly(typed(text("QTITEMPED", 8, QStringLiteral("Quantidade")), FieldType::Float)));
    cdsItens->addField(readOnly(text("NMPRODUTO", 50, QStringLiteral("Nome Produto"))));
    cdsItens->addField(hidden(readOnly(text("CDPRODESTO", 10))));
    opd::FieldDef filial = hidden(readOnly(text("CDFILIAL", 4, QStringLiteral("Filial"))));
    filial.displayWidth = 4;
    cdsItens->addField(filial);
    cdsItens->addField(hidden(text("DSEMISSAOITPED", 400, QStringLiteral("Descrição para Emissão do Pedido"))));
    // The items page filters on the current order at every page change.
    cdsItens->addIndex("NRPEDIDO");

    cdsNrPedido = dataSet(this, "cdsNrPedido");
    // The selection mark travels in the packet, but the picker's own check
    // column is where the clerk sets it: shown as a column of its own it
    // would be an empty one titled with the raw field name.
    opd::FieldDef marca = hidden(text("IDMARCADO", 1, QStringLiteral("Marcado")));
    marca.type = FieldType::FixedChar;
    cdsNrPedido->addField(marca);
    opd::FieldDef numero = text("NRPEDIDO", 10, QStringLiteral("Número"));
    numero.displayWidth = 12;
    cdsNrPedido->addField(numero);
    cdsNrPedido->addField(text("NMFANTCLIE", 50, QStringLiteral("Nome")));

    cdsPesqFilial = dataSet(this, "cdsPesqFilial");
    cdsPesqFilial->addField(text("CDFILIAL", 4, QStringLiteral("Código")));
    cdsPesqFilial->addField(text("NMFILIAL", 30, QStringLiteral("Nome")));
    cdsPesqFilial->addField(hidden(text("CDSEGMER", 5)));

    dtsPedido = source(this, "dtsPedido", cdsPedido);
    dtsNrPedido = source(this, "dtsNrPedido", cdsNrPedido);
    dtsFilial = source(this, "dtsFilial", cdsPesqFilial);
}

void TfrmDescEmiPed::buildQueries()
{
    qryCliente = query(this, "qryCliente", {
        QStringLiteral("SELECT"),
        QStringLiteral("   C.CDCLIENTE , C.IDTPIJURCLIE, C.NRINSJURCLIE,"),
        QStringLiteral("   C.NMFANTCLIE, C.NMRAZSOCCLIE, P.NMPAIS, "),
        QStringLiteral("   M.SGESTADO  , M.NMMUNICIPIO , E.DSENDECLIE "),
        QStringLiteral("FROM"),
        QStringLiteral("   CLIENTE C, PAIS P, "),
        QStringLiteral("   MUNICIPIO M, ENDECLIE E"),
        QStringLiteral("WHERE "),
        QStringLiteral("   (C.CDCLIENTE   = E.CDCLIENTE  ) AND"),
        QStringLiteral("   (E.CDPAIS      = M.CDPAIS     ) AND"),
        QStringLiteral("   (E.SGESTADO    = M.SGESTADO   ) AND"),
        QStringLiteral("   (E.CDMUNICIPIO = M.CDMUNICIPIO) AND"),
        QStringLiteral("   (M.CDPAIS      = P.CDPAIS     ) AND"),
        QStringLiteral("   (IDTPENDECLIE  = 'P')"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   NRINSJURCLIE"),
    });
    qryCliente->addField(hidden(required(readOnly(text("CDCLIENTE", 21)))));
    qryCliente->addField(hidden(readOnly(text("IDTPIJURCLIE", 1))));
    qryCliente->addField(readOnly(text("NRINSJURCLIE", 20, QStringLiteral("Nr. Inscrição"))));
    qryCliente->addField(readOnly(text("NMFANTCLIE", 50, QStringLiteral("Nome"))));
    qryCliente->addField(readOnly(text("NMRAZSOCCLIE", 50, QStringLiteral("Razão Social"))));
    qryCliente->addField(readOnly(text("NMPAIS", 30, QStringLiteral("País"))));
    qryCliente->addField(required(readOnly(text("SGESTADO", 2, QStringLiteral("Estado")))));
    qryCliente->addField(readOnly(text("NMMUNICIPIO", 30, QStringLiteral("Municipio"))));
    qryCliente->addField(readOnly(text("DSENDECLIE", 50, QStringLiteral("Endereço"))));

    qryFiliDest = query(this, "qryFiliDest", {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDFILIAL, NMFILIAL"),
        QStringLiteral("FROM "),
        QStringLiteral("   FILIAL"),
        QStringLiteral("ORDER BY "),
        QStringLiteral("   CDFILIAL"),
    });
    qryFiliDest->addField(required(readOnly(text("CDFILIAL", 4, QStringLiteral("Código")))));
    qryFiliDest->addField(readOnly(text("NMFILIAL", 30, QStringLiteral("Nome"))));

    qryVendedor = query(this, "qryVendedor", {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDVENDEDOR,"),
        QStringLiteral("   NMFANVEN"),
        QStringLiteral("FROM"),
        QStringLiteral("   VENDEDOR"),
        QStringLiteral("WHERE IDCARGOVEND <> 'R'   "),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDVENDEDOR"),
    });
    qryVendedor->addField(required(readOnly(text("CDVENDEDOR", 4, QStringLiteral("Código")))));
    qryVendedor->addField(readOnly(text("NMFANVEN", 50, QStringLiteral("Nome"))));

    qryPesqFilial = query(this, "qryPesqFilial", {
        QStringLiteral(" SELECT F.CDFILIAL, F.NMFILIAL"),
        QStringLiteral("  FROM FILIAL F"),
        QStringLiteral(" WHERE (F.CDFILIAL = :P_CDFILIAL)"),
        QStringLiteral("   AND (IDCNTRRESC = 'N')"),
        QStringLiteral("ORDER BY CDFILIAL"),
    });
    qryPesqFilial->addField(readOnly(text("CDFILIAL", 20, QStringLiteral("Código"))));
    qryPesqFilial->addField(readOnly(text("NMFILIAL", 50, QStringLiteral("Nome"))));

    qryNMProduto = query(this, "qryNMProduto", {
        QStringLiteral("SELECT CDARVPROD, NMPRODUTO"),
        QStringLiteral("  FROM PRODUTO P"),
        QStringLiteral(" WHERE (P.CDPRODESTO = (SELECT PE.CDPRODESTO"),
        QStringLiteral("                          FROM PRODUTO PE"),
        QStringLiteral("                         WHERE PE.CDPRODUTO = :P_CDPRODUTO))"),
        QStringLiteral(" ORDER BY 1"),
    });
    qryNMProduto->addField(readOnly(text("CDARVPROD", 20, QStringLiteral("Código"))));
    qryNMProduto->addField(readOnly(text("NMPRODUTO", 50, QStringLiteral("Nome"))));

    dtsCliente = source(this, "dtsCliente", qryCliente->Query());
    dtsFilialDest = source(this, "dtsFilialDest", qryFiliDest->Query());
    dtsVendedor = source(this, "dtsVendedor", qryVendedor->Query());
    dtsNMProduto = source(this, "dtsNMProduto", qryNMProduto->Query());
}
