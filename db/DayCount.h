#pragma once
// The server's day counts: the conversions are the shared ones
// (platform/DayCount.h); what is the server's own is which day is today.

#include "platform/DayCount.h"

namespace opd::db {

using opd::dayCountFromCivil;
using opd::dayCountFromIso;
using opd::isoFromDayCount;
using opd::kFirstDay;
using opd::kLastDay;

// Today in the server's local time zone; OPD_TEST_TODAY=YYYY-MM-DD in the
// environment pins it (tests only).
long long todayDayCount();

} // namespace opd::db
