// Data packets: building, both wire forms, and refusal of damaged input.

#include "platform/DataPacket.h"
#include "platform/DataPacketData.h"
#include "platform/Exceptions.h"

#include <QCborStreamWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>

using namespace opd;

namespace {

QList<FieldDef> itemFields()
{
    return {
        {"NRPEDIDO", FieldType::String, 10, {}, true},
        {"IDMARCADO", FieldType::FixedChar, 1},
        {"QTITEMPED", FieldType::Float, 8, {}, false, true, true},
        {"DTENTPED", FieldType::DateTime, 8},
        {"DSEMISSAOITPED", FieldType::String, 400},
    };
}

DataPacket sample()
{
    DataPacket p(itemFields());
    p.appendText("0000012345"); p.appendText("S"); p.appendNumber(2.5); p.appendNumber(46000.75);
    p.appendText("Parafuso sextavado ½\" aço inox — ç ã õ É º");
    p.endRow();
    p.appendNull(); p.appendNull(); p.appendNull(); p.appendNull(); p.appendNull();
    p.endRow();
    p.appendText("7"); p.appendText(""); p.appendNumber(-1e300); p.appendNumber(0); p.appendText(QByteArray(400, 'x'));
    p.endRow();
    return p;
}

// One line per row, so one comparison checks a whole packet.
QStringList dump(const DataPacket &p)
{
    QStringList out;
    QString head;
    for (const FieldDef &f : p.fields())
        head += QStringLiteral("%1:%2:%3:%4%5%6 ").arg(QString::fromUtf8(f.name), fieldTypeName(f.type))
                    .arg(f.size).arg(f.readOnly).arg(f.hidden).arg(f.required);
    out << head;
    for (qsizetype r = 0; r < p.rowCount(); ++r) {
        QString line;
        for (int f = 0; f < p.fieldCount(); ++f) {
            if (p.isNullAt(f, r))
                line += QStringLiteral("<null>|");
            else if (p.fields()[f].type == FieldType::String || p.fields()[f].type == FieldType::FixedChar)
                line += QString::fromUtf8(p.text(f, r)) + QLatin1Char('|');
            else
                line += QString::number(p.number(f, r), 'g', 17) + QLatin1Char('|');
        }
        out << line;
    }
    return out;
}

QString decodeError(const QByteArray &bytes)
{
    DataPacket out;
    QString error;
    if (DataPacket::fromCbor(bytes, &out, &error))
        return {};
    return error.isEmpty() ? QStringLiteral("(no message)") : error;
}

// Writes a packet by hand, so damaged variants can be produced.
struct HandWriter
{
    QByteArray bytes;
    QCborStreamWriter w{&bytes};
    void header(int fields = 1, const char *type = "string", quint64 size = 3)
    {
        w.startMap(4);
        w.append(QLatin1StringView("format")); w.append(QLatin1StringView("opd-packet/1"));
        w.append(QLatin1StringView("fields")); w.startArray(quint64(fields));
        for (int i = 0; i < fields; ++i) {
            w.startMap(4);
            w.append(QLatin1StringView("name")); w.append(QStringLiteral("F%1").arg(i));
            w.append(QLatin1StringView("type")); w.append(QLatin1StringView(type));
            w.append(QLatin1StringView("size")); w.append(size);
            w.append(QLatin1StringView("attrs")); w.append(quint64(0));
            w.endMap();
        }
        w.endArray();
        w.append(QLatin1StringView("rows")); w.startArray();
    }
    void trailer(quint64 count)
    {
        w.endArray();
        w.append(QLatin1StringView("count")); w.append(count);
        w.endMap();
    }
};

// Columns stored differently: a code of one width, a short text with nulls,
// a text long enough that 1,024 of its cells pass 64 KiB, and a number.
QByteArray layoutText(int f, qsizetype r)
{
    if (f == 0)
        return QByteArray::number(1000000000 + r);
    if (f == 1)
        return r % 7 == 3 ? QByteArray() : "nome " + QByteArray::number(r % 1000);
    return QByteArray(60 + int(r % 50), char('a' + r % 26));
}

void appendLayoutRows(DataPacket &p, qsizetype from, qsizetype to)
{
    for (qsizetype r = from; r < to; ++r) {
        for (int f = 0; f < 3; ++f)
            layoutText(f, r).isEmpty() ? p.appendNull() : p.appendText(layoutText(f, r));
        p.appendNumber(double(r) / 4);
        p.endRow();
    }
}

// "" when p holds exactly the rows appendLayoutRows wrote, raw size included.
QString layoutMismatch(const DataPacket &p, qsizetype rows)
{
    if (p.rowCount() != rows)
        return QStringLiteral("%1 rows").arg(p.rowCount());
    qsizetype raw = 0;
    for (qsizetype r = 0; r < rows; ++r) {
        for (int f = 0; f < 3; ++f) {
            raw += layoutText(f, r).size();
            if (p.text(f, r) != layoutText(f, r) || p.isNullAt(f, r) != layoutText(f, r).isEmpty())
                return QStringLiteral("row %1, field %2").arg(r).arg(f);
        }
        raw += 8;
        if (p.number(3, r) != double(r) / 4)
            return QStringLiteral("row %1, number").arg(r);
    }
    return p.rawCellBytes() == raw ? QString() : QStringLiteral("raw bytes %1, not %2").arg(p.rawCellBytes()).arg(raw);
}

const QList<FieldDef> layoutFields{{"CODE", FieldType::String, 10}, {"NAME", FieldType::String, 50},
                                   {"LONG", FieldType::String, 200}, {"QT", FieldType::Float, 8}};

} // namespace

