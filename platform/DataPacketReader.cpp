// Incremental decoder of CBOR data packets.
//
// The layout is fixed (docs/datapacket.md), so this decodes it directly
// instead of going through QCborStreamReader: that reader keeps every byte it
// was given in its own buffer (a second copy of a packet of hundreds of MB)
// and costs a call per item, while here a cell is a head check and one
// memcpy into its column. Chunks are parsed in place; only an item split
// across two chunks is copied into a small carry buffer.

#include "platform/DataPacket.h"

#include "platform/DataPacketData.h"
#include "platform/Utf8.h"

#include <QtEndian>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace opd {

void DataPacketData::squeeze()
{
    qsizetype held = 0;
    for (PacketColumn &c : columns) {
        c.bytes.squeeze();
        c.offsets.shrink_to_fit();
        c.numbers.shrink_to_fit();
        held += c.bytes.size() + qsizetype(c.offsets.size() * sizeof(quint32));
    }
#ifdef __GLIBC__
    // Growing the columns of a large answer leaves the old, smaller buffers
    // freed inside the heap, where glibc keeps them. After an answer of tens
    // of megabytes that is as much memory again, held by a desktop process
    // that may sit idle for hours: give it back to the system.
    if (held > (16 << 20))
        malloc_trim(0);
#endif
}


namespace {

constexpr int maxFields = 1024;
constexpr int maxNameBytes = 256;
constexpr int maxTextSize = 65535;     // characters of one text field

enum class Step { Ok, More, Fail };

struct Head
{
    int major = 0;
    int ai = 0;
    quint64 value = 0;
};

// Reads an item head; returns its length, 0 when more bytes are needed, -1
// when the head is malformed.
inline int readHead(const uchar *p, const uchar *end, Head &h)
{
    if (p >= end)
        return 0;
    h.major = p[0] >> 5;
    h.ai = p[0] & 0x1f;
    if (h.ai < 24) {
        h.value = quint64(h.ai);
        return 1;
    }
    int extra;
    switch (h.ai) {
    case 24: extra = 1; break;
    case 25: extra = 2; break;
    case 26: extra = 4; break;
    case 27: extra = 8; break;
    case 31: h.value = 0; return 1;   // indefinite length or break
    default: return -1;
    }
    if (end - p < 1 + extra)
        return 0;
    switch (extra) {
    case 1: h.value = p[1]; break;
    case 2: h.value = qFromBigEndian<quint16>(p + 1); break;
    case 4: h.value = qFromBigEndian<quint32>(p + 1); break;
    default: h.value = qFromBigEndian<quint64>(p + 1); break;
    }
    return 1 + extra;
}

double halfToDouble(quint16 h)
{
    const int exp = (h >> 10) & 0x1f;
    const int mant = h & 0x3ff;
    double v;
    if (exp == 0)
        v = std::ldexp(mant, -24);
    else if (exp != 31)
        v = std::ldexp(mant + 1024, exp - 25);
    else
        v = mant == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    return (h & 0x8000) ? -v : v;
}

} // namespace

struct DataPacketReader::Private
{
    enum State {
        TopMap, KeyFormat, FormatValue, KeyFields, FieldsArray, FieldMap, KeyName, NameValue,
        KeyType, TypeValue, KeySize, SizeValue, KeyAttrs, AttrsValue, KeyRows, RowsArray,
        Cells, KeyCount, CountValue, Finished
    };

    State state = TopMap;
    Status status = NeedMore;
    QString error;
    QByteArray carry;            // an item cut off at the end of the last chunk
    qint64 streamPos = 0;        // offset of the buffer being parsed in the stream
    const uchar *bufStart = nullptr;

    quint64 fieldTotal = 0;
    QList<FieldDef> defs;
    FieldDef current;
    DataPacket packet;
    DataPacketData *out = nullptr;
    int cell = 0;                // next cell of the row being read
    bool inRow = false;          // the row's head was read
    int maxItem = 9 + maxNameBytes;

    Step fail(const uchar *at, const QString &message)
    {
        error = QStringLiteral("Pacote de dados inválido (posição %1): %2")
                    .arg(streamPos + (at - bufStart)).arg(message);
        status = Error;
        return Step::Fail;
    }

    // A definite text string of at most maxBytes bytes.
    Step text(const uchar *&p, const uchar *end, int maxBytes, QByteArrayView *value, const char *what)
    {
        Head h;
        const int n = readHead(p, end, h);
        if (n == 0)
            return Step::More;
        if (n < 0 || h.major != 3 || h.ai == 31)
            return fail(p, QStringLiteral("esperado texto para %1.").arg(QLatin1StringView(what)));
        if (h.value > quint64(maxBytes))
            return fail(p, QStringLiteral("texto longo demais para %1.").arg(QLatin1StringView(what)));
        if (quint64(end - p - n) < h.value)
            return Step::More;
        *value = QByteArrayView(reinterpret_cast<const char *>(p + n), qsizetype(h.value));
        p += n + qsizetype(h.value);
        return Step::Ok;
    }

    Step key(const uchar *&p, const uchar *end, const char *name)
    {
        const uchar *at = p;
        QByteArrayView k;
        const Step s = text(p, end, 16, &k, "chave");
        if (s != Step::Ok)
            return s;
        if (k != QByteArrayView(name)) {
            p = at;
            return fail(at, QStringLiteral("esperada a chave \"%1\".").arg(QLatin1StringView(name)));
        }
        return Step::Ok;
    }

