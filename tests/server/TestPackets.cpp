#include "TestPackets.h"

using opd::DataPacket;
using opd::FieldDef;
using opd::FieldType;

namespace TestPackets {

DataPacket orders()
{
    DataPacket p({field("NRPEDIDO", FieldType::String, 10), field("NMRAZSOCCLIE", FieldType::String, 50),
                  field("DTPEDIDO", FieldType::DateTime, 8), field("DTENTPED", FieldType::DateTime, 8),
                  field("CDFILIAL", FieldType::String, 4)});
    p.appendText("0000000123"); p.appendText("Padaria São João"); p.appendNumber(46000); p.appendNull(); p.appendText("0001"); p.endRow();
    p.appendText("0000000124"); p.appendText("Filial Curitiba"); p.appendNumber(46001.5); p.appendNumber(46010); p.appendText("0001"); p.endRow();
    return p;
}

DataPacket items()
{
    DataPacket p({field("NRPEDIDO", FieldType::String, 10), field("NRITEMPED", FieldType::String, 10),
                  field("QTITEMPED", FieldType::Float, 8), field("DSEMISSAOITPED", FieldType::String, 400)});
    p.appendText("0000000123"); p.appendText("0000000001"); p.appendNumber(2.5); p.appendText("Pão francês 'tipo' A"); p.endRow();
    p.appendText("0000000123"); p.appendText("0000000002"); p.appendNumber(10); p.appendText(""); p.endRow();
    p.appendText("0000000124"); p.appendText("0000000001"); p.appendNumber(0); p.appendNull(); p.endRow();
    return p;
}

QStringList rowsOf(const DataPacket &p)
{
    QStringList out;
    QStringList names;
    for (const FieldDef &f : p.fields())
        names << QString::fromUtf8(f.name) + QLatin1Char(':') + QString::fromLatin1(opd::fieldTypeName(f.type))
                     + QLatin1Char(':') + QString::number(f.size);
    out << names.join(QLatin1Char(','));
    for (qsizetype r = 0; r < p.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < p.fieldCount(); ++c) {
            const FieldType t = p.fields().at(c).type;
            if (p.isNullAt(c, r))
                cells << QStringLiteral("<null>");
            else if (t == FieldType::Float || t == FieldType::DateTime)
                cells << QString::number(p.number(c, r), 'g', 17);
            else
                cells << QString::fromUtf8(p.text(c, r).toByteArray());
        }
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace TestPackets
