#pragma once
// Day-count dates as QDate and QDateTime: day 0 = 30/12/1899, the fraction is
// the time of day. The calendar arithmetic is platform/DayCount.h.

#include <QDate>
#include <QDateTime>

namespace opd {

double toDayCount(QDate date);
double toDayCount(const QDateTime &dateTime);
QDate dateFromDayCount(double dayCount);          // invalid for NaN/inf
QDateTime dateTimeFromDayCount(double dayCount);
int wholeDays(double dayCount);                   // integer part, cut towards zero, saturated; 0 for NaN/inf

// Today, without time. Tests may pin it.
QDate today();
void setTodayForTesting(QDate date);              // invalid date: the real clock again

} // namespace opd
