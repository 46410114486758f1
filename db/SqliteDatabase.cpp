#include "db/SqliteDatabase.h"

#include <sqlite3.h>

namespace opd::db {

namespace {

[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    throw DbError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "sem conexão"));
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
        sqlite3_reset(m_stmt);
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

} // namespace

SqliteDatabase::SqliteDatabase(const std::string &path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "sem memória";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DbError("não foi possível abrir " + path + ": " + message);
    }
    sqlite3_busy_timeout(m_db, 10000);
    // Memory-mapped reads spare a pread and a copy per page on large answers.
    execScript("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
               "PRAGMA mmap_size=268435456;");
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close_v2(m_db);
}

std::unique_ptr<Statement> SqliteDatabase::prepare(std::string_view sql)
{
    return std::make_unique<SqliteStatement>(m_db, sql);
}

void SqliteDatabase::execScript(std::string_view sql)
{
    const std::string text(sql);
    char *error = nullptr;
    if (sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "erro";
        sqlite3_free(error);
        throw DbError(message);
    }
}

void SqliteDatabase::begin(bool write)
{
    execScript(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

void SqliteDatabase::commit()
{
    execScript("COMMIT");
}

void SqliteDatabase::rollback()
{
    execScript("ROLLBACK");
}

} // namespace opd::db
