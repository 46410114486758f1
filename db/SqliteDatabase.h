#pragma once
#include "db/Database.h"
#include "db/StatementCache.h"

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace opd::db {

// libsqlite3 in WAL mode with a busy timeout and foreign keys on.
//
// Two handles on one file: writes (and anything outside a transaction) go
// through a plain handle; read transactions, opened by begin(false), go
// through a second, memory-mapped one, opened on the first read. Lookups
// (beginLookup) stay on the plain handle: after anybody's write SQLite drops
// the whole mapping at the next read and maps it again, and unmapping makes
// the kernel interrupt every core running one of this process's threads.
// A scan reads enough to pay for that; a lookup of a few rows took 2.5x as
// long because of it. Statements
// belong to the handle that was current when they were prepared, so prepare
// them after begin(). An in-memory database keeps a single handle.
//
// Each handle keeps its prepared statements (StatementCache), BEGIN and
// COMMIT included.
using SqliteCache = StatementCache<sqlite3_stmt *>;

class SqliteDatabase : public Database
{
public:
    explicit SqliteDatabase(const std::string &path);
    ~SqliteDatabase() override;

    Dialect dialect() const override { return Dialect::Sqlite; }
    std::unique_ptr<Statement> prepare(std::string_view sql) override;
    void execScript(std::string_view sql) override;
    void begin(bool write) override;
    void beginLookup() override;
    void commit() override;
    void rollback() override;

    static constexpr size_t kCachedStatements = 64;
    // How long a handle waits for another connection's lock.
    static constexpr int kBusyTimeoutMs = 10000;

private:
    sqlite3 *reader();
    std::shared_ptr<SqliteCache> &cacheOf(sqlite3 *handle);
    void runCached(sqlite3 *handle, const char *sql);
    void beginOn(sqlite3 *handle, const char *sql);

    sqlite3 *m_db = nullptr;        // writes and everything outside a transaction
    sqlite3 *m_reader = nullptr;    // read transactions, memory-mapped
    sqlite3 *m_current = nullptr;   // the handle of the open transaction
    std::string m_path;
    std::shared_ptr<SqliteCache> m_writeCache;
    std::shared_ptr<SqliteCache> m_readCache;
};

} // namespace opd::db
