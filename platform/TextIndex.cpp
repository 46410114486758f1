#include "platform/TextIndex.h"

#include <algorithm>
#include <cstring>

namespace opd {

namespace {
std::string_view view(QByteArrayView v)
{
    return std::string_view(v.data(), size_t(v.size()));
}
} // namespace

quint32 TextIndex::hashOf(std::string_view key)
{
    const size_t h = std::hash<std::string_view>()(key);
    return quint32(h ^ (h >> 32));
}

bool TextIndex::slotHolds(const Slot &slot, quint32 hash, std::string_view key) const
{
    if (slot.state == Empty || slot.hash != hash || slot.length != key.size())
        return false;
    if (key.size() <= sizeof(slot.key))
        return key.empty() || std::memcmp(slot.key, key.data(), key.size()) == 0;   // an empty key's data may be null
    quint32 ref;
    std::memcpy(&ref, slot.key, sizeof ref);
    return m_longKeys[ref] == key;
}

const TextIndex::Slot *TextIndex::find(std::string_view key, quint32 hash) const
{
    if (m_table.empty())
        return nullptr;
    const size_t mask = m_table.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &s = m_table[i];
        if (s.state == Empty)
            return nullptr;
        if (slotHolds(s, hash, key))
            return &s;
    }
}

TextIndex::Slot *TextIndex::find(std::string_view key, quint32 hash)
{
    return const_cast<Slot *>(std::as_const(*this).find(key, hash));
}

void TextIndex::grow()
{
    std::vector<Slot> old = std::move(m_table);
    m_table.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    const size_t mask = m_table.size() - 1;
    for (const Slot &s : old) {
        if (s.state == Empty)
            continue;
        size_t i = s.hash & mask;
        while (m_table[i].state != Empty)
            i = (i + 1) & mask;
        m_table[i] = s;
    }
}

void TextIndex::build(qsizetype rows, const std::function<QByteArrayView(quint32)> &cell)
{
    m_table.clear();
    m_used = 0;
    m_rows.clear();
    m_longKeys.clear();
    m_changed.clear();
    // Pass 1: one slot per distinct value, counting its rows.
    for (qsizetype r = 0; r < rows; ++r) {
        const std::string_view key = view(cell(quint32(r)));
        const quint32 h = hashOf(key);
        if (Slot *s = find(key, h)) {
            addRow(*s, quint32(r));
            continue;
        }
        if ((m_used + 1) * 2 > m_table.size())
            grow();
        const size_t mask = m_table.size() - 1;
        size_t i = h & mask;
        while (m_table[i].state != Empty)
            i = (i + 1) & mask;
        Slot &s = m_table[i];
        s.hash = h;
        s.count = 1;
        s.start = quint32(r);
        s.spilled = 0;
        s.length = quint16(std::min<size_t>(key.size(), 0xffff));
        s.state = Frozen;
        if (key.size() <= sizeof(s.key)) {
            std::memcpy(s.key, key.data(), key.size());
        } else {
            const quint32 ref = quint32(m_longKeys.size());
            m_longKeys.emplace_back(key);
            std::memcpy(s.key, &ref, sizeof ref);
        }
        ++m_used;
    }
    // Pass 2: values whose rows are scattered get them laid out in m_rows,
    // grouped by value and ascending within a group.
    quint32 next = 0;
    for (Slot &s : m_table) {
        if (s.state == Empty || !s.spilled)
            continue;
        s.start = next;
        next += s.count;
        s.count = 0;
    }
    if (next == 0)
        return;
    m_rows.resize(next);
    for (qsizetype r = 0; r < rows; ++r) {
        const std::string_view key = view(cell(quint32(r)));
        Slot *s = find(key, hashOf(key));
        if (s->spilled)
            m_rows[s->start + s->count++] = quint32(r);
    }
}

void TextIndex::addRow(Slot &slot, quint32 row)
{
    if (!slot.spilled && row != slot.start + slot.count)
        slot.spilled = 1;
    ++slot.count;
}

void TextIndex::rowsOf(const Slot &slot, std::vector<quint32> &out) const
{
    if (slot.spilled) {
        out.insert(out.end(), m_rows.begin() + slot.start, m_rows.begin() + slot.start + slot.count);
        return;
    }
    out.reserve(out.size() + slot.count);
    for (quint32 r = slot.start, end = r + slot.count; r < end; ++r)
        out.push_back(r);
}

void TextIndex::lookup(QByteArrayView value, std::vector<quint32> &out) const
{
    const std::string_view key = view(value);
    const Slot *s = find(key, hashOf(key));
    if (s && s->state == Frozen) {
        rowsOf(*s, out);
        return;
    }
    if (m_changed.empty())
        return;
    auto it = m_changed.find(key);
    if (it != m_changed.end())
        out.insert(out.end(), it->second.begin(), it->second.end());
}

std::vector<quint32> &TextIndex::changedRows(std::string_view key)
{
    auto it = m_changed.find(key);
    if (it == m_changed.end())
        it = m_changed.emplace(std::string(key), std::vector<quint32>()).first;
    if (Slot *s = find(key, hashOf(key)); s && s->state == Frozen) {
        // The group leaves the frozen layout; its old place stays unused.
        it->second.clear();
        rowsOf(*s, it->second);
        s->state = Moved;
    }
    return it->second;
}

void TextIndex::add(QByteArrayView value, quint32 row)
{
    std::vector<quint32> &rows = changedRows(view(value));
    if (rows.empty() || rows.back() < row)
        rows.push_back(row);
    else if (auto pos = std::lower_bound(rows.begin(), rows.end(), row); pos == rows.end() || *pos != row)
        rows.insert(pos, row);
}

void TextIndex::remove(QByteArrayView value, quint32 row)
{
    std::vector<quint32> &rows = changedRows(view(value));
    auto pos = std::lower_bound(rows.begin(), rows.end(), row);
    if (pos != rows.end() && *pos == row)
        rows.erase(pos);
}

qsizetype TextIndex::memoryBytes() const
{
    qsizetype total = qsizetype(m_table.capacity() * sizeof(Slot) + m_rows.capacity() * sizeof(quint32));
    for (const std::string &k : m_longKeys)
        total += qsizetype(sizeof(std::string) + k.capacity());
    for (const auto &[k, rows] : m_changed)
        total += 96 + qsizetype(rows.capacity() * sizeof(quint32));
    return total;
}

} // namespace opd
