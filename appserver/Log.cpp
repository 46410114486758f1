#include "appserver/Log.h"

namespace opd::appserver {

Q_LOGGING_CATEGORY(lcServer, "opd.server", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAccess, "opd.server.access", QtInfoMsg)

} // namespace opd::appserver
