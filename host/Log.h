#pragma once
// The host's log category, opd.host: where the configuration was read, the
// package that was loaded, and in a scripted run (--screenshot) every
// message that would have been a message box.

#include <QLoggingCategory>

namespace opd {

Q_DECLARE_LOGGING_CATEGORY(lcHost)

} // namespace opd
