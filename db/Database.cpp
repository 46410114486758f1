#include "db/Database.h"

#include "db/PgDatabase.h"
#include "db/SqliteDatabase.h"

namespace opd::db {

std::unique_ptr<Database> Database::open(const std::string &url)
{
    if (url.rfind("sqlite:", 0) == 0) {
        const std::string path = url.substr(7);
        if (path.empty())
            throw DbError("URL de banco sem caminho: " + url);
        return std::make_unique<SqliteDatabase>(path);
    }
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
        return std::make_unique<PgDatabase>(url);
    throw DbError("URL de banco não reconhecida (use sqlite:CAMINHO ou postgresql://...): " + url);
}

} // namespace opd::db
