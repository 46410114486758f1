// Day counts: the integer calendar arithmetic the server uses on ISO texts
// and the QDate conversions of the client agree, day by day.
#include "platform/DayCount.h"
#include "platform/Dates.h"

#include <QTest>

#include <limits>

class TstDayCount : public QObject
{
    Q_OBJECT
private slots:
    void integerArithmeticAndQDateAgree()
    {
        // Every day of four centuries around the valid range's start, and
        // samples far outside it, before year 1 included.
        const QDate origin(1899, 12, 30);
        for (long long days = -80000; days <= 80000; ++days) {
            const QDate date = origin.addDays(days);
            if (opd::toDayCount(date) != double(days) || opd::dateFromDayCount(double(days)) != date)
                QFAIL(qPrintable(QStringLiteral("day %1 (%2)").arg(days).arg(date.toString(Qt::ISODate))));
        }
        for (long long days : {-2000000LL, -693960LL, -693595LL, 2958465LL, 2958466LL, 2999999LL}) {
            const QDate date = origin.addDays(days);
            QCOMPARE(opd::toDayCount(date), double(days));
            QCOMPARE(opd::dateFromDayCount(double(days)), date);
        }
        QCOMPARE(opd::toDayCount(QDate(1, 1, 1)), double(opd::dayCountFromCivil(1, 1, 1)));
        QCOMPARE(opd::toDayCount(QDate(-1, 12, 31)), double(opd::dayCountFromCivil(0, 12, 31)));
    }

    void isoTextsMatchQDate()
    {
        long long days = 0;
        for (const QDate date : {QDate(1900, 1, 1), QDate(1900, 2, 28), QDate(1900, 3, 1), QDate(2000, 2, 29),
                                 QDate(2024, 12, 31), QDate(9999, 12, 31)}) {
            const std::string iso = date.toString(Qt::ISODate).toStdString();
            QVERIFY(opd::dayCountFromIso(iso, &days));
            QCOMPARE(double(days), opd::toDayCount(date));
            QCOMPARE(opd::isoFromDayCount(days), iso);
        }
        for (const char *bad : {"1900-02-29", "2023-02-29", "2024-04-31", "2024-13-01", "2024-00-10", "2024-1-01"})
            QVERIFY2(!opd::dayCountFromIso(bad, &days), bad);
    }

    void wholeDaysSaturatesInsteadOfOverflowing()
    {
        QCOMPARE(opd::wholeDays(45000.75), 45000);
        QCOMPARE(opd::wholeDays(-1.5), -1);
        QCOMPARE(opd::wholeDays(1e300), std::numeric_limits<int>::max());
        QCOMPARE(opd::wholeDays(-1e300), std::numeric_limits<int>::min());
        QCOMPARE(opd::wholeDays(std::numeric_limits<double>::quiet_NaN()), 0);
        QCOMPARE(opd::wholeDays(-std::numeric_limits<double>::infinity()), 0);
    }
};

QTEST_APPLESS_MAIN(TstDayCount)
#include "tst_daycount.moc"
