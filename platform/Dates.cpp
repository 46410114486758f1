#include "platform/Dates.h"

#include "platform/DayCount.h"

#include <QMutex>
#include <cmath>
#include <limits>

namespace opd {

namespace {
constexpr qint64 msPerDay = 86400000;

// QDate has no year 0 (1 BC is -1); the shared arithmetic counts years as
// ISO 8601 does (1 BC is 0).
QDate qdateFromDayCount(long long days)
{
    const CivilDate c = civilFromDayCount(days);
    return QDate(int(c.year <= 0 ? c.year - 1 : c.year), int(c.month), int(c.day));
}

QMutex todayMutex;
QDate pinnedToday;
} // namespace

double toDayCount(QDate date)
{
    if (!date.isValid())
        return 0;
    const long long year = date.year() < 0 ? date.year() + 1 : date.year();
    return double(dayCountFromCivil(year, unsigned(date.month()), unsigned(date.day())));
}

double toDayCount(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return 0;
    const double days = toDayCount(dateTime.date());
    const double fraction = double(dateTime.time().msecsSinceStartOfDay()) / msPerDay;
    // Before day 0 the fraction still counts forward from midnight, as the
    // integer part alone names the day.
    return days < 0 ? days - fraction : days + fraction;
}

int wholeDays(double dayCount)
{
    if (!std::isfinite(dayCount))
        return 0;
    // Converting a double beyond int's range is undefined: saturate instead.
    const double whole = std::trunc(dayCount);
    if (whole >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (whole <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(whole);
}

QDate dateFromDayCount(double dayCount)
{
    if (!std::isfinite(dayCount) || std::fabs(dayCount) > 3.0e6)
        return {};
    return dateTimeFromDayCount(dayCount).date();
}

QDateTime dateTimeFromDayCount(double dayCount)
{
    if (!std::isfinite(dayCount) || std::fabs(dayCount) > 3.0e6)
        return {};
    qint64 days = qint64(std::trunc(dayCount));
    qint64 ms = qint64(std::llround(std::fabs(dayCount - double(days)) * msPerDay));
    if (ms >= msPerDay) {   // rounding reached the next midnight
        ms -= msPerDay;
        days += dayCount < 0 ? -1 : 1;
    }
    return QDateTime(qdateFromDayCount(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

QDate today()
{
    {
        QMutexLocker lock(&todayMutex);
        if (pinnedToday.isValid())
            return pinnedToday;
    }
    return QDate::currentDate();
}

void setTodayForTesting(QDate date)
{
    QMutexLocker lock(&todayMutex);
    pinnedToday = date;
}

} // namespace opd
