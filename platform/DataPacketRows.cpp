// The rows of a data packet: each cell is a head check and one copy into its
// column. This is where nearly all of a large packet's bytes are read.

#include "platform/DataPacketReaderPrivate.h"

#include <limits>

namespace opd {

Step DataPacketReader::Private::cells(const uchar *&p, const uchar *end)
{
    const int n = int(defs.size());
    for (;;) {
        if (!inRow) {
            if (p >= end)
                return Step::More;
            if (*p == cbor::BreakByte) {      // end of the rows
                ++p;
                state = KeyCount;
                return Step::Ok;
            }
            cbor::Head h;
            const int hn = cbor::readHead(p, end, h);
            if (hn == 0)
                return Step::More;
            if (hn < 0 || h.major != cbor::Array || h.indefinite)
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
            if (*p == cbor::NullByte) {
                if (col.text) {
                    col.pushText({});
                } else {
                    col.pushNumber(std::numeric_limits<double>::quiet_NaN());
                }
                ++p;
            } else if (col.text) {
                cbor::Head h;
                const int hn = cbor::readHead(p, end, h);
                if (hn == 0)
                    return Step::More;
                if (hn < 0 || h.major != cbor::Text || h.indefinite)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": esperado texto.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                // Each character takes at most four bytes: a longer text is
                // refused before its bytes are awaited.
                if (h.value > quint64(def.size) * 4)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto excede %3 caracteres.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)).arg(def.size));
                if (!cbor::hasPayload(p, end, hn, h.value))
                    return Step::More;
                const QByteArrayView t(reinterpret_cast<const char *>(p + hn), qsizetype(h.value));
                const qsizetype chars = cbor::textChars(t);
                if (chars < 0)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto não é UTF-8 válido.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                if (chars > def.size)
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": texto excede %3 caracteres.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)).arg(def.size));
                if (col.textBytes + h.value > std::numeric_limits<quint32>::max())
                    return fail(p, QStringLiteral("coluna \"%1\" excede 4 GB.").arg(QString::fromUtf8(def.name)));
                col.pushText(t);
                p += hn + qsizetype(h.value);
            } else {
                cbor::Head h;
                const int hn = cbor::readHead(p, end, h);
                if (hn == 0)
                    return Step::More;
                double v;
                if (hn > 0 && h.major == cbor::Unsigned)
                    v = double(h.value);
                else if (hn > 0 && h.major == cbor::Negative)
                    v = -1.0 - double(h.value);
                else if (hn < 0 || !cbor::floatValue(h, &v))
                    return fail(p, QStringLiteral("linha %1, campo \"%2\": esperado número.")
                                       .arg(out->rows + 1).arg(QString::fromUtf8(def.name)));
                col.pushNumber(v);
                p += hn;
            }
            ++cell;
        }
        cell = 0;
        inRow = false;
        ++out->rows;
    }
}

} // namespace opd
