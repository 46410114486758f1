#pragma once
// Storage behind DataPacket, shared with ClientDataSet (which edits it in
// place). Not part of the public interface.

#include "platform/Exceptions.h"
#include "platform/FieldTypes.h"

#include <QByteArray>
#include <QList>
#include <QSharedData>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace opd {

// QByteArray::append goes through insert() and a growth helper, two calls
// into QtCore and about a hundred instructions per cell before its memcpy:
// a quarter of the decoding of an answer. While the buffer has room, the
// cell is copied straight behind its last byte (QByteArray keeps one byte
// beyond its capacity for the terminating zero, rewritten here); otherwise
// append() grows it.
inline void appendBytes(QByteArray &bytes, QByteArrayView cell)
{
    QByteArray::DataPointer &d = bytes.data_ptr();
    if (Q_LIKELY(!d.needsDetach() && d.freeSpaceAtEnd() >= cell.size())) {
        if (!cell.isEmpty()) {
            std::memcpy(d.data() + d.size, cell.data(), size_t(cell.size()));
            d.size += cell.size();
            d.data()[d.size] = '\0';
        }
        return;
    }
    bytes.append(cell);
}

// Cells are held in chunks of a fixed number of rows, so that a column of a
// large answer grows without ever moving what it already holds: a single
// contiguous buffer doubles as it grows, and for a moment holds its old and
// new copies plus the unused half (up to three times the cells). Only the
// chunk being filled has room to spare; a full chunk is trimmed to its size.
namespace chunk {
constexpr int shift = 10;
constexpr qsizetype rows = qsizetype(1) << shift;
constexpr qsizetype mask = rows - 1;
inline size_t of(qsizetype r) { return size_t(r >> shift); }
inline size_t at(qsizetype r) { return size_t(r & mask); }
} // namespace chunk

// The text cells of one chunk, back to back in `bytes`. While the chunk is
// filled, cell i spans wide[i]..wide[i+1]. A full chunk keeps no offsets at
// all when every cell has the same length (codes, dates, order numbers: an
// offset would cost as much as such a text), and 16-bit ones when its bytes
// allow; a chunk of longer texts keeps its 32-bit offsets.
struct TextChunk
{
    QByteArray bytes;
    std::vector<quint32> wide{0};
    std::vector<quint16> narrow;
    qint32 width = -1;          // >= 0: every cell has this many bytes
    quint32 widthCells = 0;     // cells of a chunk of one width

    bool isOpen() const { return width < 0 && narrow.empty(); }
    QByteArrayView cell(size_t i) const
    {
        quint32 b, e;
        if (width >= 0) {
            b = quint32(i) * quint32(width);
            e = b + quint32(width);
        } else if (!narrow.empty()) {
            b = narrow[i];
            e = narrow[i + 1];
        } else {
            b = wide[i];
            e = wide[i + 1];
        }
        return QByteArrayView(bytes.constData() + b, qsizetype(e - b));
    }
    // Back to 32-bit offsets, to take more cells or lose some.
    void open()
    {
        if (width >= 0) {
            wide.resize(size_t(widthCells) + 1);
            for (quint32 i = 0; i <= widthCells; ++i)
                wide[i] = i * quint32(width);
            width = -1;
        } else if (!narrow.empty()) {
            wide.assign(narrow.begin(), narrow.end());
            std::vector<quint16>().swap(narrow);
        }
    }
    // No spare room, and the narrowest offsets the cells allow.
    void seal()
    {
        if (isOpen()) {
            const size_t n = wide.size() - 1;
            const quint32 w = n > 0 ? wide[1] : 0;
            bool same = n > 0;
            for (size_t i = 2; same && i <= n; ++i)
                same = wide[i] - wide[i - 1] == w;
            if (same) {
                width = qint32(w);
                widthCells = quint32(n);
                std::vector<quint32>().swap(wide);
            } else if (bytes.size() <= 0xffff) {
                narrow.assign(wide.begin(), wide.end());
                std::vector<quint32>().swap(wide);
            } else {
                wide.shrink_to_fit();
            }
        }
        bytes.squeeze();
    }
    qsizetype memoryBytes() const
    {
        return qsizetype(sizeof(TextChunk)) + bytes.capacity() + qsizetype(wide.capacity() * sizeof(quint32))
            + qsizetype(narrow.capacity() * sizeof(quint16));
    }
};

// One column: text cells in text chunks (an empty text is "no value"), or
// numbers as doubles in chunks of doubles with NaN for "no value". `count`
// cells are held: the finished rows plus, while a row is built, its cells.
struct PacketColumn
{
    bool text = true;
    qsizetype count = 0;
    quint64 textBytes = 0;              // bytes of all the text chunks
    std::vector<TextChunk> texts;
    std::vector<std::vector<double>> numbers;
    // Text cells rewritten after the column was built. Rewriting the last
    // row (a row just inserted) happens in place instead.
    std::unordered_map<quint32, QByteArray> overlay;

    QByteArrayView storedText(qsizetype r) const { return texts[chunk::of(r)].cell(chunk::at(r)); }
    double &numberAt(qsizetype r) { return numbers[chunk::of(r)][chunk::at(r)]; }
    double numberAt(qsizetype r) const { return numbers[chunk::of(r)][chunk::at(r)]; }

