// Fields: typed access, text conversion and its hook; day-count dates.

#include "platform/ClientDataSet.h"
#include "platform/Dates.h"
#include "platform/Exceptions.h"

#include <QTest>
#include <cmath>

using namespace opd;

class TestField : public QObject
{
    Q_OBJECT

    ClientDataSet *makeOrders(QObject *parent)
    {
        auto *ds = new ClientDataSet(parent);
        ds->addField({"NRPEDIDO", FieldType::String, 10});
        ds->addField({"QTITEMPED", FieldType::Float, 8});
        ds->addField({"DTENTPED", FieldType::DateTime, 8});
        DataPacket p(ds->data().fields());
        p.appendText("1"); p.appendNull(); p.appendNull(); p.endRow();
        ds->setData(p);
        return ds;
    }

private slots:
    void dayCountsMatchTheCalendar_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<double>("days");
        QTest::newRow("day 0") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
        QTest::newRow("leap day noon") << QDateTime(QDate(2024, 2, 29), QTime(12, 0)) << 45351.5;
        QTest::newRow("before day 0") << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << -1.25;
        QTest::newRow("one second before midnight") << QDateTime(QDate(2000, 1, 1), QTime(23, 59, 59)) << 36526.0 + 86399.0 / 86400.0;
    }
    void dayCountsMatchTheCalendar()
    {
        QFETCH(QDateTime, when);
        QFETCH(double, days);
        QCOMPARE(toDayCount(when), days);
        QCOMPARE(dateTimeFromDayCount(days), when);
        QCOMPARE(wholeDays(days), int(std::trunc(days)));
    }

    void nonFiniteDayCountsGiveInvalidDates()
    {
        QVERIFY(!dateFromDayCount(std::nan("")).isValid());
        QVERIFY(!dateFromDayCount(INFINITY).isValid());
        QVERIFY(!dateFromDayCount(1e300).isValid());
        QCOMPARE(wholeDays(std::nan("")), 0);
    }

    void todayCanBePinnedAndReleased()
    {
        setTodayForTesting(QDate(2026, 3, 1));
        QCOMPARE(today(), QDate(2026, 3, 1));
        setTodayForTesting({});
        const QDate before = QDate::currentDate();   // midnight may pass between the reads
        const QDate released = today();
        QVERIFY(released == before || released == QDate::currentDate());
    }

    void fieldTypeNamesRoundTrip()
    {
        for (FieldType t : {FieldType::String, FieldType::FixedChar, FieldType::Float, FieldType::DateTime}) {
            FieldType back = FieldType::String;
            QVERIFY(fieldTypeFromName(fieldTypeName(t), &back));
            QCOMPARE(back, t);
        }
        FieldType unused;
        QVERIFY(!fieldTypeFromName("int", &unused));
    }

    void editMasksAreTranslatedForLineEdits()
    {
        QCOMPARE(inputMaskForLineEdit("!99/99/0000;1;_"), "!99/99/0000;_");
        QCOMPARE(inputMaskForLineEdit("9999999999;0; "), "9999999999; ");
        QCOMPARE(inputMaskForLineEdit("9999999999;0;"), "9999999999; ");
        QCOMPARE(inputMaskForLineEdit("00.000;_"), "00.000;_");
        QCOMPARE(inputMaskForLineEdit(""), "");
    }

    void emptyFieldsReadAsZeroAndEmptyText()
    {
        ClientDataSet *ds = makeOrders(this);
        QVERIFY(ds->fieldByName("QTITEMPED")->isNull());
        QCOMPARE(ds->fieldByName("QTITEMPED")->asFloat(), 0.0);
        QCOMPARE(ds->fieldByName("DTENTPED")->asDateTime(), 0.0);
        QCOMPARE(ds->fieldByName("DTENTPED")->displayText(), QString());
    }

    void ownTextConversionParsesNumbersAndDatesAndRefusesGarbage()
    {
        ClientDataSet *ds = makeOrders(this);
        Field *qt = ds->fieldByName("QTITEMPED");
        Field *dt = ds->fieldByName("DTENTPED");
        ds->edit();
        qt->setText("2,5");
        QCOMPARE(qt->asFloat(), 2.5);
        QCOMPARE(qt->displayText(), "2,5");
        QVERIFY_THROWS_EXCEPTION(DataSetError, qt->setText("1.000,5"));
        QVERIFY_THROWS_EXCEPTION(DataSetError, qt->setText("abc"));
        QCOMPARE(qt->asFloat(), 2.5);
        dt->setText("31/12/2026");
        QCOMPARE(dt->asDateTime(), toDayCount(QDate(2026, 12, 31)));
        QCOMPARE(dt->displayText(), "31/12/2026");
        dt->setText("01/02/2026 08:30");
        QCOMPARE(dt->displayText(), "01/02/2026 08:30:00");
        QVERIFY_THROWS_EXCEPTION(DataSetError, dt->setText("31/02/2026"));
        QVERIFY_THROWS_EXCEPTION(DataSetError, dt->setText("12/2026"));
        dt->setText("__/__/____");   // a masked editor left blank
        QVERIFY(dt->isNull());
    }

    void onSetTextReplacesTheOwnConversion()
    {
        ClientDataSet *ds = makeOrders(this);
        Field *dt = ds->fieldByName("DTENTPED");
        QStringList seen;
        dt->onSetText = [&](Field &f, const QString &text) {
            seen << text;
            f.setAsDateTime(100);
        };
        ds->edit();
        dt->setText("not a date");
        QCOMPARE(seen, QStringList({"not a date"}));
        QCOMPARE(dt->asDateTime(), 100.0);
    }

    void fieldsKnowTheirLabelsAndWidths()
    {
        ClientDataSet ds;
        Field *f = ds.addField({"CDFILIAL", FieldType::String, 4, "Filial"});
        Field *g = ds.addField({"NMPRODUTO", FieldType::String, 50});
        QCOMPARE(f->displayLabel(), "Filial");
        QCOMPARE(g->displayLabel(), "NMPRODUTO");
        QCOMPARE(g->displayWidth(), 50);
        g->setDisplayWidth(12);
        QCOMPARE(g->displayWidth(), 12);
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.addField({"CDFILIAL", FieldType::String, 4}));
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.fieldByName("NAOEXISTE"));
    }

    void guardedSwallowsAbortAndReportsOtherErrors()
    {
        QStringList reported;
        setUnhandledErrorReporter([&](const QString &m) { reported << m; });
        QVERIFY(!guarded([] { abortSilently(); }));
        QVERIFY(!guarded([] { throw DataSetError("falhou"); }));
        QVERIFY(!guarded([] { throw 42; }));
        QVERIFY(guarded([] {}));
        QCOMPARE(reported, QStringList({"falhou", "Erro inesperado."}));
        setUnhandledErrorReporter({});
    }
};

QTEST_GUILESS_MAIN(TestField)
#include "tst_field.moc"
