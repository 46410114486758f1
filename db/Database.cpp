#include "db/Database.h"

#include "db/PgDatabase.h"
#include "db/SqliteDatabase.h"
#include "platform/DbUrl.h"

namespace opd::db {

Database::Target Database::parseUrl(const std::string &url)
{
    DbUrl parsed;
    std::string why;
    if (!DbUrl::parse(url, &parsed, &why))
        throw DbError(why);
    if (parsed.kind == DbUrl::Kind::Sqlite)
        return {Dialect::Sqlite, parsed.path};
    // libpq reads the URL itself, options included; it is handed on as given.
    return {Dialect::Postgres, url};
}

std::unique_ptr<Database> Database::open(const std::string &url)
{
    const Target target = parseUrl(url);
    if (target.dialect == Dialect::Sqlite)
        return std::make_unique<SqliteDatabase>(target.location);
    return std::make_unique<PgDatabase>(target.location);
}

} // namespace opd::db
