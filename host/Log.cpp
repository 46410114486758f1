#include "host/Log.h"

namespace opd {

Q_LOGGING_CATEGORY(lcHost, "opd.host", QtInfoMsg)

} // namespace opd
