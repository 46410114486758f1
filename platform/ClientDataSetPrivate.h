#pragma once
// Private data of ClientDataSet, shared by its implementation files.

#include "platform/ClientDataSet.h"
#include "platform/DataPacketData.h"
#include "platform/Exceptions.h"
#include "platform/TextIndex.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace opd {

// An index on one text field of the data set.
struct FieldIndex
{
    int field = -1;
    TextIndex rows;
};

struct EditCell
{
    QByteArray text;
    double number = std::numeric_limits<double>::quiet_NaN();
};

// The live rows in order (physical numbers). After loading they are simply
// 0..n-1, and nothing is stored until a row is inserted before the end or
// taken out: a million rows would cost 4 MB for the list alone.
class RowOrder
{
public:
    void reset(qsizetype n)
    {
        std::vector<quint32>().swap(m_list);
        m_count = size_t(n);
        m_identity = true;
    }
    size_t size() const { return m_identity ? m_count : m_list.size(); }
    quint32 operator[](size_t i) const { return m_identity ? quint32(i) : m_list[i]; }
    void insert(size_t pos, quint32 row)
    {
        if (m_identity && pos == m_count && row == m_count) {
            ++m_count;
            return;
        }
        writeOut();
        m_list.insert(m_list.begin() + qsizetype(pos), row);
    }
    void erase(size_t pos)
    {
        writeOut();
        m_list.erase(m_list.begin() + qsizetype(pos));
    }
    // Position of a physical row, -1 when it is not live; `ordered` says
    // the rows ascend.
    int find(quint32 physRow, bool ordered) const
    {
        if (m_identity)
            return physRow < m_count ? int(physRow) : -1;
        if (ordered) {
            auto it = std::lower_bound(m_list.begin(), m_list.end(), physRow);
            return it != m_list.end() && *it == physRow ? int(it - m_list.begin()) : -1;
        }
        auto it = std::find(m_list.begin(), m_list.end(), physRow);
        return it != m_list.end() ? int(it - m_list.begin()) : -1;
    }
    qsizetype memoryBytes() const { return qsizetype(m_list.capacity() * sizeof(quint32)); }

private:
    void writeOut()
    {
        if (!m_identity)
            return;
        m_list.resize(m_count);
        std::iota(m_list.begin(), m_list.end(), 0u);
        m_identity = false;
    }

    std::vector<quint32> m_list;
    size_t m_count = 0;
    bool m_identity = true;
};

struct ClientDataSet::Private
{
    ClientDataSet *q;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<int> column;          // data set field -> packet column
    DataPacket packet;
    bool hasPacket = false;

    RowOrder rows;                    // live rows, in order (physical numbers)
    std::vector<char> dead;           // per physical row, once one was taken out
    qsizetype deadCount = 0;          // while 0, lookups need not read `dead`
    bool ordered = true;              // rows ascending (no insert before the end)

    QList<QByteArray> indexNames;
    std::vector<FieldIndex> indexes;

    QString filterText;
    QByteArray filterName;
    QByteArray filterValue;
    bool filtered = false;
    bool filterOn = false;            // filtered with an expression: `view` is in use
    std::vector<quint32> view;

    ClientDataSet::State state = ClientDataSet::State::Inactive;
    int cur = -1;
    bool bofFlag = true, eofFlag = true;
    std::vector<EditCell> buffer;     // current row while editing or inserting
    int returnRow = -1;               // where a cancelled insert puts the cursor back

    explicit Private(ClientDataSet *owner) : q(owner) {}

    DataPacketData *store() { return packet.d_func(); }
    const DataPacketData *store() const { return packet.d_func(); }
    int count() const { return int(filterOn ? view.size() : rows.size()); }
    quint32 phys(int row) const { return filterOn ? view[size_t(row)] : rows[size_t(row)]; }
    bool editing() const { return state == State::Edit || state == State::Insert; }

    void setState(State s)
    {
        if (state == s)
            return;
        state = s;
        emit q->stateChanged(s);
    }

    void requireActive(const char *operation) const
    {
        if (state == State::Inactive)
            throw DataSetError(QStringLiteral("Operação \"%1\" com o conjunto de dados fechado.")
                                   .arg(QLatin1StringView(operation)));
    }

    QByteArrayView storedText(int field, quint32 row) const { return store()->text(column[size_t(field)], row); }
    double storedNumberRaw(int field, quint32 row) const
    {
        return store()->columns[size_t(column[size_t(field)])].numberAt(row);
    }

    FieldIndex *indexFor(int field)
    {
        for (FieldIndex &ix : indexes)
            if (ix.field == field)
                return &ix;
        return nullptr;
    }

    int logicalOf(quint32 physRow) const
    {
        return rows.find(physRow, ordered);
    }

    bool matchesFilter(int field, quint32 row) const { return storedText(field, row) == filterValue; }

