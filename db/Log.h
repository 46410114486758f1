#pragma once
// The database layer's log category, opd.db: connections that cannot be
// opened, and the day the tests pinned as today.

#include <QLoggingCategory>

namespace opd::db {

Q_DECLARE_LOGGING_CATEGORY(lcDb)

} // namespace opd::db
