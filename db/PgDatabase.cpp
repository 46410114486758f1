#include "db/PgDatabase.h"

#include "db/StatementCache.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace opd::db {

namespace {

std::string connError(PGconn *conn)
{
    std::string message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

// A failed call, with its result (taken and cleared; may be null):
// ConnectionLost when the connection is gone (libpq marks it bad, or the
// server said it is shutting down or the link failed), DbError otherwise.
[[noreturn]] void raise(PGconn *conn, PGresult *result, const std::string &what)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    std::string message = result ? PQresultErrorMessage(result) : "";
    PQclear(result);
    if (message.empty())
        message = connError(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (PQstatus(conn) == CONNECTION_BAD || code.rfind("08", 0) == 0 || code.rfind("57P0", 0) == 0)
        throw ConnectionLost(what + message);
    throw DbError(what + message);
}

struct Prepared
{
    std::string name;
    int params = 0;
};

class PgStatement;

} // namespace

// What the connection's statements share: the cache of prepared names, the
// statement that is streaming, and names to release after a rollback.
struct PgSession
{
    explicit PgSession(PGconn *c)
        : conn(c), cache(PgDatabase::kCachedStatements, [this](Prepared &p) { release(p.name); })
    {
    }

    // Makes the connection free for another command.
    void quiesce();
    // The same for a rollback: what the streaming statement has not read
    // is of no use any more, so the backend is asked to stop producing it.
    void abandon();
    void release(const std::string &name)
    {
        if (!conn)
            return;
        // Inside a failed transaction DEALLOCATE would fail too: the name is
        // released after the rollback instead, or the session would keep it.
        quiesce();
        if (PQtransactionStatus(conn) == PQTRANS_INERROR) {
            leftovers.push_back(name);
            return;
        }
        PQclear(PQexec(conn, ("DEALLOCATE " + name).c_str()));
    }

    PGconn *conn;
    StatementCache<Prepared> cache;
    PgStatement *active = nullptr;
    std::vector<std::string> leftovers;
    unsigned nextName = 0;
};

namespace {

class PgStatement : public Statement
{
public:
    PgStatement(std::shared_ptr<PgSession> session, std::string sql, Prepared prepared)
        : m_session(std::move(session)), m_sql(std::move(sql)), m_prepared(std::move(prepared)),
          m_values(size_t(m_prepared.params))
    {
    }
    ~PgStatement() override
    {
        clear();
        m_session->cache.put(m_sql, std::move(m_prepared));
    }

    void bindText(int index, std::string_view utf8) override
    {
        at(index) = std::string(utf8);
    }
    void bindDouble(int index, double value) override
    {
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
        at(index) = std::string(buffer, r.ptr);
    }
    void bindNull(int index) override { at(index).reset(); }

    bool step() override
    {
        if (m_state == State::Idle)
            send();
        if (m_state == State::Done)
            return false;
        PQclear(m_row);
        m_row = nullptr;
        PGresult *r = next();
        if (!r) {
            // The command ended without its closing result: the connection broke.
            m_state = State::Done;
            throw ConnectionLost("exec: " + connError(m_session->conn));
        }
        switch (PQresultStatus(r)) {
        case PGRES_SINGLE_TUPLE:
            m_row = r;
            return true;
        case PGRES_TUPLES_OK:
        case PGRES_COMMAND_OK:
            m_final = r;
            finish();
            return false;
        default:
            finish();
            raise(m_session->conn, r, "exec: ");
        }
    }
    void reset() override { clear(); }
    std::string_view text(int column) override
    {
        return {PQgetvalue(m_row, 0, column), size_t(PQgetlength(m_row, 0, column))};
    }
    double number(int column) override
    {
        if (isNull(column))
            return 0;
        return std::strtod(PQgetvalue(m_row, 0, column), nullptr);
    }
    bool isNull(int column) override { return PQgetisnull(m_row, 0, column); }
    long long changes() override
    {
        const char *n = m_final ? PQcmdTuples(m_final) : "";
        return *n ? std::atoll(n) : 0;
    }

    // Reads what is left of this statement's answer into memory, so that
    // the connection can run another command.
    void buffer()
    {
        while (PGresult *r = PQgetResult(m_session->conn))
            m_pending.push_back(r);
        m_state = State::Buffered;
        m_session->active = nullptr;
    }

    // Stops the answer being streamed (a rollback follows): the backend is
    // asked to cancel, and whatever still arrives is dropped.
    void abandon()
    {
        if (PGcancel *cancel = PQgetCancel(m_session->conn)) {
            char error[256];
            PQcancel(cancel, error, sizeof error);
            PQfreeCancel(cancel);
        }
        while (PGresult *r = PQgetResult(m_session->conn))
            PQclear(r);
        m_session->active = nullptr;
        PQclear(m_row);
        m_row = nullptr;
        m_state = State::Done;
    }

private:
    enum class State { Idle, Streaming, Buffered, Done };