    // Works out the visible rows for the current filter, without touching
    // the data set; throws before anything changes.
    std::vector<quint32> computeView(int field) const
    {
        std::vector<quint32> result;
        const FieldIndex *ix = nullptr;
        for (const FieldIndex &i : indexes)
            if (i.field == field)
                ix = &i;
        if (ix) {
            ix->rows.lookup(filterValue, result);
            if (deadCount > 0)
                result.erase(std::remove_if(result.begin(), result.end(), [this](quint32 r) { return dead[r] != 0; }),
                             result.end());
            if (!ordered && result.size() > 1) {
                // Inserted rows broke physical order: order by position.
                std::vector<std::pair<int, quint32>> keyed;
                keyed.reserve(result.size());
                for (quint32 r : result)
                    keyed.emplace_back(logicalOf(r), r);
                std::sort(keyed.begin(), keyed.end());
                for (size_t i = 0; i < keyed.size(); ++i)
                    result[i] = keyed[i].second;
            }
        } else {
            for (size_t i = 0, n = rows.size(); i < n; ++i)
                if (matchesFilter(field, rows[i]))
                    result.push_back(rows[i]);
        }
        return result;
    }

    int filterField() const
    {
        const int f = q->findField(filterName) ? q->findField(filterName)->index() : -1;
        if (f < 0)
            throw DataSetError(QStringLiteral("Filtro: campo \"%1\" não encontrado.")
                                   .arg(QString::fromUtf8(filterName)));
        if (!isTextType(fields[size_t(f)]->dataType()))
            throw DataSetError(QStringLiteral("Filtro: o campo \"%1\" não é texto.")
                                   .arg(QString::fromUtf8(filterName)));
        return f;
    }

    // Re-applies filter settings and puts the cursor on the first row.
    void refresh()
    {
        if (state != State::Inactive && filtered && !filterName.isEmpty()) {
            std::vector<quint32> v = computeView(filterField());
            view = std::move(v);
            filterOn = true;
        } else {
            filterOn = false;
            view.clear();
            view.shrink_to_fit();
        }
        cur = count() > 0 ? 0 : -1;
        bofFlag = true;
        eofFlag = count() == 0;
        emit q->rowsReset();
        emit q->currentRowChanged(cur);
    }

    void loadBuffer(quint32 row)
    {
        buffer.assign(fields.size(), EditCell());
        for (size_t f = 0; f < fields.size(); ++f) {
            if (isTextType(fields[f]->dataType()))
                buffer[f].text = storedText(int(f), row).toByteArray();
            else
                buffer[f].number = storedNumberRaw(int(f), row);
        }
    }

    // Writes the edit buffer into the row, keeping the indexes right.
    void storeBuffer(quint32 row)
    {
        packet.detach();
        DataPacketData *s = store();
        for (size_t f = 0; f < fields.size(); ++f) {
            const int col = column[f];
            if (isTextType(fields[f]->dataType())) {
                const QByteArrayView old = s->text(col, row);
                if (old == buffer[f].text)
                    continue;
                if (FieldIndex *ix = indexFor(int(f))) {
                    ix->rows.remove(old, row);
                    ix->rows.add(buffer[f].text, row);
                }
                s->setText(col, row, buffer[f].text);
            } else {
                s->setNumber(col, row, buffer[f].number);
            }
        }
    }

    // Takes a row out of the visible and live lists (the cells stay as garbage).
    void dropRow(int visibleRow)
    {
        const quint32 r = phys(visibleRow);
        if (dead.empty())
            dead.assign(size_t(store()->rows), 0);
        dead[r] = 1;
        ++deadCount;
        const int logical = filterOn ? logicalOf(r) : visibleRow;
        if (logical >= 0)
            rows.erase(size_t(logical));
        if (filterOn)
            view.erase(view.begin() + visibleRow);
    }

    void insertRow(bool atEnd)
    {
        ClientDataSet &ds = *q;
        Private &d = *this;
        d.requireActive("inserir");
        if (d.editing())
            ds.post();
        if (ds.beforeInsert)
            ds.beforeInsert(ds);
        if (ds.beforeScroll)
            ds.beforeScroll(ds);
        const int n = d.count();
        const int pos = (atEnd || d.cur < 0) ? n : d.cur;
        emit ds.rowAboutToBeInserted(pos);
        d.packet.detach();
        DataPacketData *s = d.store();
        const quint32 r = quint32(s->rows);
        s->appendEmptyRow();
        if (!d.dead.empty())
            d.dead.push_back(0);
        for (FieldIndex &ix : d.indexes)
            ix.rows.add({}, r);
        if (d.filterOn) {
            const int logical = pos < n ? d.logicalOf(d.view[size_t(pos)]) : int(d.rows.size());
            d.rows.insert(size_t(logical), r);
            if (logical < int(d.rows.size()) - 1)
                d.ordered = false;
            d.view.insert(d.view.begin() + pos, r);
        } else {
            d.rows.insert(size_t(pos), r);
            if (pos < n)
                d.ordered = false;
        }
        d.buffer.assign(d.fields.size(), EditCell());
        d.returnRow = atEnd ? d.cur : pos;
        d.cur = pos;
        d.bofFlag = d.eofFlag = false;
        d.setState(State::Insert);
        emit ds.rowInserted(pos);
        emit ds.currentRowChanged(pos);
        if (ds.afterInsert)
            ds.afterInsert(ds);
        if (ds.afterScroll)
            ds.afterScroll(ds);
    }

    void moveTo(int target)
    {
        requireActive("mover");
        if (editing())
            q->post();
        const int n = count();
        if (n == 0) {
            bofFlag = eofFlag = true;
            return;
        }
        target = std::clamp(target, 0, n - 1);
        if (target == cur)
            return;
        if (q->beforeScroll)
            q->beforeScroll(*q);
        cur = target;
        emit q->currentRowChanged(cur);
        if (q->afterScroll)
            q->afterScroll(*q);
    }
};

} // namespace opd
