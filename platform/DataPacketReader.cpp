// Incremental decoder of CBOR data packets: the packet's outline (format,
// fields, the rows' frame, the count) and the feeding of chunks. The rows
// themselves are read in DataPacketRows.cpp.
//
// The layout is fixed (docs/datapacket.md), so this decodes it directly
// instead of going through QCborStreamReader: that reader keeps every byte it
// was given in its own buffer (a second copy of a packet of hundreds of MB)
// and costs a call per item, while here a cell is a head check and one
// memcpy into its column. Chunks are parsed in place; only an item split
// across two chunks is copied into a small carry buffer.

#include "platform/DataPacketReaderPrivate.h"

#include <limits>

namespace opd {

using namespace packetlimits;

Step DataPacketReader::Private::fail(const uchar *at, const QString &message)
{
    error = QStringLiteral("Pacote de dados inválido (posição %1): %2")
                .arg(streamPos + (at - bufStart)).arg(message);
    status = Error;
    return Step::Fail;
}

Step DataPacketReader::Private::text(const uchar *&p, const uchar *end, int maxBytes, QByteArrayView *value,
                                     const char *what)
{
    cbor::Head h;
    const int n = cbor::readHead(p, end, h);
    if (n == 0)
        return Step::More;
    if (n < 0 || h.major != cbor::Text || h.indefinite)
        return fail(p, QStringLiteral("esperado texto para %1.").arg(QLatin1StringView(what)));
    if (h.value > quint64(maxBytes))
        return fail(p, QStringLiteral("texto longo demais para %1.").arg(QLatin1StringView(what)));
    if (!cbor::hasPayload(p, end, n, h.value))
        return Step::More;
    *value = QByteArrayView(reinterpret_cast<const char *>(p + n), qsizetype(h.value));
    p += n + qsizetype(h.value);
    return Step::Ok;
}

Step DataPacketReader::Private::key(const uchar *&p, const uchar *end, const char *name)
{
    const uchar *at = p;
    QByteArrayView k;
    const Step s = text(p, end, maxKeyBytes, &k, "chave");
    if (s != Step::Ok)
        return s;
    if (k != QByteArrayView(name)) {
        p = at;
        return fail(at, QStringLiteral("esperada a chave \"%1\".").arg(QLatin1StringView(name)));
    }
    return Step::Ok;
}

Step DataPacketReader::Private::unsignedValue(const uchar *&p, const uchar *end, quint64 max, quint64 *value,
                                              const char *what)
{
    cbor::Head h;
    const int n = cbor::readHead(p, end, h);
    if (n == 0)
        return Step::More;
    if (n < 0 || h.major != cbor::Unsigned || h.value > max)
        return fail(p, QStringLiteral("valor inválido para %1.").arg(QLatin1StringView(what)));
    *value = h.value;
    p += n;
    return Step::Ok;
}

Step DataPacketReader::Private::containerHead(const uchar *&p, const uchar *end, int major, cbor::Head *h)
{
    const int n = cbor::readHead(p, end, *h);
    if (n == 0)
        return Step::More;
    if (n < 0 || h->major != major)
        return Step::Fail;
    p += n;
    return Step::Ok;
}

DataPacketReader::Status DataPacketReader::Private::run(const uchar *&p, const uchar *end)
{
    for (;;) {
        Step s = Step::Ok;
        cbor::Head h;
        QByteArrayView t;
        quint64 v = 0;
        switch (state) {
        case TopMap:
            s = containerHead(p, end, cbor::Map, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.indefinite || h.value != 4)))
                return fail(p, QStringLiteral("o pacote deve ser um mapa de 4 entradas.")), Error;
            if (s == Step::Ok)
                state = KeyFormat;
            break;
        case KeyFormat:
            if ((s = key(p, end, "format")) == Step::Ok)
                state = FormatValue;
            break;
        case FormatValue:
            if ((s = text(p, end, 64, &t, "format")) == Step::Ok) {
                if (t != QByteArrayView(packetFormatTag))
                    return fail(p, QStringLiteral("formato desconhecido.")), Error;
                state = KeyFields;
            }
            break;
        case KeyFields:
            if ((s = key(p, end, "fields")) == Step::Ok)
                state = FieldsArray;
            break;
        case FieldsArray:
            s = containerHead(p, end, cbor::Array, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.indefinite || h.value > quint64(maxFields))))
                return fail(p, QStringLiteral("\"fields\" deve ser uma lista de até %1 campos.").arg(maxFields)), Error;
            if (s == Step::Ok) {
                fieldTotal = h.value;
                state = fieldTotal ? FieldMap : KeyRows;
            }
            break;
        case FieldMap:
            s = containerHead(p, end, cbor::Map, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.indefinite || h.value != 4)))
                return fail(p, QStringLiteral("campo %1: esperado mapa de 4 entradas.").arg(defs.size() + 1)), Error;
            if (s == Step::Ok) {
                current = FieldDef();
                state = KeyName;
            }
            break;
        case KeyName:
            if ((s = key(p, end, "name")) == Step::Ok)
                state = NameValue;
            break;
        case NameValue:
            if ((s = text(p, end, maxNameBytes, &t, "name")) == Step::Ok) {
                if (t.isEmpty() || cbor::textChars(t) < 0)
                    return fail(p, QStringLiteral("campo %1 sem nome válido.").arg(defs.size() + 1)), Error;
                for (const FieldDef &f : defs)
                    if (f.name == t)
                        return fail(p, QStringLiteral("campo \"%1\" repetido.").arg(QString::fromUtf8(t))), Error;
                current.name = t.toByteArray();
                state = KeyType;
            }
            break;
        case KeyType:
            if ((s = key(p, end, "type")) == Step::Ok)
                state = TypeValue;
            break;
        case TypeValue:
            if ((s = text(p, end, 16, &t, "type")) == Step::Ok) {
                if (!fieldTypeFromName(t, &current.type))
                    return fail(p, QStringLiteral("tipo desconhecido no campo \"%1\".")
                                       .arg(QString::fromUtf8(current.name))), Error;
                state = KeySize;
            }
            break;
        case KeySize:
            if ((s = key(p, end, "size")) == Step::Ok)
                state = SizeValue;
            break;
        case SizeValue:
            if ((s = unsignedValue(p, end, maxTextSize, &v, "size")) == Step::Ok) {
                if (isTextType(current.type) && v == 0)
                    return fail(p, QStringLiteral("tamanho zero no campo \"%1\".")
                                       .arg(QString::fromUtf8(current.name))), Error;
                current.size = int(v);
                state = KeyAttrs;
            }
            break;
        case KeyAttrs:
            if ((s = key(p, end, "attrs")) == Step::Ok)
                state = AttrsValue;
            break;
        case AttrsValue:
            if ((s = unsignedValue(p, end, 7, &v, "attrs")) == Step::Ok) {
                current.readOnly = v & AttrReadOnly;
                current.hidden = v & AttrHidden;
                current.required = v & AttrRequired;
                if (isTextType(current.type))
                    maxItem = std::max(maxItem, 9 + 4 * current.size);
                defs.append(current);
                state = quint64(defs.size()) < fieldTotal ? FieldMap : KeyRows;
            }
            break;
        case KeyRows:
            if ((s = key(p, end, "rows")) == Step::Ok) {
                packet = DataPacket(defs);
                out = packet.d_func();
                state = RowsArray;
            }
            break;
        case RowsArray:
            s = containerHead(p, end, cbor::Array, &h);
            if (s == Step::Fail || (s == Step::Ok && !h.indefinite))
                return fail(p, QStringLiteral("\"rows\" deve ser uma lista indefinida.")), Error;
            if (s == Step::Ok)
                state = Cells;
            break;
        case Cells:
            s = cells(p, end);
            break;
        case KeyCount:
            if ((s = key(p, end, "count")) == Step::Ok)
                state = CountValue;
            break;
        case CountValue:
            if ((s = unsignedValue(p, end, std::numeric_limits<quint64>::max(), &v, "count")) == Step::Ok) {
                if (v != quint64(out->rows))
                    return fail(p, QStringLiteral("\"count\" diz %1 linhas, lidas %2.").arg(v).arg(out->rows)), Error;
                out->squeeze();
                state = Finished;
                return Done;
            }
            break;
        case Finished:
            return Done;
        }
        if (s == Step::Fail)
            return Error;
        if (s == Step::More)
            return NeedMore;
    }
}

