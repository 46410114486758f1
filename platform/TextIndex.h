#pragma once
// Rows of one text column grouped by value, for filters of the form
// FIELD = 'text'. Internal to ClientDataSet.
//
// Built once over the loaded rows into a flat open-addressing table of
// half-cache-line slots. A slot holds a short key inline and, when the rows
// of that value are consecutive (items arrive grouped by order), just the
// first row and the count: a lookup then touches one cache line whatever the
// row count, and a million items grouped in 100,000 orders cost 8 MB. Other
// groups keep their rows in one shared array. Groups changed after loading
// move to an ordinary hash map.

#include <QByteArrayView>
#include <QtGlobal>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace opd {

class TextIndex
{
public:
    // Indexes rows 0..rows-1; cell(r) gives the text of row r.
    void build(qsizetype rows, const std::function<QByteArrayView(quint32)> &cell);
    // Rows holding `value`, ascending physical numbers (deleted rows included:
    // the caller skips them).
    void lookup(QByteArrayView value, std::vector<quint32> &out) const;
    void add(QByteArrayView value, quint32 row);
    void remove(QByteArrayView value, quint32 row);
    qsizetype memoryBytes() const;

private:
    struct alignas(32) Slot
    {
        quint32 hash;
        quint32 count;
        quint32 start;     // first row of the group, or into m_rows when spilled
        quint16 length;    // key bytes
        quint8 state;      // Empty, Frozen (rows here or in m_rows), Moved (rows in m_changed)
        quint8 spilled;    // the rows are not consecutive: they are in m_rows
        char key[16];      // inline when length <= 16, else an index into m_longKeys
    };
    static_assert(sizeof(Slot) == 32);
    enum : quint8 { Empty = 0, Frozen = 1, Moved = 2 };

    static void addRow(Slot &slot, quint32 row);
    void rowsOf(const Slot &slot, std::vector<quint32> &out) const;

    struct Hash
    {
        using is_transparent = void;
        size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
    };

    static quint32 hashOf(std::string_view key);
    bool slotHolds(const Slot &slot, quint32 hash, std::string_view key) const;
    Slot *find(std::string_view key, quint32 hash);
    const Slot *find(std::string_view key, quint32 hash) const;
    void grow();
    std::vector<quint32> &changedRows(std::string_view key);

    std::vector<Slot> m_table;         // power-of-two size, at most half full
    size_t m_used = 0;
    std::vector<quint32> m_rows;
    std::vector<std::string> m_longKeys;
    std::unordered_map<std::string, std::vector<quint32>, Hash, std::equal_to<>> m_changed;
};

} // namespace opd
