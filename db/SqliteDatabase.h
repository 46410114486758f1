#pragma once
#include "db/Database.h"

struct sqlite3;

namespace opd::db {

// libsqlite3 in WAL mode with a busy timeout and foreign keys on.
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
    sqlite3 *m_db = nullptr;
};

} // namespace opd::db
