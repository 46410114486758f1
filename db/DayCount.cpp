#include "db/DayCount.h"

#include "db/Log.h"

#include <cstdlib>
#include <mutex>
#include <ctime>

namespace opd::db {

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
