#pragma once
// The server's log categories: opd.server for what the server itself has to
// say (a lost database, an answer cut short), opd.server.access for one line
// per call (AccessLog.h). QT_LOGGING_RULES turns either off or on; both
// start at info, so debug lines stay quiet unless asked for.

#include <QLoggingCategory>

namespace opd::appserver {

Q_DECLARE_LOGGING_CATEGORY(lcServer)
Q_DECLARE_LOGGING_CATEGORY(lcAccess)

} // namespace opd::appserver
