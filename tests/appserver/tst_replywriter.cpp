// The CBOR reply writer encodes by hand: every head width, both container
// kinds and the scalar shapes must decode to what was written, and the
// bytes must reach the device in pieces and at the end of each answer.
#include "appserver/ReplyWriter.h"

#include <QBuffer>
#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QTest>
#include <cmath>
#include <limits>

using opd::appserver::CborReplyWriter;

class TstReplyWriter : public QObject
{
    Q_OBJECT
private slots:
    void cborDecodesToWhatWasWritten()
    {
        QByteArray bytes;
        QBuffer device(&bytes);
        device.open(QIODevice::WriteOnly);
        const QList<qint64> integers = {0, 23, 24, 255, 256, 65535, 65536, 4294967295LL, 4294967296LL,
                                        -1, -24, -25, -256, -257, -65537, std::numeric_limits<qint64>::min(),
                                        std::numeric_limits<qint64>::max()};
        const QList<double> numbers = {2.5, -0.125, 1e300, 12.0, -3.0, std::nan("")};
        const QByteArray longText(70000, 'x');   // a 4-byte length, across a piece
        {
            CborReplyWriter w(&device);
            w.beginMap(-1);
            w.key("ints");
            w.beginArray(integers.size());
            for (qint64 v : integers)
                w.integer(v);
            w.endArray();
            w.key("nums");
            w.beginArray(-1);
            for (double v : numbers)
                w.number(v);
            w.endArray();
            w.key("misc");
            w.beginArray(5);
            w.boolean(true);
            w.boolean(false);
            w.null();
            w.text("Ação");
            w.text(longText);
            w.endArray();
            w.endMap();
            // The answer is complete: it must be on the device already.
            QVERIFY(bytes.size() > 70000);
        }
        QCborParserError error;
        const QCborMap map = QCborValue::fromCbor(bytes, &error).toMap();
        QCOMPARE(error.error, QCborError::NoError);
        const QCborArray ints = map.value(QStringLiteral("ints")).toArray();
        QCOMPARE(ints.size(), integers.size());
        for (qsizetype i = 0; i < ints.size(); ++i)
            QCOMPARE(ints.at(i).toInteger(), integers[i]);
        const QCborArray nums = map.value(QStringLiteral("nums")).toArray();
        QCOMPARE(nums.size(), numbers.size());
        for (qsizetype i = 0; i + 1 < nums.size(); ++i)
            QCOMPARE(nums.at(i).toDouble(), numbers[i]);
        QVERIFY(nums.at(2).isDouble());           // not squeezed into an integer
        QVERIFY(nums.at(3).isInteger());          // whole numbers are
        QVERIFY(std::isnan(nums.last().toDouble()));
        const QCborArray misc = map.value(QStringLiteral("misc")).toArray();
        QCOMPARE(misc.at(0), QCborValue(true));
        QCOMPARE(misc.at(1), QCborValue(false));
        QVERIFY(misc.at(2).isNull());
        QCOMPARE(misc.at(3).toString(), QStringLiteral("Ação"));
        QCOMPARE(misc.at(4).toString().size(), longText.size());
    }
};

QTEST_GUILESS_MAIN(TstReplyWriter)
#include "tst_replywriter.moc"
