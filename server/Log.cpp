#include "server/Log.h"

namespace opd {

Q_LOGGING_CATEGORY(lcNet, "opd.net", QtInfoMsg)

} // namespace opd
