#include "db/Log.h"

namespace opd::db {

Q_LOGGING_CATEGORY(lcDb, "opd.db", QtInfoMsg)

} // namespace opd::db
