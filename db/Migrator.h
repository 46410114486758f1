#pragma once
// Brings a database up to the newest schema. Migrations are numbered SQL files
// compiled into the program (db/migrations/<dialect>/NNN_name.sql); each runs in
// its own transaction together with its row in SCHEMA_VERSION, so a failed
// migration leaves nothing half applied and a second run applies nothing.

#include "db/Database.h"

namespace opd::db {

class Migrator
{
public:
    // Applies the missing migrations; returns the schema version reached.
    static int migrate(Database &db);
    // Highest migration number compiled in for the dialect.
    static int latestVersion(Dialect dialect);
    // 0 when the version table does not exist yet.
    static int currentVersion(Database &db);
};

} // namespace opd::db
