#include "db/SqliteDatabase.h"

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace opd::db {

namespace {

// The file is gone, moved, unreadable or no longer a database: only a new
// handle can tell what is there now.
bool handleLost(sqlite3 *db)
{
    if (!db)
        return true;
    const int code = sqlite3_extended_errcode(db);
    const int primary = code & 0xff;
    return primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_NOTADB
        || primary == SQLITE_CORRUPT || code == SQLITE_READONLY_DBMOVED;
}

[[noreturn]] void raise(sqlite3 *db, const std::string &message)
{
    if (handleLost(db))
        throw ConnectionLost(message);
    throw DbError(message);
}

[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    raise(db, std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "sem conexão"));
}

sqlite3_stmt *compile(sqlite3 *db, std::string_view sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr)
        != SQLITE_OK) {
        sqlite3_finalize(stmt);
        fail(db, "prepare");
    }
    return stmt;
}

class SqliteStatement : public Statement
{
public:
    SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt, std::string sql, std::shared_ptr<SqliteCache> cache)
        : m_db(db), m_stmt(stmt), m_sql(std::move(sql)), m_cache(std::move(cache))
    {
    }
    ~SqliteStatement() override
    {
        // Back to the connection's cache, reset (so that it holds no read
        // snapshot) and without the values of this use.
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_cache->put(m_sql, m_stmt);
    }

    void bindText(int index, std::string_view utf8) override
    {
        restartIfRun();
        // SQLITE_TRANSIENT: the caller's buffer may not outlive the bind.
        check(sqlite3_bind_text(m_stmt, index, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT));
    }
    void bindDouble(int index, double value) override
    {
        restartIfRun();
        check(sqlite3_bind_double(m_stmt, index, value));
    }
    void bindNull(int index) override
    {
        restartIfRun();
        check(sqlite3_bind_null(m_stmt, index));
    }
    bool step() override
    {
        m_run = true;
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const std::string message = sqlite3_errmsg(m_db);
        const bool lost = handleLost(m_db);
        sqlite3_reset(m_stmt);
        if (lost)
            throw ConnectionLost("step: " + message);
        throw DbError("step: " + message);
    }
    void reset() override
    {
        sqlite3_reset(m_stmt);
        m_run = false;
    }
    std::string_view text(int column) override
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        if (!p)
            return {};
        return {p, size_t(sqlite3_column_bytes(m_stmt, column))};
    }
    double number(int column) override { return sqlite3_column_double(m_stmt, column); }
    bool isNull(int column) override { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    long long changes() override { return sqlite3_changes64(m_db); }

private:
    void restartIfRun()
    {
        if (m_run)
            reset();
    }
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            fail(m_db, "bind");
    }

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    std::string m_sql;
    std::shared_ptr<SqliteCache> m_cache;
    bool m_run = false;
};

sqlite3 *openHandle(const std::string &path)
{
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "sem memória";
        sqlite3_close(db);
        throw DbError("não foi possível abrir " + path + ": " + message);
    }
    sqlite3_busy_timeout(db, SqliteDatabase::kBusyTimeoutMs);
    return db;
}

void run(sqlite3 *db, std::string_view sql)
{
    const std::string text(sql);
    char *error = nullptr;
    if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "erro";
        sqlite3_free(error);
        raise(db, message);
    }
}