DataPacketReader::DataPacketReader() : p(new Private) {}
DataPacketReader::~DataPacketReader() = default;

DataPacketReader::Status DataPacketReader::feed(QByteArrayView data, qsizetype *consumed)
{
    qsizetype used = 0;
    if (consumed)
        *consumed = 0;
    if (p->status != NeedMore)
        return p->status;
    const auto *in = reinterpret_cast<const uchar *>(data.data());
    const qsizetype inLen = data.size();

    if (!p->carry.isEmpty()) {
        // Finish the item that was cut off, from the carry plus the head of this chunk.
        const qsizetype carried = p->carry.size();
        const qsizetype take = std::min<qsizetype>(inLen, p->maxItem);
        QByteArray joined = p->carry;
        joined.append(data.first(take));
        const auto *q = reinterpret_cast<const uchar *>(joined.constData());
        const uchar *qEnd = q + joined.size();
        p->bufStart = q;
        p->streamPos -= carried;
        p->status = p->run(q, qEnd);
        const qsizetype parsed = q - reinterpret_cast<const uchar *>(joined.constData());
        if (p->status == NeedMore && parsed < carried) {
            p->carry = joined;
            p->streamPos += joined.size();
            if (take < inLen) {
                // Cannot happen for a well-formed packet: heads are checked
                // against their limits before their payload is awaited.
                p->error = QStringLiteral("Pacote de dados inválido: item longo demais.");
                p->status = Error;
                return Error;
            }
            if (consumed)
                *consumed = inLen;
            return NeedMore;
        }
        // An item refused inside the carry was taken from an earlier chunk:
        // none of this one was used.
        used = std::max<qsizetype>(parsed - carried, 0);
        p->streamPos += parsed;
        p->carry.clear();
        if (p->status != NeedMore) {
            if (consumed)
                *consumed = used;
            return p->status;
        }
    }

    const uchar *q = in + used;
    p->bufStart = q;
    p->status = p->run(q, in + inLen);
    const qsizetype stop = q - in;
    p->streamPos += stop - used;
    if (p->status == NeedMore) {
        p->carry = QByteArray(reinterpret_cast<const char *>(q), inLen - stop);
        p->streamPos += inLen - stop;
        used = inLen;
    } else {
        used = stop;
    }
    if (consumed)
        *consumed = used;
    return p->status;
}

DataPacket DataPacketReader::take()
{
    if (p->status != Done)
        return DataPacket();
    DataPacket result = p->packet;
    p->packet = DataPacket();
    p->out = nullptr;
    return result;
}

QString DataPacketReader::errorString() const
{
    return p->error;
}

} // namespace opd
