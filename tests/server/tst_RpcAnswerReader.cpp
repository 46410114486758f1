// The streaming answer reader on its own: however the bytes are split into
// arrivals, the same answer comes out.

#include "TestPackets.h"
#include "server/RpcAnswerReader.h"

#include <QCborStreamWriter>
#include <QRandomGenerator>
#include <QTest>

using opd::DataPacket;

namespace {

// An answer that mixes every envelope feature with two packets in the payload.
QByteArray richAnswer()
{
    QByteArray out;
    QCborStreamWriter w(&out);
    w.startMap();                                  // indefinite top map
    w.append(QLatin1String("jsonrpc"));
    w.appendTextString("2.0", 3);
    w.append(QLatin1String("id"));
    w.append(qint64(4242));
    w.append(QLatin1String("result"));
    w.startMap(2);
    w.append(QLatin1String("ok"));
    w.append(true);
    w.append(QLatin1String("payload"));
    w.startArray(4);
    TestPackets::orders().writeCbor(w);
    w.append(QStringLiteral("São Paulo – ç"));
    TestPackets::items().writeCbor(w);
    w.startArray(2); w.append(1.5); w.appendNull(); w.endArray();
    w.endArray();
    w.endMap();
    w.endMap();
    return out;
}

// The tree as text, packets spelled out row by row.
QString describe(const QVariant &v)
{
    if (v.canConvert<DataPacket>() && v.metaType() == QMetaType::fromType<DataPacket>())
        return QStringLiteral("packet[") + TestPackets::rowsOf(v.value<DataPacket>()).join(QLatin1Char(';')) + QLatin1Char(']');
    if (v.typeId() == QMetaType::QVariantMap) {
        QStringList parts;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it)
            parts << it.key() + QLatin1Char('=') + describe(it.value());
        return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &e : v.toList())
            parts << describe(e);
        return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    if (!v.isValid())
        return QStringLiteral("null");
    return QString::fromLatin1(v.typeName()) + QLatin1Char(':') + v.toString();
}

} // namespace

class TestRpcAnswerReader : public QObject
{
    Q_OBJECT

private slots:
    void anySplitOfTheBytesGivesTheSameAnswer()
    {
        const QByteArray bytes = richAnswer();

        RpcAnswerReader whole;
        QCOMPARE(whole.feed(bytes), RpcAnswerReader::Done);
        QCOMPARE(whole.finish(), RpcAnswerReader::Done);
        const QString expected = describe(whole.take());
        QVERIFY(expected.contains(QStringLiteral("Padaria São João")));
        QVERIFY(expected.contains(QStringLiteral("Pão francês 'tipo' A")));
        QVERIFY(expected.contains(QStringLiteral("QString:São Paulo – ç")));
        QVERIFY(expected.contains(QStringLiteral("id=qlonglong:4242")));

        RpcAnswerReader byteByByte;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto st = byteByByte.feed(bytes.sliced(i, 1));
            if (st == RpcAnswerReader::Error)
                QFAIL(qPrintable(QStringLiteral("byte %1: %2").arg(i).arg(byteByByte.errorString())));
            QCOMPARE(st, i + 1 == bytes.size() ? RpcAnswerReader::Done : RpcAnswerReader::NeedMore);
        }
        QCOMPARE(describe(byteByByte.take()), expected);

