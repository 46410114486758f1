#pragma once
// Storage behind DataPacket, shared with ClientDataSet (which edits it in
// place). Not part of the public interface.

#include "platform/Exceptions.h"
#include "platform/FieldTypes.h"

#include <QByteArray>
#include <QList>
#include <QSharedData>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

namespace opd {

// One column. Text cells lie back to back in `bytes`; cell r spans
// offsets[r]..offsets[r+1]. An empty text is "no value". Number cells are
// doubles with NaN for "no value".
struct PacketColumn
{
    bool text = true;
    QByteArray bytes;
    std::vector<quint32> offsets{0};
    std::vector<double> numbers;
    // Text cells rewritten after the column was built. Rewriting the last
    // row (a row just inserted) happens in place instead.
    std::unordered_map<quint32, QByteArray> overlay;
};

class DataPacketData : public QSharedData
{
public:
    QList<FieldDef> fields;
    std::vector<PacketColumn> columns;
    qsizetype rows = 0;
    int pendingCells = 0;   // cells appended to the row being built

    void setFields(QList<FieldDef> defs)
    {
        fields = std::move(defs);
        columns.clear();
        columns.resize(size_t(fields.size()));
        for (int i = 0; i < fields.size(); ++i)
            columns[size_t(i)].text = isTextType(fields[i].type);
        rows = 0;
        pendingCells = 0;
    }

    QByteArrayView text(int f, qsizetype r) const
    {
        const PacketColumn &c = columns[size_t(f)];
        if (!c.text)
            return {};
        if (!c.overlay.empty()) {
            auto it = c.overlay.find(quint32(r));
            if (it != c.overlay.end())
                return it->second;
        }
        const quint32 b = c.offsets[size_t(r)];
        return QByteArrayView(c.bytes.constData() + b, qsizetype(c.offsets[size_t(r) + 1] - b));
    }
    double number(int f, qsizetype r) const
    {
        const PacketColumn &c = columns[size_t(f)];
        if (c.text)
            return 0;
        const double v = c.numbers[size_t(r)];
        return std::isnan(v) ? 0 : v;
    }
    bool isNull(int f, qsizetype r) const
    {
        const PacketColumn &c = columns[size_t(f)];
        if (c.text)
            return text(f, r).isEmpty();
        return std::isnan(c.numbers[size_t(r)]);
    }

    // Building. The caller has checked the kind of the cell.
    void pushText(int f, QByteArrayView utf8)
    {
        PacketColumn &c = columns[size_t(f)];
        if (quint64(c.bytes.size()) + quint64(utf8.size()) > std::numeric_limits<quint32>::max())
            throw DataSetError(QStringLiteral("Coluna \"%1\" excede 4 GB de texto.")
                                   .arg(QString::fromUtf8(fields[f].name)));
        c.bytes.append(utf8.data(), utf8.size());
        c.offsets.push_back(quint32(c.bytes.size()));
    }
    void pushNumber(int f, double v) { columns[size_t(f)].numbers.push_back(v); }

    // Drops the cells of a row that was not finished.
    void dropPartialRow()
    {
        for (PacketColumn &c : columns) {
            if (c.text) {
                c.offsets.resize(size_t(rows) + 1);
                c.bytes.truncate(qsizetype(c.offsets.back()));
            } else {
                c.numbers.resize(size_t(rows));
            }
        }
        pendingCells = 0;
    }

    // Appends an empty row (every cell without a value).
    void appendEmptyRow()
    {
        for (PacketColumn &c : columns) {
            if (c.text)
                c.offsets.push_back(c.offsets.back());
            else
                c.numbers.push_back(std::numeric_limits<double>::quiet_NaN());
        }
        ++rows;
    }

    void setText(int f, qsizetype r, QByteArrayView utf8)
    {
        PacketColumn &c = columns[size_t(f)];
        if (r == rows - 1 && c.overlay.find(quint32(r)) == c.overlay.end()) {
            c.bytes.truncate(qsizetype(c.offsets[size_t(r)]));
            c.offsets.pop_back();
            pushText(f, utf8);
            return;
        }
        c.overlay[quint32(r)] = utf8.toByteArray();
    }
    void setNumber(int f, qsizetype r, double v) { columns[size_t(f)].numbers[size_t(r)] = v; }

    void squeeze();

    qsizetype memoryBytes() const
    {
        qsizetype total = 0;
        for (const PacketColumn &c : columns) {
            total += c.bytes.capacity() + qsizetype(c.offsets.capacity() * sizeof(quint32))
                + qsizetype(c.numbers.capacity() * sizeof(double));
            for (const auto &[row, cell] : c.overlay)
                total += cell.capacity() + 48;
        }
        return total;
    }
};

} // namespace opd
