#include "db/DayCount.h"

#include "db/Log.h"

#include <cstdlib>
#include <mutex>
#include <ctime>

namespace opd::db {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

constexpr long long kEpochOffset = 25569; // 1970-01-01 as a day count

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

long long dayCountFromCivil(int year, int month, int day)
{
    return daysFromCivil(year, unsigned(month), unsigned(day)) + kEpochOffset;
}

bool dayCountFromIso(std::string_view text, long long *days)
{
    if (text.size() < 10 || text[4] != '-' || text[7] != '-')
        return false;
    int parts[3] = {0, 0, 0};
    const int starts[3] = {0, 5, 8};
    const int lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < lengths[p]; ++i) {
            const char c = text[size_t(starts[p] + i)];
            if (c < '0' || c > '9')
                return false;
            parts[p] = parts[p] * 10 + (c - '0');
        }
    }
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int y = parts[0], m = parts[1], d = parts[2];
    if (m < 1 || m > 12 || d < 1)
        return false;
    const int limit = monthDays[m - 1] + (m == 2 && isLeap(y) ? 1 : 0);
    if (d > limit)
        return false;
    *days = dayCountFromCivil(y, m, d);
    return true;
}

std::string isoFromDayCount(long long days)
{
    // Inverse of daysFromCivil.
    long long z = days - kEpochOffset + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", y, m, d);
    return buffer;
}

long long todayDayCount()
{
    // Tests pin the day for a whole run, so that the seeder, the handlers and
    // a server they start agree on one "today" even when the run crosses
    // midnight. Anything but a valid date is ignored.
    if (const char *pinned = std::getenv("OPD_TEST_TODAY")) {
        long long days = 0;
        if (dayCountFromIso(pinned, &days)) {
            static std::once_flag told;
            std::call_once(told, [pinned] {
                qCWarning(lcDb, "OPD_TEST_TODAY fixa a data de hoje em %s", pinned);
            });
            return days;
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return dayCountFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

} // namespace opd::db