// Switching a new file to WAL takes its exclusive lock without waiting on
// the busy handler: where several programs open one new file together, all
// but one get "database is locked" at once. Try again until the handle's
// busy timeout would have run out.
void enterWal(sqlite3 *db)
{
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(SqliteDatabase::kBusyTimeoutMs);
    for (;;) {
        const int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            return;
        if ((rc & 0xff) != SQLITE_BUSY || Clock::now() >= giveUp)
            fail(db, "PRAGMA journal_mode=WAL");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::shared_ptr<SqliteCache> newCache()
{
    return std::make_shared<SqliteCache>(SqliteDatabase::kCachedStatements,
                                         [](sqlite3_stmt *&s) { sqlite3_finalize(s); });
}

} // namespace

SqliteDatabase::SqliteDatabase(const std::string &path)
    : m_path(path), m_writeCache(newCache()), m_readCache(newCache())
{
    m_db = openHandle(path);
    m_current = m_db;
    try {
        // No memory map on the writing handle: whenever another connection
        // (another worker, another program) has written, SQLite drops and
        // rebuilds the whole mapping at the next transaction, which cost
        // more than the write itself where writers take turns.
        enterWal(m_db);
        run(m_db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

SqliteDatabase::~SqliteDatabase()
{
    // Statements still out finalize themselves when they end; close_v2
    // keeps the handle until then.
    m_readCache->close();
    m_writeCache->close();
    sqlite3_close_v2(m_reader);
    sqlite3_close_v2(m_db);
}

sqlite3 *SqliteDatabase::reader()
{
    if (m_path.empty() || m_path == ":memory:" || m_path.find("mode=memory") != std::string::npos)
        return m_db;   // a second handle would see another, empty database
    if (!m_reader) {
        sqlite3 *db = openHandle(m_path);
        try {
            // Large answers are read straight from the mapping, without a
            // pread and a copy per page; remapping after others' writes is
            // small next to such a read.
            run(db, "PRAGMA foreign_keys=ON; PRAGMA mmap_size=268435456;");
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
        m_reader = db;
    }
    return m_reader;
}

std::shared_ptr<SqliteCache> &SqliteDatabase::cacheOf(sqlite3 *handle)
{
    return handle == m_db ? m_writeCache : m_readCache;
}

std::unique_ptr<Statement> SqliteDatabase::prepare(std::string_view sql)
{
    std::string key(sql);
    std::shared_ptr<SqliteCache> &cache = cacheOf(m_current);
    std::optional<sqlite3_stmt *> stmt = cache->take(key);
    if (!stmt)
        stmt = compile(m_current, sql);
    return std::make_unique<SqliteStatement>(m_current, *stmt, std::move(key), cache);
}

void SqliteDatabase::runCached(sqlite3 *handle, const char *sql)
{
    // BEGIN, COMMIT and ROLLBACK on every call: parsed once per handle.
    std::shared_ptr<SqliteCache> &cache = cacheOf(handle);
    const std::string key(sql);
    std::optional<sqlite3_stmt *> stmt = cache->take(key);
    if (!stmt)
        stmt = compile(handle, sql);
    const int rc = sqlite3_step(*stmt);
    const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(handle);
    sqlite3_reset(*stmt);
    cache->put(key, *stmt);
    if (rc != SQLITE_DONE)
        throw DbError(message);
}

void SqliteDatabase::execScript(std::string_view sql)
{
    run(m_current, sql);
}

void SqliteDatabase::begin(bool write)
{
    if (write)
        beginOn(m_db, "BEGIN IMMEDIATE");
    else
        beginOn(reader(), "BEGIN");
}

void SqliteDatabase::beginLookup()
{
    beginOn(m_db, "BEGIN");
}

void SqliteDatabase::beginOn(sqlite3 *handle, const char *sql)
{
    if (!sqlite3_get_autocommit(m_current)) {
        // One transaction at a time, as on a single connection: SQLite's
        // own refusal, on the handle that holds the open one.
        run(m_current, "BEGIN");
    }
    try {
        runCached(handle, sql);
    } catch (const ConnectionLost &e) {
        throw ConnectionLost(e.what(), true);   // nothing of it was written
    }
    m_current = handle;
}

void SqliteDatabase::commit()
{
    runCached(m_current, "COMMIT");
    m_current = m_db;
}

void SqliteDatabase::rollback()
{
    // Back to the writing handle even if the rollback fails: SQLite has
    // then ended the transaction already or will on the next statement.
    sqlite3 *handle = m_current;
    m_current = m_db;
    runCached(handle, "ROLLBACK");
}

} // namespace opd::db
