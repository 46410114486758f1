#include "db/SqliteDatabase.h"

#include <sqlite3.h>

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

class SqliteStatement : public Statement
{
public:
    SqliteStatement(sqlite3 *db, std::string_view sql) : m_db(db)
    {
        if (sqlite3_prepare_v3(db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &m_stmt,
                               nullptr) != SQLITE_OK)
            fail(db, "prepare");
    }
    ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

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
    sqlite3_busy_timeout(db, 10000);
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

} // namespace

SqliteDatabase::SqliteDatabase(const std::string &path) : m_path(path)
{
    m_db = openHandle(path);
    m_current = m_db;
    try {
        // No memory map on the writing handle: whenever another connection
        // (another worker, another program) has written, SQLite drops and
        // rebuilds the whole mapping at the next transaction, which cost
        // more than the write itself where writers take turns.
        run(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

SqliteDatabase::~SqliteDatabase()
{
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

std::unique_ptr<Statement> SqliteDatabase::prepare(std::string_view sql)
{
    return std::make_unique<SqliteStatement>(m_current, sql);
}

void SqliteDatabase::execScript(std::string_view sql)
{
    run(m_current, sql);
}

void SqliteDatabase::begin(bool write)
{
    if (!sqlite3_get_autocommit(m_current)) {
        // One transaction at a time, as on a single connection: SQLite's
        // own refusal, on the handle that holds the open one.
        run(m_current, "BEGIN");
    }
    sqlite3 *handle = write ? m_db : reader();
    try {
        run(handle, write ? "BEGIN IMMEDIATE" : "BEGIN");
    } catch (const ConnectionLost &e) {
        throw ConnectionLost(e.what(), true);   // nothing of it was written
    }
    m_current = handle;
}

void SqliteDatabase::commit()
{
    run(m_current, "COMMIT");
    m_current = m_db;
}

void SqliteDatabase::rollback()
{
    // Back to the writing handle even if the rollback fails: SQLite has
    // then ended the transaction already or will on the next statement.
    sqlite3 *handle = m_current;
    m_current = m_db;
    run(handle, "ROLLBACK");
}

} // namespace opd::db
