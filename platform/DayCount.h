#pragma once
// Day counts: day 0 = 30/12/1899, so 1 = 31/12/1899 and 2 = 01/01/1900. The
// one calendar arithmetic of the system: the server turns the database's ISO
// texts into counts with it, and the client's QDate conversions
// (platform/Dates.h) go through it. Plain integer arithmetic on the proleptic
// Gregorian calendar (year 0 exists, as in ISO 8601); it runs once per date
// cell on the read path.

#include <cstdio>
#include <string>
#include <string_view>

namespace opd {

struct CivilDate
{
    long long year;
    unsigned month;   // 1..12
    unsigned day;     // 1..31
};

// 1970-01-01 as a day count.
inline constexpr long long kUnixEpochDayCount = 25569;
// Valid range of whole days the server accepts: 01/01/1900 .. 31/12/9999.
inline constexpr long long kFirstDay = 2;
inline constexpr long long kLastDay = 2958465;

// Civil date to day count (Howard Hinnant's days_from_civil, moved to day 0).
constexpr long long dayCountFromCivil(long long year, unsigned month, unsigned day)
{
    const long long y = year - (month <= 2);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468 + kUnixEpochDayCount;
}

// Day count to civil date, the inverse of dayCountFromCivil.
constexpr CivilDate civilFromDayCount(long long days)
{
    const long long z = days - kUnixEpochDayCount + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {(long long)yoe + era * 400 + (m <= 2), m, d};
}

constexpr bool isLeapYear(long long year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr unsigned daysInMonth(long long year, unsigned month)
{
    constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return days[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

// ISO 'YYYY-MM-DD' (a longer text is read by its first ten characters, so a
// timestamp works too); false when the text is not such a date.
inline bool dayCountFromIso(std::string_view text, long long *days)
{
    if (text.size() < 10 || text[4] != '-' || text[7] != '-')
        return false;
    unsigned parts[3] = {0, 0, 0};
    constexpr int starts[3] = {0, 5, 8};
    constexpr int lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < lengths[p]; ++i) {
            const char c = text[size_t(starts[p] + i)];
            if (c < '0' || c > '9')
                return false;
            parts[p] = parts[p] * 10 + unsigned(c - '0');
        }
    }
    const unsigned y = parts[0], m = parts[1], d = parts[2];
    if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
        return false;
    *days = dayCountFromCivil(y, m, d);
    return true;
}

// Day count to 'YYYY-MM-DD'.
inline std::string isoFromDayCount(long long days)
{
    const CivilDate c = civilFromDayCount(days);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", c.year, c.month, c.day);
    return buffer;
}

static_assert(dayCountFromCivil(1899, 12, 30) == 0);
static_assert(dayCountFromCivil(1900, 1, 1) == kFirstDay);
static_assert(dayCountFromCivil(9999, 12, 31) == kLastDay);

} // namespace opd
