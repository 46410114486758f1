#include "db/RowInserter.h"

#include <charconv>

namespace opd::db {

namespace {

std::string insertSql(const std::string &table, const std::vector<std::string> &columns, size_t rows)
{
    std::string sql = "INSERT INTO " + table + " (";
    std::string row = "(";
    for (size_t i = 0; i < columns.size(); ++i) {
        sql += (i ? ", " : "") + columns[i];
        row += i ? ", ?" : "?";
    }
    row += ")";
    sql += ") VALUES ";
    for (size_t r = 0; r < rows; ++r)
        sql += (r ? ", " : "") + row;
    return sql;
}

} // namespace

RowInserter::RowInserter(Database &db, std::string table, std::vector<std::string> columns)
    : m_db(db), m_table(std::move(table)), m_columns(std::move(columns))
{
    // PostgreSQL allows 65535 parameters per statement.
    m_batch = db.dialect() == Dialect::Sqlite ? 1 : std::max<size_t>(1, 4000 / m_columns.size());
    m_full = db.prepare(insertSql(m_table, m_columns, m_batch));
    m_values.reserve(m_batch * m_columns.size());
}

RowInserter::~RowInserter() = default;

void RowInserter::text(std::string_view utf8)
{
    if (m_batch == 1)
        m_full->bindText(++m_column, utf8);
    else
        m_values.emplace_back(std::string(utf8));
}

void RowInserter::number(double value)
{
    if (m_batch == 1) {
        m_full->bindDouble(++m_column, value);
    } else {
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
        m_values.emplace_back(std::string(buffer, r.ptr));
    }
}

void RowInserter::null()
{
    if (m_batch == 1)
        m_full->bindNull(++m_column);
    else
        m_values.emplace_back(std::nullopt);
}

void RowInserter::endRow()
{
    if (m_batch == 1) {
        if (size_t(m_column) != m_columns.size())
            throw DbError("RowInserter: número de colunas errado em " + m_table);
        m_full->exec();
        m_full->reset();
        m_column = 0;
        return;
    }
    if (m_values.size() != (m_pending + 1) * m_columns.size())
        throw DbError("RowInserter: número de colunas errado em " + m_table);
    ++m_pending;
    if (m_pending == m_batch)
        flush(m_batch);
}

void RowInserter::finish()
{
    if (m_batch == 1 || m_pending == 0)
        return;
    flush(m_pending);
}

void RowInserter::flush(size_t rows)
{
    if (m_parent)
        m_parent->finish();
    std::unique_ptr<Statement> partial;
    Statement *stmt = m_full.get();
    if (rows != m_batch) {
        partial = m_db.prepare(insertSql(m_table, m_columns, rows));
        stmt = partial.get();
    }
    for (size_t i = 0; i < m_values.size(); ++i) {
        if (m_values[i])
            stmt->bindText(int(i + 1), *m_values[i]);
        else
            stmt->bindNull(int(i + 1));
    }
    stmt->exec();
    stmt->reset();
    m_values.clear();
    m_pending = 0;
}

} // namespace opd::db