    void send()
    {
        m_session->quiesce();
        std::vector<const char *> values(m_values.size());
        std::vector<int> lengths(m_values.size());
        for (size_t i = 0; i < m_values.size(); ++i) {
            values[i] = m_values[i] ? m_values[i]->c_str() : nullptr;
            lengths[i] = m_values[i] ? int(m_values[i]->size()) : 0;
        }
        PGconn *conn = m_session->conn;
        if (!PQsendQueryPrepared(conn, m_prepared.name.c_str(), int(values.size()), values.data(),
                                 lengths.data(), nullptr, 0))
            raise(conn, nullptr, "exec: ");
        PQsetSingleRowMode(conn);
        m_state = State::Streaming;
        m_session->active = this;
    }
    PGresult *next()
    {
        if (m_state == State::Streaming)
            return PQgetResult(m_session->conn);
        if (m_pending.empty())
            return nullptr;
        PGresult *r = m_pending.front();
        m_pending.pop_front();
        return r;
    }
    // After the closing result: the connection is free again.
    void finish()
    {
        if (m_state == State::Streaming) {
            while (PGresult *r = PQgetResult(m_session->conn))
                PQclear(r);
            m_session->active = nullptr;
        }
        for (PGresult *r : m_pending)
            PQclear(r);
        m_pending.clear();
        m_state = State::Done;
    }
    std::optional<std::string> &at(int index)
    {
        if (index < 1 || size_t(index) > m_values.size())
            throw DbError("bind: parâmetro fora do intervalo");
        clear();
        return m_values[size_t(index - 1)];
    }
    void clear()
    {
        // An answer read half way is read to its end: libpq offers no other
        // way to free the connection short of cancelling on the server.
        finish();
        PQclear(m_row);
        PQclear(m_final);
        m_row = m_final = nullptr;
        m_state = State::Idle;
    }

    std::shared_ptr<PgSession> m_session;
    std::string m_sql;
    Prepared m_prepared;
    std::vector<std::optional<std::string>> m_values;
    State m_state = State::Idle;
    PGresult *m_row = nullptr;     // the current row (single-row result)
    PGresult *m_final = nullptr;   // the closing result, for changes()
    std::deque<PGresult *> m_pending;
};

} // namespace

void PgSession::quiesce()
{
    if (active)
        active->buffer();
}

void PgSession::abandon()
{
    if (active)
        active->abandon();
}

PgDatabase::PgDatabase(const std::string &url)
{
    m_conn = PQconnectdb(url.c_str());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string message = connError(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        throw DbError("não foi possível conectar: " + message);
    }
    m_session = std::make_shared<PgSession>(m_conn);
    // Dates travel as ISO text both ways; the server turns them into day counts.
    // No JIT: compiling the search's large SELECTs held back their first row
    // by 30-70 ms (and more on a busy machine), for expressions too simple
    // to gain from it.
    //
    // Random page reads priced near sequential ones, unless the administrator
    // has set the cost (server, database, role or URL): the search's tables
    // are read from memory, and at the built-in 4 the planner sorted every
    // order of a wide filter after a hash join instead of walking the key
    // index, so no row left before all were read (150 ms of silence at
    // 100,000 orders; the index walk is also quicker in total).
    execScript("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; "
               "SET client_min_messages = WARNING; SET jit = off; "
               "SELECT set_config('random_page_cost', '1.1', false) FROM pg_settings"
               " WHERE name = 'random_page_cost' AND source = 'default'");
}

PgDatabase::~PgDatabase()
{
    // The prepared statements end with the session; a statement that is
    // still out only drops its name.
    m_session->quiesce();
    m_session->conn = nullptr;
    m_session->cache.close();
    PQfinish(m_conn);
}

std::string PgDatabase::numberPlaceholders(std::string_view sql, int *count)
{
    std::string out;
    out.reserve(sql.size() + 16);
    int n = 0;
    char quote = 0;
    for (char c : sql) {
        if (quote) {
            if (c == quote)
                quote = 0;
            out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
        } else if (c == '?') {
            out += '$';
            out += std::to_string(++n);
        } else {
            out += c;
        }
    }
    *count = n;
    return out;
}

std::unique_ptr<Statement> PgDatabase::prepare(std::string_view sql)
{
    std::string key(sql);
    if (std::optional<Prepared> cached = m_session->cache.take(key))
        return std::make_unique<PgStatement>(m_session, std::move(key), std::move(*cached));
    m_session->quiesce();
    Prepared p;
    const std::string text = numberPlaceholders(sql, &p.params);
    p.name = "opd_s" + std::to_string(++m_session->nextName);
    PGresult *result = PQprepare(m_conn, p.name.c_str(), text.c_str(), p.params, nullptr);
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        raise(m_conn, result, "prepare: ");
    PQclear(result);
    return std::make_unique<PgStatement>(m_session, std::move(key), std::move(p));
}

void PgDatabase::execScript(std::string_view sql)
{
    m_session->quiesce();
    const std::string text(sql);
    PGresult *result = PQexec(m_conn, text.c_str());
    const auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        raise(m_conn, result, "");
    PQclear(result);
}

void PgDatabase::begin(bool write)
{
    // One snapshot for the orders and the items of one answer. A connection
    // found lost here had nothing of this transaction sent yet.
    try {
        execScript(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    } catch (const ConnectionLost &e) {
        throw ConnectionLost(e.what(), true);
    }
}

void PgDatabase::commit()
{
    execScript("COMMIT");
}

void PgDatabase::rollback()
{
    // An answer left half way (the client went away) is not read to its end.
    m_session->abandon();
    execScript("ROLLBACK");
    for (const std::string &name : std::exchange(m_session->leftovers, {}))
        PQclear(PQexec(m_conn, ("DEALLOCATE " + name).c_str()));
}

} // namespace opd::db
