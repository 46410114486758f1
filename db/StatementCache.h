#pragma once
// Idle prepared statements of one connection, keyed by their SQL text.
//
// prepare() takes a statement out of the cache (or makes one) and the
// statement's destructor puts it back, so a service that prepares the same
// text on every call parses and plans it once per connection. Two live
// statements of the same text are two entries. The least recently returned
// entries beyond the capacity are released: the search assembles its SQL
// from optional fragments, and a clerk's odd filters must not grow the
// connection without end.
//
// The cache outlives its database when a statement does (closed(): the
// statement then releases itself instead of coming back).

#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace opd::db {

template <class Handle>
class StatementCache
{
public:
    using Release = std::function<void(Handle &)>;

    StatementCache(size_t capacity, Release release) : m_capacity(capacity), m_release(std::move(release)) {}
    ~StatementCache() { close(); }
    StatementCache(const StatementCache &) = delete;
    StatementCache &operator=(const StatementCache &) = delete;

    std::optional<Handle> take(const std::string &sql)
    {
        const auto it = m_index.find(sql);
        if (it == m_index.end())
            return std::nullopt;
        Handle handle = std::move(it->second->second);
        m_lru.erase(it->second);
        m_index.erase(it);
        return handle;
    }

    void put(const std::string &sql, Handle handle)
    {
        if (m_closed) {
            m_release(handle);
            return;
        }
        m_lru.emplace_front(sql, std::move(handle));
        m_index.emplace(sql, m_lru.begin());
        while (m_lru.size() > m_capacity) {
            auto last = std::prev(m_lru.end());
            const auto range = m_index.equal_range(last->first);
            for (auto i = range.first; i != range.second; ++i) {
                if (i->second == last) {
                    m_index.erase(i);
                    break;
                }
            }
            Handle evicted = std::move(last->second);
            m_lru.erase(last);
            m_release(evicted);
        }
    }

    // Releases every idle statement; later returns release themselves.
    void close()
    {
        for (auto &entry : m_lru)
            m_release(entry.second);
        m_lru.clear();
        m_index.clear();
        m_closed = true;
    }
    bool closed() const { return m_closed; }
    size_t size() const { return m_lru.size(); }

private:
    using Entry = std::pair<std::string, Handle>;
    size_t m_capacity;
    Release m_release;
    std::list<Entry> m_lru;   // most recently returned first
    std::unordered_multimap<std::string, typename std::list<Entry>::iterator> m_index;
    bool m_closed = false;
};

} // namespace opd::db
