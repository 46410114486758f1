#include "platform/DataPacket.h"

#include "platform/DataPacketData.h"
#include "platform/Exceptions.h"
#include "platform/Utf8.h"

#include <QCborStreamWriter>
#include <QJsonArray>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace opd {

namespace {

quint32 attrsOf(const FieldDef &f)
{
    return (f.readOnly ? AttrReadOnly : 0u) | (f.hidden ? AttrHidden : 0u)
        | (f.required ? AttrRequired : 0u);
}

QString fieldText(const FieldDef &f)
{
    return QString::fromUtf8(f.name);
}
} // namespace

DataPacket::DataPacket() : d(new DataPacketData) {}

DataPacket::DataPacket(QList<FieldDef> fields) : d(new DataPacketData)
{
    d->setFields(std::move(fields));
}

DataPacket::DataPacket(const DataPacket &) = default;
DataPacket &DataPacket::operator=(const DataPacket &) = default;
DataPacket::~DataPacket() = default;

void DataPacket::detach()
{
    d.detach();
}

bool DataPacket::isNull() const
{
    return d->fields.isEmpty();
}

const QList<FieldDef> &DataPacket::fields() const
{
    return d->fields;
}

int DataPacket::fieldCount() const
{
    return int(d->fields.size());
}

int DataPacket::indexOf(QByteArrayView name) const
{
    for (int i = 0; i < d->fields.size(); ++i)
        if (d->fields[i].name == name)
            return i;
    return -1;
}

qsizetype DataPacket::rowCount() const
{
    return d->rows;
}

void DataPacket::reserve(qsizetype rows)
{
    d.detach();
    // The cells go into chunks that never move: only the lists of chunks
    // can be made ready.
    const size_t chunks = chunk::of(rows + chunk::mask);
    for (PacketColumn &c : d->columns) {
        if (c.text)
            c.texts.reserve(chunks);
        else
            c.numbers.reserve(chunks);
    }
}

void DataPacket::appendText(QByteArrayView utf8)
{
    d.detach();
    const int f = d->pendingCells;
    if (f >= fieldCount())
        throw DataSetError(QStringLiteral("Linha com células demais."));
    const FieldDef &def = d->fields[f];
    if (!isTextType(def.type))
        throw DataSetError(QStringLiteral("Campo \"%1\" não é texto.").arg(fieldText(def)));
    const qsizetype chars = utf8::countChars(utf8);
    if (chars < 0)
        throw DataSetError(QStringLiteral("Campo \"%1\": texto não é UTF-8 válido.").arg(fieldText(def)));
    if (chars > def.size)
        throw DataSetError(QStringLiteral("Campo \"%1\": texto com %2 caracteres excede o tamanho %3.")
                               .arg(fieldText(def)).arg(chars).arg(def.size));
    d->pushText(f, utf8);
    ++d->pendingCells;
}

void DataPacket::appendNumber(double value)
{
    d.detach();
    const int f = d->pendingCells;
    if (f >= fieldCount())
        throw DataSetError(QStringLiteral("Linha com células demais."));
    const FieldDef &def = d->fields[f];
    if (isTextType(def.type))
        throw DataSetError(QStringLiteral("Campo \"%1\" não é numérico.").arg(fieldText(def)));
    d->pushNumber(f, value);
    ++d->pendingCells;
}

void DataPacket::appendNull()
{
    d.detach();
    const int f = d->pendingCells;
    if (f >= fieldCount())
        throw DataSetError(QStringLiteral("Linha com células demais."));
    if (d->columns[size_t(f)].text)
        d->pushText(f, {});
    else
        d->pushNumber(f, std::numeric_limits<double>::quiet_NaN());
    ++d->pendingCells;
}

void DataPacket::endRow()
{
    d.detach();
    if (d->pendingCells != fieldCount()) {
        const int got = d->pendingCells;
        d->dropPartialRow();
        throw DataSetError(QStringLiteral("Linha incompleta: %1 de %2 células.").arg(got).arg(fieldCount()));
    }
    d->pendingCells = 0;
    ++d->rows;
}

QByteArrayView DataPacket::text(int field, qsizetype row) const
{
    return d->text(field, row);
}

double DataPacket::number(int field, qsizetype row) const
{
    return d->number(field, row);
}

bool DataPacket::isNullAt(int field, qsizetype row) const
{
    return d->isNull(field, row);
}

