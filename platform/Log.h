#pragma once
// The data core's log category, opd.platform: an error that reached a Qt
// entry point while no host had installed a reporter for it.

#include <QLoggingCategory>

namespace opd {

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

} // namespace opd
