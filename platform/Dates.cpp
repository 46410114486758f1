#include "platform/Dates.h"

#include <QMutex>
#include <cmath>

namespace opd {

namespace {
const QDate &epoch()
{
    static const QDate day0(1899, 12, 30);
    return day0;
}
constexpr qint64 msPerDay = 86400000;

QMutex todayMutex;
QDate pinnedToday;
} // namespace

double toDayCount(QDate date)
{
    if (!date.isValid())
        return 0;
    return double(epoch().daysTo(date));
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
    return int(std::trunc(dayCount));
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
    return QDateTime(epoch().addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
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
