#pragma once
// The small database interface the application server and the seeder share.
// It sits directly on libsqlite3 and libpq: statements use '?' placeholders
// (numbered for PostgreSQL when prepared), values are bound as text, double or
// null, and cells are read as byte views into the driver's own buffers, so the
// read path allocates nothing per cell.
//
// URLs: "sqlite:PATH" and "postgresql://user@host:port/dbname".
// Every failure throws DbError (ConnectionLost when the connection is gone);
// a Database and its statements belong to one thread.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace opd::db {

class DbError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The connection itself is gone (the server restarted, the backend was
// terminated, the file became unreadable): the Database must be discarded
// and opened again. `nothingSent`: the failure came when a transaction was
// being opened, so nothing of that transaction reached the database.
class ConnectionLost : public DbError
{
public:
    explicit ConnectionLost(const std::string &what, bool nothingSent = false)
        : DbError(what), m_nothingSent(nothingSent) {}
    bool nothingSent() const { return m_nothingSent; }

private:
    bool m_nothingSent;
};

enum class Dialect { Sqlite, Postgres };

class Statement
{
public:
    virtual ~Statement() = default;
    // Parameters are 1-based. Binding after a step restarts the statement.
    virtual void bindText(int index, std::string_view utf8) = 0;
    virtual void bindDouble(int index, double value) = 0;
    virtual void bindNull(int index) = 0;
    // Runs the statement on the first call; true while a row is current.
    virtual bool step() = 0;
    // Back to the start, keeping the bound values.
    virtual void reset() = 0;
    // Cells of the current row (0-based). The view lives until the next step.
    virtual std::string_view text(int column) = 0;
    virtual double number(int column) = 0;
    virtual bool isNull(int column) = 0;
    // Rows changed by the last write statement.
    virtual long long changes() = 0;

    // Runs a statement that returns no rows to completion.
    void exec()
    {
        while (step()) {}
    }
};

class Database
{
public:
    virtual ~Database() = default;
    static std::unique_ptr<Database> open(const std::string &url);
    // What a URL names, without opening it: the SQLite file's path, or the
    // libpq connection URL as given. Throws DbError for anything else.
    struct Target
    {
        Dialect dialect;
        std::string location;
    };
    static Target parseUrl(const std::string &url);

    virtual Dialect dialect() const = 0;
    virtual std::unique_ptr<Statement> prepare(std::string_view sql) = 0;
    // Runs several statements with no parameters (migrations).
    virtual void execScript(std::string_view sql) = 0;

    // Transactions. A write transaction on SQLite takes the write lock at once
    // (BEGIN IMMEDIATE) so that a read-then-write never fails half way.
    virtual void begin(bool write) = 0;
    // A read transaction for a few rows found by key rather than a scan;
    // a back end may serve the two from different handles.
    virtual void beginLookup() { begin(false); }
    virtual void commit() = 0;
    virtual void rollback() = 0;
};

// Rolls back unless commit() was called.
class Transaction
{
public:
    Transaction(Database &db, bool write) : m_db(db) { m_db.begin(write); }
    enum LookupTag { Lookup };
    Transaction(Database &db, LookupTag) : m_db(db) { m_db.beginLookup(); }
    ~Transaction()
    {
        if (!m_done) {
            try { m_db.rollback(); } catch (...) {}
        }
    }
    void commit()
    {
        m_db.commit();
        m_done = true;
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

private:
    Database &m_db;
    bool m_done = false;
};

} // namespace opd::db
