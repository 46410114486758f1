// The masked date edit: what it accepts, how it shows a valid date and the
// day counts it hands to the screen.
#include "host/TDateEditPlus.h"
#include "platform/Dates.h"

#include <QTest>

class TstDateEdit : public QObject
{
    Q_OBJECT
private slots:
    void typedValidDateIsBlueWithWeekday_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("weekday");
        QTest::newRow("friday") << "10052024" << "Sexta";
        QTest::newRow("leap day") << "29022024" << "Quinta";
        QTest::newRow("sunday") << "05052024" << "Domingo";
        QTest::newRow("first day of 1900") << "01011900" << "Segunda";
    }

    void typedValidDateIsBlueWithWeekday()
    {
        QFETCH(QString, typed);
        QFETCH(QString, weekday);
        TDateEditPlus edit;
        edit.show();
        edit.setFocus();
        edit.home(false);
        QTest::keyClicks(&edit, typed);
        QVERIFY(edit.IsDateValid());
        QCOMPARE(edit.weekdayName(), weekday);
        QCOMPARE(edit.toolTip(), weekday);
        QCOMPARE(edit.palette().color(QPalette::Text), QColor(Qt::blue));
    }

    void invalidTextIsHeldButNotADate_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("31 February") << "31022024";
        QTest::newRow("29 February, no leap year") << "29022023";
        QTest::newRow("month 13") << "01132024";
        QTest::newRow("half typed") << "1205";
    }

    void invalidTextIsHeldButNotADate()
    {
        QFETCH(QString, typed);
        TDateEditPlus edit;
        edit.show();
        edit.setFocus();
        edit.home(false);
        QTest::keyClicks(&edit, typed);
        QVERIFY(!edit.IsDateValid());
        QCOMPARE(edit.GetDate(), 0.0);
        QVERIFY(edit.weekdayName().isEmpty());
        QVERIFY(edit.palette().color(QPalette::Text) != QColor(Qt::blue));
        // The typed digits stay in the edit for the screen's check to report.
        QString digits = edit.EditText();
        digits.remove('/').remove(' ');
        QCOMPARE(digits, typed);
    }

    void getDateCountsDaysFromTheEpoch()
    {
        TDateEditPlus edit;
        edit.setText(QStringLiteral("31/12/1899"));
        QCOMPARE(edit.GetDate(), 1.0);
        edit.setText(QStringLiteral("01/01/1900"));
        QCOMPARE(edit.GetDate(), 2.0);
        edit.setText(QStringLiteral("10/05/2024"));
        QCOMPARE(edit.GetDate(), double(QDate(1899, 12, 30).daysTo(QDate(2024, 5, 10))));
        QCOMPARE(edit.GetDate(), 45422.0);
    }

    void datesOnOrBeforeTheEpochAreNoDates()
    {
        // Day counts of 0 and below mean "no date" to the screen; such a date
        // must be refused rather than dropped silently from a filter.
        TDateEditPlus edit;
        for (const char *text : {"30/12/1899", "29/12/1899", "01/01/1800"}) {
            edit.setText(QString::fromLatin1(text));
            QVERIFY2(!edit.IsDateValid(), text);
            QCOMPARE(edit.GetDate(), 0.0);
        }
    }

    void setDateRoundTripsAndClears()
    {
        TDateEditPlus edit;
        edit.SetDate(45422.75);   // the time part is not shown
        QCOMPARE(edit.EditText(), QStringLiteral("10/05/2024"));
        QCOMPARE(edit.GetDate(), 45422.0);
        edit.SetDate(0);
        QVERIFY(edit.isEmptyText());
        QVERIFY(!edit.IsDateValid());
        edit.SetDate(45422);
        edit.SetDate(-5);
        QVERIFY(edit.isEmptyText());
        edit.SetDate(std::numeric_limits<double>::quiet_NaN());
        QVERIFY(edit.isEmptyText());
    }

    void emptyEditShowsOnlyTheMask()
    {
        TDateEditPlus edit;
        QVERIFY(edit.isEmptyText());
        QCOMPARE(edit.EditText(), QStringLiteral("  /  /    "));
        edit.setText(QStringLiteral("10/05/2024"));
        QVERIFY(!edit.isEmptyText());
        edit.Clear();
        QVERIFY(edit.isEmptyText());
    }
};

QTEST_MAIN(TstDateEdit)
#include "tst_dateedit.moc"
