#pragma once
#include "db/Database.h"

struct sqlite3;

namespace opd::db {

// libsqlite3 in WAL mode with a busy timeout and foreign keys on.
//
// Two handles on one file: writes (and anything outside a transaction) go
// through a plain handle; read transactions, opened by begin(false), go
// through a second, memory-mapped one, opened on the first read. Statements
// belong to the handle that was current when they were prepared, so prepare
// them after begin(). An in-memory database keeps a single handle.
class SqliteDatabase : public Database
{
public:
    explicit SqliteDatabase(const std::string &path);
    ~SqliteDatabase() override;

    Dialect dialect() const override { return Dialect::Sqlite; }
    std::unique_ptr<Statement> prepare(std::string_view sql) override;
    void execScript(std::string_view sql) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;

private:
    sqlite3 *reader();

    sqlite3 *m_db = nullptr;        // writes and everything outside a transaction
    sqlite3 *m_reader = nullptr;    // read transactions, memory-mapped
    sqlite3 *m_current = nullptr;   // the handle of the open transaction
    std::string m_path;
};

} // namespace opd::db