        QRandomGenerator rng(7);
        for (int round = 0; round < 50; ++round) {
            RpcAnswerReader reader;
            qsizetype pos = 0;
            while (pos < bytes.size()) {
                const qsizetype n = qMin<qsizetype>(rng.bounded(1, 40), bytes.size() - pos);
                reader.feed(bytes.sliced(pos, n));
                pos += n;
            }
            QCOMPARE(reader.finish(), RpcAnswerReader::Done);
            QCOMPARE(describe(reader.take()), expected);
        }
    }

    void chunkedTextIsJoinedAndValidated()
    {
        QByteArray bytes("\xa1\x61m\x7f\x62\xc3\xa7\x61" "a\xff", 10);   // {"m": "ç" "a"} in two chunks
        RpcAnswerReader reader;
        QCOMPARE(reader.feed(bytes), RpcAnswerReader::Done);
        QCOMPARE(describe(reader.take()), QStringLiteral("{m=QString:ça}"));

        // A multi-byte character split across chunks is still one character;
        // a chunk of another string type is refused.
        RpcAnswerReader split;
        QCOMPARE(split.feed(QByteArray("\x7f\x61\xc3\x61\xa7\xff", 6)), RpcAnswerReader::Done);
        QCOMPARE(split.take().toString(), QStringLiteral("ç"));
        RpcAnswerReader mixed;
        QCOMPARE(mixed.feed(QByteArray("\x7f\x41x\xff", 4)), RpcAnswerReader::Error);
        QCOMPARE(mixed.errorString(), QStringLiteral("Resposta inválida do servidor de aplicação: segmento de texto malformado."));
    }

    // Every head width, non-shortest forms included, and the two-byte simple
    // values, which are malformed below 32 and unknown to us from 32 on. The
    // verdict is the same whole and cut after any byte.
    void headsOfEveryWidthGetOneVerdictHoweverCut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");   // the value described, or the error
        const QString bad = QStringLiteral("Resposta inválida do servidor de aplicação: %1.");
        QTest::newRow("integer in the head") << QByteArray("\x17", 1) << QStringLiteral("qlonglong:23");
        QTest::newRow("integer in 1 byte") << QByteArray("\x18\x10", 2) << QStringLiteral("qlonglong:16");
        QTest::newRow("integer in 2 bytes") << QByteArray("\x19\x01\x00", 3) << QStringLiteral("qlonglong:256");
        QTest::newRow("integer in 4 bytes") << QByteArray("\x1a\x00\x01\x00\x00", 5) << QStringLiteral("qlonglong:65536");
        QTest::newRow("integer in 8 bytes") << QByteArray("\x1b\x00\x00\x00\x01\x00\x00\x00\x00", 9)
                                            << QStringLiteral("qlonglong:4294967296");
        QTest::newRow("negative in 1 byte") << QByteArray("\x38\x10", 2) << QStringLiteral("qlonglong:-17");
        QTest::newRow("short text, 1-byte length") << QByteArray("\x78\x02ok", 4) << QStringLiteral("QString:ok");
        QTest::newRow("short text, 2-byte length") << QByteArray("\x79\x00\x02ok", 5) << QStringLiteral("QString:ok");
        QTest::newRow("array of 1, 1-byte count") << QByteArray("\x98\x01\xf5", 3) << QStringLiteral("[bool:true]");
        QTest::newRow("single float") << QByteArray("\xfa\x3f\xc0\x00\x00", 5) << QStringLiteral("double:1.5");
        QTest::newRow("two-byte simple 0") << QByteArray("\xf8\x00", 2) << bad.arg(QStringLiteral("cabeçalho CBOR malformado"));
        QTest::newRow("two-byte simple 31") << QByteArray("\xf8\x1f", 2) << bad.arg(QStringLiteral("cabeçalho CBOR malformado"));
        QTest::newRow("two-byte simple 32") << QByteArray("\xf8\x20", 2) << bad.arg(QStringLiteral("valor simples desconhecido"));
        QTest::newRow("indefinite integer") << QByteArray("\x1f", 1) << bad.arg(QStringLiteral("cabeçalho CBOR malformado"));
        QTest::newRow("indefinite tag") << QByteArray("\xdf", 1) << bad.arg(QStringLiteral("cabeçalho CBOR malformado"));
    }
    void headsOfEveryWidthGetOneVerdictHoweverCut()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
            RpcAnswerReader reader;
            reader.feed(bytes.first(cut));
            reader.feed(bytes.sliced(cut));
            const QString got = reader.finish() == RpcAnswerReader::Done ? describe(reader.take()) : reader.errorString();
            QVERIFY2(got == expected, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(got)));
        }
    }

    // The transport feeds every byte of a body: bytes after a complete
    // answer are refused wherever the arrivals happen to end, also when the
    // "answer" is a lone first item (here -10, then the rest of an envelope).
    void bytesAfterTheAnswerAreRefusedHoweverCut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("envelope and a stray byte") << richAnswer() + QByteArray("\x00", 1);
        QTest::newRow("a lone integer first")
            << QByteArray("\x29\x69\x64\x07\x66resul\xf4\xa2\x62ok\xf5\x67payload\xf6", 25);
    }
    void bytesAfterTheAnswerAreRefusedHoweverCut()
    {
        QFETCH(QByteArray, bytes);
        RpcAnswerReader whole;
        QCOMPARE(whole.feed(bytes), RpcAnswerReader::Error);
        for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
            RpcAnswerReader reader;
            reader.feed(bytes.first(cut));
            QCOMPARE(reader.feed(bytes.sliced(cut)), RpcAnswerReader::Error);
            QCOMPARE(reader.finish(), RpcAnswerReader::Error);
            QVERIFY2(reader.errorString().contains(QStringLiteral("dados após o fim")), qPrintable(reader.errorString()));
        }
    }

    // Damaged answers: the verdict is the same whole and cut in two anywhere.
    void damagedAnswersGetOneVerdictHoweverCut()
    {
        const QByteArray good = richAnswer();
        const char damage[] = {'\xff', '\x1c', '\x00', '\x7f', '\xc0', '\x5b'};
        int refused = 0;
        for (qsizetype at = 0; at < good.size(); at += 5) {
            QByteArray bytes = good;
            bytes[at] = damage[at % sizeof damage];
            RpcAnswerReader whole;
            whole.feed(bytes);
            const auto expected = whole.finish();
            refused += expected == RpcAnswerReader::Error;
            for (qsizetype cut = 1; cut < bytes.size(); cut += 11) {
                RpcAnswerReader reader;
                reader.feed(bytes.first(cut));
                reader.feed(bytes.sliced(cut));
                QVERIFY2(reader.finish() == expected,
                         qPrintable(QStringLiteral("damage at %1, cut at %2: %3").arg(at).arg(cut).arg(reader.errorString())));
            }
        }
        QVERIFY(refused > 0);
    }
};

QTEST_GUILESS_MAIN(TestRpcAnswerReader)
#include "tst_RpcAnswerReader.moc"
