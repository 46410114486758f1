#include "db/Database.h"

#include "db/PgDatabase.h"
#include "db/SqliteDatabase.h"

namespace opd::db {

Database::Target Database::parseUrl(const std::string &url)
{
    if (url.rfind("sqlite:", 0) == 0) {
        const std::string path = url.substr(7);
        if (path.empty())
            throw DbError("URL de banco sem caminho: " + url);
        return {Dialect::Sqlite, path};
    }
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
        return {Dialect::Postgres, url};
    throw DbError("URL de banco não reconhecida (use sqlite:CAMINHO ou postgresql://...): " + url);
}

std::unique_ptr<Database> Database::open(const std::string &url)
{
    const Target target = parseUrl(url);
    if (target.dialect == Dialect::Sqlite)
        return std::make_unique<SqliteDatabase>(target.location);
    return std::make_unique<PgDatabase>(target.location);
}

} // namespace opd::db
