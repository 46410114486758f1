#pragma once
// Fast inserts of many rows into one table: a single prepared row on SQLite
// (inside the caller's transaction that is as fast as it gets), batched
// multi-row INSERTs on PostgreSQL, where every round trip counts.

#include "db/Database.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace opd::db {

class RowInserter
{
public:
    RowInserter(Database &db, std::string table, std::vector<std::string> columns);
    ~RowInserter();

    // One call per column, in column order, then endRow().
    void text(std::string_view utf8);
    void number(double value);
    void null();
    void endRow();
    // Writes the rows still buffered; the destructor does not.
    void finish();
    // Rows of this table refer to rows of `parent`: whenever this inserter
    // writes, the parent's buffered rows are written first.
    void writeAfter(RowInserter &parent) { m_parent = &parent; }

private:
    void flush(size_t rows);

    Database &m_db;
    std::string m_table;
    std::vector<std::string> m_columns;
    size_t m_batch;
    std::unique_ptr<Statement> m_full;
    std::vector<std::optional<std::string>> m_values;
    int m_column = 0;
    size_t m_pending = 0;   // complete rows buffered
    RowInserter *m_parent = nullptr;
};

} // namespace opd::db
