#pragma once
#include "db/Database.h"

#include <vector>

struct pg_conn;

namespace opd::db {

// libpq with text-format parameters and results. A statement's result is
// fetched whole on its first step; cells are views into the PGresult.
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

private:
    pg_conn *m_conn = nullptr;
    unsigned m_nextName = 0;
    std::vector<std::string> m_leftovers;   // statements to release after a rollback
};

} // namespace opd::db
