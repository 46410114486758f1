#include "platform/Log.h"

namespace opd {

Q_LOGGING_CATEGORY(lcPlatform, "opd.platform", QtInfoMsg)

} // namespace opd