qsizetype DataPacket::rawCellBytes() const
{
    qsizetype total = 0;
    for (const PacketColumn &c : d->columns) {
        if (c.text) {
            total += qsizetype(c.textBytes);
            for (qsizetype r = d->rows; r < c.count; ++r)   // a row being built
                total -= c.storedText(r).size();
            for (const auto &[row, cell] : c.overlay)
                total += cell.size() - c.storedText(row).size();
        } else {
            total += d->rows * qsizetype(sizeof(double));
        }
    }
    return total;
}

QByteArray DataPacket::toCbor() const
{
    QByteArray out;
    out.reserve(rawCellBytes() + d->rows * (fieldCount() + 1) + 256);
    QCborStreamWriter writer(&out);
    writeCbor(writer);
    return out;
}

void DataPacket::writeCbor(QCborStreamWriter &w) const
{
    const int n = fieldCount();
    w.startMap(4);
    w.append(QLatin1StringView("format"));
    w.append(QLatin1StringView(packetFormatTag));
    w.append(QLatin1StringView("fields"));
    w.startArray(quint64(n));
    for (const FieldDef &f : d->fields) {
        w.startMap(4);
        w.append(QLatin1StringView("name"));
        w.appendTextString(f.name.constData(), f.name.size());
        w.append(QLatin1StringView("type"));
        w.append(QLatin1StringView(fieldTypeName(f.type)));
        w.append(QLatin1StringView("size"));
        w.append(quint64(isTextType(f.type) ? f.size : 8));
        w.append(QLatin1StringView("attrs"));
        w.append(quint64(attrsOf(f)));
        w.endMap();
    }
    w.endArray();
    w.append(QLatin1StringView("rows"));
    w.startArray();
    for (qsizetype r = 0; r < d->rows; ++r) {
        w.startArray(quint64(n));
        for (int f = 0; f < n; ++f) {
            if (d->columns[size_t(f)].text) {
                const QByteArrayView t = d->text(f, r);
                if (t.isEmpty())
                    w.appendNull();
                else
                    w.appendTextString(t.data(), t.size());
            } else {
                const double v = d->columns[size_t(f)].numberAt(r);
                if (std::isnan(v))
                    w.appendNull();
                else
                    w.append(v);
            }
        }
        w.endArray();
    }
    w.endArray();
    w.append(QLatin1StringView("count"));
    w.append(quint64(d->rows));
    w.endMap();
}

bool DataPacket::fromCbor(QByteArrayView bytes, DataPacket *out, QString *error)
{
    DataPacketReader reader;
    qsizetype consumed = 0;
    const DataPacketReader::Status st = reader.feed(bytes, &consumed);
    QString message;
    if (st == DataPacketReader::Error)
        message = reader.errorString();
    else if (st == DataPacketReader::NeedMore)
        message = QStringLiteral("Pacote de dados truncado.");
    else if (consumed != bytes.size())
        message = QStringLiteral("Bytes a mais depois do fim do pacote de dados (posição %1).").arg(consumed);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    if (out)
        *out = reader.take();
    return true;
}

QJsonObject DataPacket::toJson() const
{
    QJsonArray fields;
    for (const FieldDef &f : d->fields) {
        fields.append(QJsonObject{{"name", QString::fromUtf8(f.name)},
                                  {"type", QString::fromLatin1(fieldTypeName(f.type))},
                                  {"size", isTextType(f.type) ? f.size : 8},
                                  {"attrs", qint64(attrsOf(f))}});
    }
    QJsonArray rows;
    const int n = fieldCount();
    for (qsizetype r = 0; r < d->rows; ++r) {
        QJsonArray row;
        for (int f = 0; f < n; ++f) {
            if (d->isNull(f, r))
                row.append(QJsonValue::Null);
            else if (d->columns[size_t(f)].text)
                row.append(QString::fromUtf8(d->text(f, r)));
            else
                row.append(d->number(f, r));
        }
        rows.append(row);
    }
    return QJsonObject{{"format", QString::fromLatin1(packetFormatTag)},
                       {"fields", fields},
                       {"rows", rows},
                       {"count", qint64(d->rows)}};
}

namespace {
bool jsonFail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool isWholeNonNegative(const QJsonValue &v, qint64 max)
{
    if (!v.isDouble())
        return false;
    const double x = v.toDouble();
    return x >= 0 && x <= double(max) && x == std::floor(x);
}
} // namespace

