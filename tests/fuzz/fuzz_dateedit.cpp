// The date edit's text reader (TDateEditPlus::parseDate) and the day-count
// conversions behind it. A date it accepts lies after day 0, writes back to
// the same text and survives the trip through its day count; any double,
// NaN and infinities included, converts without harm.
#include "FuzzSupport.h"

#include "host/TDateEditPlus.h"
#include "platform/Dates.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QDate date = TDateEditPlus::parseDate(text);
    if (date.isValid()) {
        const double days = opd::toDayCount(date);
        fuzz::require(days > 0, "an accepted date has a positive day count");
        fuzz::require(opd::dateFromDayCount(days) == date, "the day count gives the date back");
        fuzz::require(TDateEditPlus::parseDate(date.toString(QStringLiteral("dd/MM/yyyy"))) == date,
                      "the date's own text reads back");
    }
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, bytes, sizeof value);
        const QDateTime at = opd::dateTimeFromDayCount(value);
        opd::wholeDays(value);
        if (at.isValid()) {
            // Between -1 and 0 the count names day 0 from its midnight
            // forward, the same moment as its positive twin.
            const double back = opd::toDayCount(at);
            fuzz::require(std::fabs(std::fabs(back) - std::fabs(value)) <= 1.0 / 86400000 + 1e-12 * std::fabs(value),
                          "a day count survives the trip through a date and time");
            fuzz::require(opd::dateTimeFromDayCount(back) == at, "a date and time survives the trip through its count");
        }
    }
    return 0;
}