    // Appends a text cell (empty: no value). The caller has checked the
    // column's 4 GB limit.
    void pushText(QByteArrayView utf8)
    {
        TextChunk *k;
        if (Q_UNLIKELY(chunk::at(count) == 0)) {
            k = &newTextChunk();
        } else {
            k = &texts.back();
            if (Q_UNLIKELY(!k->isOpen()))
                k->open();
        }
        appendBytes(k->bytes, utf8);
        k->wide.push_back(quint32(k->bytes.size()));
        textBytes += quint64(utf8.size());
        if (Q_UNLIKELY(chunk::at(++count) == 0))
            k->seal();
    }
    TextChunk &newTextChunk()
    {
        // Rows of one column are alike: the last chunk's size is a good
        // guess for the next one's, plus an eighth for the variation.
        const qsizetype guess = texts.empty() ? 0 : texts.back().bytes.size() + texts.back().bytes.size() / 8 + 16;
        TextChunk &k = texts.emplace_back();
        if (texts.size() > 1) {
            k.wide.reserve(size_t(chunk::rows) + 1);
            k.bytes.reserve(guess);
        }
        return k;
    }
    void pushNumber(double v)
    {
        if (Q_UNLIKELY(chunk::at(count) == 0)) {
            numbers.emplace_back();
            if (numbers.size() > 1)
                numbers.back().reserve(size_t(chunk::rows));
        }
        numbers.back().push_back(v);
        ++count;
    }

    // Keeps the first n cells.
    void truncate(qsizetype n)
    {
        if (n >= count)
            return;
        const size_t keep = size_t((n + chunk::mask) >> chunk::shift);
        if (text) {
            for (size_t i = keep; i < texts.size(); ++i)
                textBytes -= quint64(texts[i].bytes.size());
            texts.resize(keep);
            if (chunk::at(n) != 0) {
                TextChunk &k = texts.back();
                k.open();
                k.wide.resize(chunk::at(n) + 1);
                textBytes -= quint64(k.bytes.size() - qsizetype(k.wide.back()));
                k.bytes.truncate(qsizetype(k.wide.back()));
            }
        } else {
            numbers.resize(keep);
            if (chunk::at(n) != 0)
                numbers.back().resize(chunk::at(n));
        }
        count = n;
    }

    // Trims the chunk being filled.
    void squeeze()
    {
        if (!texts.empty())
            texts.back().seal();
        if (!numbers.empty())
            numbers.back().shrink_to_fit();
        texts.shrink_to_fit();
        numbers.shrink_to_fit();
    }

    qsizetype memoryBytes() const
    {
        qsizetype total = qsizetype(texts.capacity() * sizeof(TextChunk) + numbers.capacity() * sizeof(numbers[0]));
        for (const TextChunk &k : texts)
            total += k.memoryBytes() - qsizetype(sizeof(TextChunk));
        for (const std::vector<double> &n : numbers)
            total += qsizetype(n.capacity() * sizeof(double));
        for (const auto &[row, cell] : overlay)
            total += cell.capacity() + 48;
        return total;
    }
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
        return c.storedText(r);
    }
    double number(int f, qsizetype r) const
    {
        const PacketColumn &c = columns[size_t(f)];
        if (c.text)
            return 0;
        const double v = c.numberAt(r);
        return std::isnan(v) ? 0 : v;
    }
    bool isNull(int f, qsizetype r) const
    {
        const PacketColumn &c = columns[size_t(f)];
        if (c.text)
            return text(f, r).isEmpty();
        return std::isnan(c.numberAt(r));
    }

    // Building. The caller has checked the kind of the cell.
    void pushText(int f, QByteArrayView utf8)
    {
        PacketColumn &c = columns[size_t(f)];
        if (c.textBytes + quint64(utf8.size()) > std::numeric_limits<quint32>::max())
            throw DataSetError(QStringLiteral("Coluna \"%1\" excede 4 GB de texto.")
                                   .arg(QString::fromUtf8(fields[f].name)));
        c.pushText(utf8);
    }
    void pushNumber(int f, double v) { columns[size_t(f)].pushNumber(v); }

    // Drops the cells of a row that was not finished.
    void dropPartialRow()
    {
        for (PacketColumn &c : columns)
            c.truncate(rows);
        pendingCells = 0;
    }

    // Appends an empty row (every cell without a value).
    void appendEmptyRow()
    {
        for (int f = 0; f < int(columns.size()); ++f) {
            if (columns[size_t(f)].text)
                pushText(f, {});
            else
                pushNumber(f, std::numeric_limits<double>::quiet_NaN());
        }
        ++rows;
    }

    void setText(int f, qsizetype r, QByteArrayView utf8)
    {
        PacketColumn &c = columns[size_t(f)];
        if (r == rows - 1 && c.count == rows && c.overlay.find(quint32(r)) == c.overlay.end()) {
            c.truncate(r);
            pushText(f, utf8);
            return;
        }
        c.overlay[quint32(r)] = utf8.toByteArray();
    }
    void setNumber(int f, qsizetype r, double v) { columns[size_t(f)].numberAt(r) = v; }

    void squeeze();

    qsizetype memoryBytes() const
    {
        qsizetype total = 0;
        for (const PacketColumn &c : columns)
            total += c.memoryBytes();
        return total;
    }
};

} // namespace opd