class TestDataPacket : public QObject
{
    Q_OBJECT
private slots:
    void builderRefusesWrongCellsAndKeepsRowsWhole()
    {
        DataPacket p(itemFields());
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.appendNumber(1));        // text field first
        p.appendText("1");
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.appendText("SS"));       // 2 chars in a 1-char field
        p.appendText("S");
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.endRow());               // 2 of 5 cells
        QCOMPARE(p.rowCount(), 0);
        // The refused row left nothing behind: the next one starts clean.
        p.appendText("2"); p.appendNull(); p.appendNumber(3); p.appendNull(); p.appendText("d");
        p.endRow();
        QCOMPARE(p.rowCount(), 1);
        QCOMPARE(p.text(0, 0), QByteArrayView("2"));
        QCOMPARE(p.number(2, 0), 3.0);
        QVERIFY(p.isNullAt(3, 0));
        QCOMPARE(p.number(3, 0), 0.0);   // null numbers read as 0
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.appendText("\xff\xfe"));  // not UTF-8
    }

    void sizesCountCharactersNotBytes()
    {
        DataPacket p({{"A", FieldType::String, 3}});
        p.appendText("ção");   // 3 characters, 5 bytes
        p.endRow();
        QCOMPARE(p.rawCellBytes(), 5);
    }

    // Cells live in chunks of 1,024 rows. Two full chunks and a part read
    // back the same built and decoded, and the full chunks took the
    // narrowest offsets their cells allow.
    void cellsReadBackAcrossChunkEdges()
    {
        const qsizetype rows = 2 * chunk::rows + 37;
        DataPacket built(layoutFields), decoded;
        appendLayoutRows(built, 0, rows);
        QCOMPARE(layoutMismatch(built, rows), QString());
        QString error;
        QVERIFY2(DataPacket::fromCbor(built.toCbor(), &decoded, &error), qPrintable(error));
        QCOMPARE(layoutMismatch(decoded, rows), QString());
        const std::vector<PacketColumn> &c = decoded.d_func()->columns;
        QCOMPARE(c[0].texts[1].width, 10);                       // one width: no offsets
        QVERIFY(c[0].texts[1].wide.empty() && c[0].texts[1].narrow.empty());
        QVERIFY(!c[1].texts[1].narrow.empty());                   // 16-bit
        QCOMPARE(c[2].texts[1].wide.size(), size_t(chunk::rows + 1));   // past 64 KiB: 32-bit
    }

    // 16-bit offsets reach 65,535: a chunk of that many bytes keeps them,
    // one of a byte more does not, and its last cell reads right either way.
    // (The first cell is shorter, so that the chunk is not of one width.)
    void chunkOffsetsNarrowUpTo64KiB_data()
    {
        QTest::addColumn<int>("lastCell");
        QTest::newRow("65,535 bytes") << 64;
        QTest::newRow("65,536 bytes") << 65;
    }
    void chunkOffsetsNarrowUpTo64KiB()
    {
        QFETCH(int, lastCell);
        DataPacket p({{"T", FieldType::String, 65}});
        auto cell = [&](qsizetype r) {
            return QByteArray(r == 0 ? 63 : r == chunk::rows - 1 ? lastCell : 64, char('a' + r % 26));
        };
        for (qsizetype r = 0; r <= chunk::rows; ++r) {
            p.appendText(cell(r));
            p.endRow();
        }
        const TextChunk &k = p.d_func()->columns[0].texts[0];
        QCOMPARE(k.bytes.size(), 63 + 64 * (chunk::rows - 2) + lastCell);
        QCOMPARE(k.width, -1);
        QCOMPARE(k.narrow.empty(), lastCell == 65);
        for (qsizetype r : {qsizetype(0), chunk::rows - 2, chunk::rows - 1, chunk::rows})
            QCOMPARE(p.text(0, r), cell(r));
    }

    // A refused row whose cells began a chunk or filled one leaves the rows
    // before it whole, and the next rows go where it would have.
    void aRefusedRowAtAChunkEdgeLeavesNothingBehind_data()
    {
        QTest::addColumn<qsizetype>("rows");
        QTest::newRow("cells open a new chunk") << chunk::rows;
        QTest::newRow("cells fill a chunk") << chunk::rows - 1;
        QTest::newRow("cells fill a second chunk") << 2 * chunk::rows - 1;
    }
    void aRefusedRowAtAChunkEdgeLeavesNothingBehind()
    {
        QFETCH(qsizetype, rows);
        DataPacket p(layoutFields);
        appendLayoutRows(p, 0, rows);
        p.appendText("X");
        p.appendText("partial");
        p.appendText(QByteArray(150, 'p'));
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.endRow());
        QCOMPARE(layoutMismatch(p, rows), QString());
        appendLayoutRows(p, rows, rows + 2);
        QCOMPARE(layoutMismatch(p, rows + 2), QString());
    }

    // The 4 GB limit of a column holds on the running total of its chunks
    // (set by hand: 4 GB of text is no test).
    void aColumnStopsAt4GB()
    {
        DataPacket p({{"T", FieldType::String, 10}});
        p.d_func()->columns[0].textBytes = std::numeric_limits<quint32>::max() - 3;
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.appendText("abcd"));
        p.appendText("abc");
        p.endRow();
        QCOMPARE(p.text(0, 0), "abc");
        QVERIFY_THROWS_EXCEPTION(DataSetError, p.appendText("a"));
    }

    void cborAndJsonRoundTripEveryType_data()
    {
        QTest::addColumn<DataPacket>("packet");
        QTest::newRow("rows of every type with nulls") << sample();
        QTest::newRow("empty table") << DataPacket(itemFields());
        QTest::newRow("no fields") << DataPacket(QList<FieldDef>{});
    }
    void cborAndJsonRoundTripEveryType()
    {
        QFETCH(DataPacket, packet);
        DataPacket viaCbor, viaJson;
        QString error;
        QVERIFY2(DataPacket::fromCbor(packet.toCbor(), &viaCbor, &error), qPrintable(error));
        QCOMPARE(dump(viaCbor), dump(packet));
        const QByteArray json = QJsonDocument(packet.toJson()).toJson(QJsonDocument::Compact);
        QVERIFY2(DataPacket::fromJson(QJsonDocument::fromJson(json).object(), &viaJson, &error), qPrintable(error));
        QCOMPARE(dump(viaJson), dump(packet));
        QCOMPARE(viaCbor.rawCellBytes(), packet.rawCellBytes());
    }

    void everyPrefixOfAPacketIsRefusedWithoutCrash()
    {
        const QByteArray whole = sample().toCbor();
        for (qsizetype n = 0; n < whole.size(); ++n) {
            DataPacket out = sample();
            QString error;
            QVERIFY2(!DataPacket::fromCbor(whole.first(n), &out, &error), qPrintable(QString::number(n)));
            QVERIFY(!error.isEmpty());
            QCOMPARE(out.rowCount(), 3);   // output untouched
        }
    }

    void damagedPacketsAreRefusedWithAReason_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray good = sample().toCbor();
        QTest::newRow("trailing garbage") << good + QByteArray("\x00", 1) << "Bytes a mais";
        QTest::newRow("not a map") << QByteArray("\x80", 1) << "mapa";
        QTest::newRow("empty input") << QByteArray() << "truncado";
        {
            QByteArray b = good;
            b.replace("opd-packet/1", "opd-packet/2");
            QTest::newRow("unknown format") << b << "formato";
        }
        {
            QByteArray b = good;
            b.replace("datetime", "datatime");
            QTest::newRow("unknown type") << b << "tipo";
        }
        {
            HandWriter h; h.header(2); h.w.startArray(1); h.w.append(QLatin1StringView("a")); h.w.endArray(); h.trailer(1);
            QTest::newRow("short row") << h.bytes << "células";
        }
        {
            HandWriter h; h.header(1); h.w.startArray(1); h.w.append(QLatin1StringView("abcd")); h.w.endArray(); h.trailer(1);
            QTest::newRow("text longer than its size") << h.bytes << "excede";
        }
        {
            HandWriter h; h.header(1); h.w.startArray(1); h.w.append(1.5); h.w.endArray(); h.trailer(1);
            QTest::newRow("number in a text field") << h.bytes << "esperado texto";
        }
        {
            HandWriter h; h.header(1, "float", 8); h.w.startArray(1); h.w.append(QLatin1StringView("1")); h.w.endArray(); h.trailer(1);
            QTest::newRow("text in a number field") << h.bytes << "esperado número";
        }
        {
            HandWriter h; h.header(1); h.w.startArray(1); h.w.appendNull(); h.w.endArray(); h.trailer(2);
            QTest::newRow("count differs from rows") << h.bytes << "count";
        }
        {
            HandWriter h; h.header(1); h.w.startArray(1); h.w.appendTextString("\xc3\x28", 2); h.w.endArray(); h.trailer(1);
            QTest::newRow("invalid UTF-8") << h.bytes << "UTF-8";
        }
        {
            HandWriter h; h.header(1); h.w.startArray(1); h.w.appendNull(); h.w.endArray(); h.w.endArray();
            h.w.append(QLatin1StringView("total")); h.w.append(quint64(1)); h.w.endMap();
            QTest::newRow("misnamed count key") << h.bytes << "count";
        }
    }
    void damagedPacketsAreRefusedWithAReason()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString error = decodeError(bytes);
        QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
    }

    void readerFedInAnyChunksEqualsWholeDecodeAndStopsAtTheEnd()
    {
        // Many rows with long cells, so chunk ends fall inside heads, inside
        // texts and between rows; bytes after the packet belong to the caller.
        DataPacket original(itemFields());
        QRandomGenerator rng(99);
        for (int r = 0; r < 300; ++r) {
            original.appendText(QByteArray::number(r));
            original.appendText(r % 3 ? "S" : "");
            original.appendNumber(r * 1.25);
            if (r % 5) original.appendNumber(45000 + r); else original.appendNull();
            original.appendText(QByteArray(int(rng.bounded(400)), char('a' + r % 26)));
            original.endRow();
        }
        const QByteArray bytes = original.toCbor();
        const QByteArray stream = bytes + QByteArray("NEXT");
        // Round 0 feeds byte by byte; the others in random chunks, the last
        // of which usually crosses the end of the packet.
        for (int round = 0; round < 20; ++round) {
            DataPacketReader reader;
            qsizetype pos = 0;
            DataPacketReader::Status st = DataPacketReader::NeedMore;
            while (st == DataPacketReader::NeedMore) {
                QVERIFY(pos < bytes.size());
                const qsizetype n = std::min<qsizetype>(round ? 1 + rng.bounded(700) : 1, stream.size() - pos);
                qsizetype used = -1;
                st = reader.feed(QByteArrayView(stream).sliced(pos, n), &used);
                QVERIFY(used >= 0 && used <= n);
                pos += used;
            }
            QVERIFY2(st == DataPacketReader::Done, qPrintable(reader.errorString()));
            QCOMPARE(pos, bytes.size());
            QCOMPARE(dump(reader.take()), dump(original));
        }
    }

    // The verdict and the bytes taken do not depend on where the pieces end,
    // also when the refused item began in an earlier piece.
    void damagedPacketsGetOneVerdictHoweverCut_data()
    {
        damagedPacketsAreRefusedWithAReason_data();
    }
    void damagedPacketsGetOneVerdictHoweverCut()
    {
        QFETCH(QByteArray, bytes);
        DataPacketReader whole;
        qsizetype wholeUsed = -1;
        const auto expected = whole.feed(bytes, &wholeUsed);
        for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
            DataPacketReader reader;
            qsizetype first = -1, second = -1;
            auto st = reader.feed(QByteArrayView(bytes).first(cut), &first);
            QVERIFY(first >= 0 && first <= cut);
            if (st == DataPacketReader::NeedMore) {
                QCOMPARE(first, cut);
                st = reader.feed(QByteArrayView(bytes).sliced(cut), &second);
                QVERIFY2(second >= 0 && second <= bytes.size() - cut,
                         qPrintable(QStringLiteral("cut at %1: %2 bytes taken").arg(cut).arg(second)));
            }
            QVERIFY2(st == expected, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(reader.errorString())));
            if (st == DataPacketReader::Done)
                QCOMPARE(first + qMax<qsizetype>(second, 0), wholeUsed);
        }
    }

    void readerStaysInErrorAfterDamage()
    {
        QByteArray bad = sample().toCbor();
        bad[0] = char(0x81);
        DataPacketReader reader;
        qsizetype used = 0;
        QCOMPARE(reader.feed(bad, &used), DataPacketReader::Error);
        QVERIFY(!reader.errorString().isEmpty());
        QCOMPARE(reader.feed(bad, &used), DataPacketReader::Error);
        QVERIFY(reader.take().isNull());
    }

    void jsonDecoderRefusesWhatCborRefuses_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QByteArray f = R"("fields":[{"name":"A","type":"string","size":2,"attrs":0}])";
        QTest::newRow("count mismatch") << R"({"format":"opd-packet/1",)" + f + R"(,"rows":[["x"]],"count":2})";
        QTest::newRow("too long") << R"({"format":"opd-packet/1",)" + f + R"(,"rows":[["xyz"]],"count":1})";
        QTest::newRow("wrong width") << R"({"format":"opd-packet/1",)" + f + R"(,"rows":[["x",null]],"count":1})";
        QTest::newRow("number in text") << R"({"format":"opd-packet/1",)" + f + R"(,"rows":[[1]],"count":1})";
        QTest::newRow("missing key") << R"({"format":"opd-packet/1",)" + f + R"(,"rows":[]})";
        QTest::newRow("fractional size") << QByteArray(R"({"format":"opd-packet/1","fields":[{"name":"A","type":"string","size":2.5,"attrs":0}],"rows":[],"count":0})");
    }
    void jsonDecoderRefusesWhatCborRefuses()
    {
        QFETCH(QByteArray, json);
        DataPacket out;
        QString error;
        QVERIFY(!DataPacket::fromJson(QJsonDocument::fromJson(json).object(), &out, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(out.fields().isEmpty());
    }

    // Cells with heads of every width, non-shortest forms included, read the
    // same whole and fed one byte at a time; a two-byte simple value is no
    // number, below 32 (malformed) or not.
    void cellHeadsOfEveryWidthAreRead()
    {
        // Whole, then byte by byte; the error of either, or the rows.
        auto read = [](const QByteArray &bytes, QStringList *rows) -> QString {
            DataPacket whole;
            QString error;
            if (!DataPacket::fromCbor(bytes, &whole, &error))
                return error;
            DataPacketReader reader;
            DataPacketReader::Status st = DataPacketReader::NeedMore;
            for (qsizetype i = 0; i < bytes.size() && st == DataPacketReader::NeedMore; ++i) {
                qsizetype used = 0;
                st = reader.feed(QByteArrayView(bytes).sliced(i, 1), &used);
            }
            if (st != DataPacketReader::Done)
                return QStringLiteral("byte by byte: ") + reader.errorString();
            *rows = dump(whole).mid(1);
            if (dump(reader.take()).mid(1) != *rows)
                return QStringLiteral("byte by byte: other rows");
            return {};
        };

        HandWriter t;
        t.header(2, "string", 40);   // the writer stays inside "rows"; the cells follow by hand
        const QByteArray texts = t.bytes
            + QByteArray("\x82\x78\x02" "ab" "\x79\x00\x01" "c", 9)
            + QByteArray("\x82\x7a\x00\x00\x00\x01" "d" "\x7b\x00\x00\x00\x00\x00\x00\x00\x00", 16)
            + QByteArray("\x82\x78\x1f", 3) + QByteArray(31, 'e') + QByteArray("\xf6", 1)
            + QByteArray("\xff\x65" "count\x03", 8);
        QStringList rows;
        QString error = read(texts, &rows);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(rows, (QStringList{QStringLiteral("ab|c|"), QStringLiteral("d|<null>|"),
                                    QString(31, QLatin1Char('e')) + QStringLiteral("|<null>|")}));

        HandWriter n;
        n.header(1, "float", 8);
        const QByteArray numbers = n.bytes
            + QByteArray("\x81\x18\x10" "\x81\x19\x01\x00" "\x81\x1a\x00\x01\x00\x00" "\x81\x38\x10", 16)
            + QByteArray("\x81\x1b\x00\x00\x00\x01\x00\x00\x00\x00" "\x81\xf9\x3c\x00", 14)
            + QByteArray("\xff\x65" "count\x06", 8);
        error = read(numbers, &rows);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(rows, (QStringList{"16|", "256|", "65536|", "-17|", "4294967296|", "1|"}));

        for (const char simple : {'\x00', '\x1f', '\x20'}) {
            const QByteArray bad = n.bytes + QByteArray("\x81\xf8", 2) + QByteArray(1, simple)
                                   + QByteArray("\xff\x65" "count\x01", 8);
            error = read(bad, &rows);
            QVERIFY2(error.contains(QStringLiteral("esperado número")), qPrintable(error));
        }
    }

    void integersAndSmallFloatsAreAcceptedAsNumbers()
    {
        HandWriter h;
        h.header(1, "float", 8);
        for (double v : {0.0, -3.0, 1.5}) {
            h.w.startArray(1);
            if (v == std::floor(v))
                h.w.append(qint64(v));
            else
                h.w.append(float(v));
            h.w.endArray();
        }
        h.w.startArray(1); h.w.append(qfloat16(0.25)); h.w.endArray();
        h.trailer(4);
        DataPacket out;
        QString error;
        QVERIFY2(DataPacket::fromCbor(h.bytes, &out, &error), qPrintable(error));
        QCOMPARE(out.number(0, 1), -3.0);
        QCOMPARE(out.number(0, 2), 1.5);
        QCOMPARE(out.number(0, 3), 0.25);
    }
};

QTEST_GUILESS_MAIN(TestDataPacket)
#include "tst_datapacket.moc"