    Step unsignedValue(const uchar *&p, const uchar *end, quint64 max, quint64 *value, const char *what)
    {
        Head h;
        const int n = readHead(p, end, h);
        if (n == 0)
            return Step::More;
        if (n < 0 || h.major != 0 || h.ai == 31 || h.value > max)
            return fail(p, QStringLiteral("valor inválido para %1.").arg(QLatin1StringView(what)));
        *value = h.value;
        p += n;
        return Step::Ok;
    }

    Step containerHead(const uchar *&p, const uchar *end, int major, Head *h)
    {
        const int n = readHead(p, end, *h);
        if (n == 0)
            return Step::More;
        if (n < 0 || h->major != major)
            return Step::Fail;
        p += n;
        return Step::Ok;
    }

    Step cells(const uchar *&p, const uchar *end);
    Status run(const uchar *&p, const uchar *end);
};

Step DataPacketReader::Private::cells(const uchar *&p, const uchar *end)
{
    const int n = int(defs.size());
    for (;;) {
        if (!inRow) {
            if (p >= end)
                return Step::More;
            if (*p == 0xff) {      // end of the rows
                ++p;
                state = KeyCount;
                return Step::Ok;
            }
            Head h;
            const int hn = readHead(p, end, h);
            if (hn == 0)
                return Step::More;
            if (hn < 0 || h.major != 4 || h.ai == 31)
                return fail(p, QStringLiteral("linha %1 não é uma lista.").arg(out->rows + 1));
            if (h.value != quint64(n))
                return fail(p, QStringLiteral("linha %1 tem %2 células, esperadas %3.")
                                   .arg(out->rows + 1).arg(h.value).arg(n));
            p += hn;
            inRow = true;
        }
        while (cell < n) {
            if (p >= end)
                return Step::More;
            const FieldDef &def = defs[cell];
            PacketColumn &col = out->columns[size_t(cell)];
            const uchar b = *p;
            if (b == 0xf6) {           // null
                if (col.text)
                    col.offsets.push_back(col.offsets.back());
                else
                    col.numbers.push_back(std::numeric_limits<double>::quiet_NaN());
                ++p;
            } else if (col.text) {
                Head h;
                const int hn = readHead(p, end, h);
                if (hn == 0)
                    return Step::More;
                if (hn < 0 || h.major != 3 || h.ai == 31)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": esperado texto.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                if (h.value > quint64(def.size) * 4)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto excede %3 caracteres.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)).arg(def.size));
                if (quint64(end - p - hn) < h.value)
                    return Step::More;
                const QByteArrayView t(reinterpret_cast<const char *>(p + hn), qsizetype(h.value));
                const qsizetype chars = utf8::countChars(t);
                if (chars < 0)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto não é UTF-8 válido.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                if (chars > def.size)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto excede %3 caracteres.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)).arg(def.size));
                if (quint64(col.bytes.size()) + h.value > std::numeric_limits<quint32>::max())
                    return fail(p, QStringLiteral("coluna \"%1\" excede 4 GB.").arg(QString::fromUtf8(def.name)));
                col.bytes.append(t.data(), t.size());
                col.offsets.push_back(quint32(col.bytes.size()));
                p += hn + qsizetype(h.value);
            } else {
                Head h;
                const int hn = readHead(p, end, h);
                if (hn == 0)
                    return Step::More;
                double v;
                if (hn > 0 && h.major == 0 && h.ai != 31) {
                    v = double(h.value);
                } else if (hn > 0 && h.major == 1 && h.ai != 31) {
                    v = -1.0 - double(h.value);
                } else if (hn > 0 && h.major == 7 && h.ai == 25) {
                    v = halfToDouble(quint16(h.value));
                } else if (hn > 0 && h.major == 7 && h.ai == 26) {
                    float f;
                    const quint32 bits = quint32(h.value);
                    std::memcpy(&f, &bits, 4);
                    v = f;
                } else if (hn > 0 && h.major == 7 && h.ai == 27) {
                    std::memcpy(&v, &h.value, 8);
                } else {
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": esperado número.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                }
                col.numbers.push_back(v);
                p += hn;
            }
            ++cell;
        }
        cell = 0;
        inRow = false;
        ++out->rows;
    }
}

DataPacketReader::Status DataPacketReader::Private::run(const uchar *&p, const uchar *end)
{
    for (;;) {
        Step s = Step::Ok;
        Head h;
        QByteArrayView t;
        quint64 v = 0;
        switch (state) {
        case TopMap:
            s = containerHead(p, end, 5, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.ai == 31 || h.value != 4)))
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
                if (t != QByteArrayView("opd-packet/1"))
                    return fail(p, QStringLiteral("formato desconhecido.")), Error;
                state = KeyFields;
            }
            break;
        case KeyFields:
            if ((s = key(p, end, "fields")) == Step::Ok)
                state = FieldsArray;
            break;
        case FieldsArray:
            s = containerHead(p, end, 4, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.ai == 31 || h.value > quint64(maxFields))))
                return fail(p, QStringLiteral("\"fields\" deve ser uma lista de até %1 campos.").arg(maxFields)), Error;
            if (s == Step::Ok) {
                fieldTotal = h.value;
                state = fieldTotal ? FieldMap : KeyRows;
            }
            break;
        case FieldMap:
            s = containerHead(p, end, 5, &h);
            if (s == Step::Fail || (s == Step::Ok && (h.ai == 31 || h.value != 4)))
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
                if (t.isEmpty() || utf8::countChars(t) < 0)
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
            s = containerHead(p, end, 4, &h);
            if (s == Step::Fail || (s == Step::Ok && h.ai != 31))
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
        used = parsed - carried;
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
