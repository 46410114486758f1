#pragma once
// The remote-call client's log category, opd.net: a call sent again on a
// new connection (info), and one debug line per call with its method, time
// and answer size (QT_LOGGING_RULES="opd.net.debug=true").

#include <QLoggingCategory>

namespace opd {

Q_DECLARE_LOGGING_CATEGORY(lcNet)

} // namespace opd
