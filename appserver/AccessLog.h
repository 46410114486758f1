#pragma once
// One line per call on opd.server.access, written when the call's answer
// has been handed to its connection:
//   method=OPD31000.rdmDescEmiPed.GetPedido status=ok ms=12 bytes=48213 user=maria
// status is "ok", "failed" (the {"ok":false} result), "conflict" (a stale
// write), "cut" (a streamed answer that ended early) or the JSON-RPC error
// code. The arguments never appear: they carry the clerk's filters and
// descriptions. A method name that is not a plain identifier (it is the
// client's text too) is written with its odd bytes as '?'.

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>

namespace opd::appserver {

struct AccessRecord
{
    QByteArrayView method;   // empty: the request never named one
    QByteArrayView status;
    double milliseconds = 0;
    long long answerBytes = 0;
    std::string_view user;   // empty: not authenticated
};

// The line's text (without category or time).
QByteArray accessLine(const AccessRecord &record);
// Writes the line when opd.server.access is enabled.
void logAccess(const AccessRecord &record);

} // namespace opd::appserver