bool DataPacket::fromJson(const QJsonObject &json, DataPacket *out, QString *error)
{
    static const QStringList keys{"count", "fields", "format", "rows"};
    if (json.keys() != keys)
        return jsonFail(error, QStringLiteral("Pacote JSON deve ter exatamente as chaves format, fields, rows e count."));
    if (json.value("format").toString() != QLatin1StringView(packetFormatTag))
        return jsonFail(error, QStringLiteral("Formato de pacote desconhecido."));
    const QJsonValue fieldsValue = json.value("fields");
    if (!fieldsValue.isArray())
        return jsonFail(error, QStringLiteral("\"fields\" deve ser uma lista."));
    QList<FieldDef> defs;
    const QJsonArray fieldsArray = fieldsValue.toArray();
    for (qsizetype i = 0; i < fieldsArray.size(); ++i) {
        const QJsonValue fv = fieldsArray.at(i);
        const QJsonObject fo = fv.toObject();
        if (!fv.isObject() || fo.size() != 4 || !fo.value("name").isString()
            || !fo.value("type").isString() || !isWholeNonNegative(fo.value("size"), 65535)
            || !isWholeNonNegative(fo.value("attrs"), 7))
            return jsonFail(error, QStringLiteral("Definição do campo %1 inválida.").arg(i + 1));
        FieldDef def;
        def.name = fo.value("name").toString().toUtf8();
        if (def.name.isEmpty())
            return jsonFail(error, QStringLiteral("Campo %1 sem nome.").arg(i + 1));
        if (!fieldTypeFromName(fo.value("type").toString().toUtf8(), &def.type))
            return jsonFail(error, QStringLiteral("Tipo desconhecido no campo \"%1\".").arg(fieldText(def)));
        def.size = fo.value("size").toInt();
        if (isTextType(def.type) && def.size < 1)
            return jsonFail(error, QStringLiteral("Tamanho inválido no campo \"%1\".").arg(fieldText(def)));
        const int attrs = fo.value("attrs").toInt();
        def.readOnly = attrs & AttrReadOnly;
        def.hidden = attrs & AttrHidden;
        def.required = attrs & AttrRequired;
        defs.append(def);
    }
    const QJsonValue rowsValue = json.value("rows");
    if (!rowsValue.isArray())
        return jsonFail(error, QStringLiteral("\"rows\" deve ser uma lista."));
    const QJsonArray rows = rowsValue.toArray();
    if (!isWholeNonNegative(json.value("count"), std::numeric_limits<qint32>::max())
        || qint64(json.value("count").toDouble()) != rows.size())
        return jsonFail(error, QStringLiteral("\"count\" não confere com o número de linhas."));

    DataPacket packet(defs);
    packet.reserve(rows.size());
    const int n = int(defs.size());
    try {
        for (qsizetype r = 0; r < rows.size(); ++r) {
            const QJsonValue rv = rows.at(r);
            const QJsonArray row = rv.toArray();
            if (!rv.isArray() || row.size() != n)
                return jsonFail(error, QStringLiteral("Linha %1 não tem %2 células.").arg(r + 1).arg(n));
            for (int f = 0; f < n; ++f) {
                const QJsonValue cell = row.at(f);
                const bool text = isTextType(defs[f].type);
                if (cell.isNull())
                    packet.appendNull();
                else if (text && cell.isString())
                    packet.appendText(cell.toString().toUtf8());
                else if (!text && cell.isDouble())
                    packet.appendNumber(cell.toDouble());
                else
                    return jsonFail(error, QStringLiteral("Linha %1, campo \"%2\": célula de tipo errado.")
                                               .arg(r + 1).arg(fieldText(defs[f])));
            }
            packet.endRow();
        }
    } catch (const DataSetError &e) {
        return jsonFail(error, e.message());
    }
    if (out)
        *out = packet;
    return true;
}

void DataPacketData::squeeze()
{
    qsizetype held = 0;
    for (PacketColumn &c : columns) {
        c.squeeze();
        held += c.memoryBytes();
    }
#ifdef __GLIBC__
    // What a large answer freed while it was read (the tails of chunks
    // trimmed to their size, the pieces of the HTTP exchange) stays with
    // glibc inside the heap, in a desktop process that may sit idle for
    // hours: give it back to the system.
    if (held > (16 << 20))
        malloc_trim(0);
#endif
}

} // namespace opd
