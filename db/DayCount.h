#pragma once
// Day counts (day 0 = 30/12/1899) to and from the ISO date texts the database
// holds. Plain integer arithmetic: it runs once per cell on the read path.

#include <string>
#include <string_view>

namespace opd::db {

// Civil date to days since 30/12/1899.
long long dayCountFromCivil(int year, int month, int day);
// ISO 'YYYY-MM-DD' (a longer text is read by its first ten characters, so a
// timestamp works too); false when the text is not such a date.
bool dayCountFromIso(std::string_view text, long long *days);
// Days since 30/12/1899 to 'YYYY-MM-DD'.
std::string isoFromDayCount(long long days);
// Today in the server's local time zone; OPD_TEST_TODAY=YYYY-MM-DD in the
// environment pins it (tests only).
long long todayDayCount();

// Valid range of whole days the server accepts: 01/01/1900 .. 31/12/9999.
constexpr long long kFirstDay = 2;
constexpr long long kLastDay = 2958465;

} // namespace opd::db
