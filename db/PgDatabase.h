#pragma once
#include "db/Database.h"

#include <memory>

struct pg_conn;

namespace opd::db {

struct PgSession;

// libpq with text-format parameters and results.
//
// Statements are prepared once per connection and kept by their SQL text
// (StatementCache). A SELECT is answered in single-row mode: each step
// fetches one row off the socket, so the first row can be written before the
// backend has produced the last, and the answer never sits whole in the
// client's memory. Only one statement can stream at a time on a connection:
// when another one needs it, the streaming statement first reads the rest of
// its rows into memory, so interleaved statements still see all their rows.
class PgDatabase : public Database
{
public:
    explicit PgDatabase(const std::string &url);
    ~PgDatabase() override;

    Dialect dialect() const override { return Dialect::Postgres; }
    std::unique_ptr<Statement> prepare(std::string_view sql) override;
    void execScript(std::string_view sql) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;

    // '?' placeholders to $1..$n, leaving quoted text and '::' casts alone.
    static std::string numberPlaceholders(std::string_view sql, int *count);

    static constexpr size_t kCachedStatements = 64;

private:
    pg_conn *m_conn = nullptr;
    std::shared_ptr<PgSession> m_session;
};

} // namespace opd::db
