#include "db/PgDatabase.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
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

// A failed call: ConnectionLost when the connection is gone (libpq marks
// it bad, or the server said it is shutting down or the link failed).
[[noreturn]] void raise(PGconn *conn, const PGresult *result, const std::string &what)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    std::string message = result ? PQresultErrorMessage(result) : "";
    if (message.empty())
        message = connError(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (PQstatus(conn) == CONNECTION_BAD || code.rfind("08", 0) == 0 || code.rfind("57P0", 0) == 0)
        throw ConnectionLost(what + message);
    throw DbError(what + message);
}

class PgStatement : public Statement
{
public:
    PgStatement(PGconn *conn, std::string name, int paramCount, std::vector<std::string> *leftovers)
        : m_conn(conn), m_name(std::move(name)), m_values(size_t(paramCount)), m_leftovers(leftovers)
    {
    }
    ~PgStatement() override
    {
        clear();
        // Inside a failed transaction DEALLOCATE would fail too: the name is
        // released after the rollback instead, or the session would keep it.
        if (PQtransactionStatus(m_conn) == PQTRANS_INERROR) {
            m_leftovers->push_back(m_name);
            return;
        }
        const std::string sql = "DEALLOCATE " + m_name;
        PQclear(PQexec(m_conn, sql.c_str()));
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
        if (!m_result) {
            std::vector<const char *> values(m_values.size());
            std::vector<int> lengths(m_values.size());
            for (size_t i = 0; i < m_values.size(); ++i) {
                values[i] = m_values[i] ? m_values[i]->c_str() : nullptr;
                lengths[i] = m_values[i] ? int(m_values[i]->size()) : 0;
            }
            m_result = PQexecPrepared(m_conn, m_name.c_str(), int(values.size()), values.data(),
                                      lengths.data(), nullptr, 0);
            const auto status = PQresultStatus(m_result);
            if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
                PGresult *failed = std::exchange(m_result, nullptr);
                clear();
                try {
                    raise(m_conn, failed, "exec: ");
                } catch (...) {
                    PQclear(failed);
                    throw;
                }
            }
            m_rows = PQntuples(m_result);
            m_row = -1;
        }
        return ++m_row < m_rows;
    }
    void reset() override { clear(); }
    std::string_view text(int column) override
    {
        return {PQgetvalue(m_result, m_row, column), size_t(PQgetlength(m_result, m_row, column))};
    }
    double number(int column) override
    {
        if (isNull(column))
            return 0;
        return std::strtod(PQgetvalue(m_result, m_row, column), nullptr);
    }
    bool isNull(int column) override { return PQgetisnull(m_result, m_row, column); }
    long long changes() override
    {
        const char *n = m_result ? PQcmdTuples(m_result) : "";
        return *n ? std::atoll(n) : 0;
    }

private:
    std::optional<std::string> &at(int index)
    {
        if (index < 1 || size_t(index) > m_values.size())
            throw DbError("bind: parâmetro fora do intervalo");
        clear();
        return m_values[size_t(index - 1)];
    }
    void clear()
    {
        PQclear(m_result);
        m_result = nullptr;
        m_rows = 0;
        m_row = -1;
    }

    PGconn *m_conn;
    std::string m_name;
    std::vector<std::optional<std::string>> m_values;
    std::vector<std::string> *m_leftovers;
    PGresult *m_result = nullptr;
    int m_rows = 0;
    int m_row = -1;
};

} // namespace

PgDatabase::PgDatabase(const std::string &url)
{
    m_conn = PQconnectdb(url.c_str());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string message = connError(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        throw DbError("não foi possível conectar: " + message);
    }
    // Dates travel as ISO text both ways; the server turns them into day counts.
    execScript("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; "
               "SET client_min_messages = WARNING");
}

PgDatabase::~PgDatabase()
{
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
    int count = 0;
    const std::string text = numberPlaceholders(sql, &count);
    const std::string name = "opd_s" + std::to_string(++m_nextName);
    PGresult *result = PQprepare(m_conn, name.c_str(), text.c_str(), count, nullptr);
    if (PQresultStatus(result) != PGRES_COMMAND_OK) {
        try {
            raise(m_conn, result, "prepare: ");
        } catch (...) {
            PQclear(result);
            throw;
        }
    }
    PQclear(result);
    return std::make_unique<PgStatement>(m_conn, name, count, &m_leftovers);
}

void PgDatabase::execScript(std::string_view sql)
{
    const std::string text(sql);
    PGresult *result = PQexec(m_conn, text.c_str());
    const auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        try {
            raise(m_conn, result, "");
        } catch (...) {
            PQclear(result);
            throw;
        }
    }
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
    execScript("ROLLBACK");
    for (const std::string &name : std::exchange(m_leftovers, {}))
        PQclear(PQexec(m_conn, ("DEALLOCATE " + name).c_str()));
}

} // namespace opd::db
