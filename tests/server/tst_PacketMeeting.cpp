// Where the two sides meet: the packets and answer envelopes the application
// server writes are read by the client's readers, whole and cut into random
// pieces, without a socket in between. A writer and a reader that drift
// apart (a type name, a length head, a clipped text, a count) fail here
// before any end-to-end run.
#include "appserver/PacketWriter.h"
#include "appserver/RpcCall.h"
#include "appserver/RpcDispatcher.h"
#include "platform/DataPacket.h"
#include "server/RemoteResult.h"
#include "server/RpcAnswer.h"
#include "server/RpcAnswerReader.h"
#include "server/RpcRequest.h"
#include "server/TNetConnection.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <optional>

using namespace opd;
using namespace opd::appserver;

namespace {

// Rows handed to the writer as a statement would step them.
class RowsStatement : public db::Statement
{
public:
    using Row = std::vector<std::optional<std::string>>;   // nullopt: SQL NULL
    explicit RowsStatement(std::vector<Row> rows) : m_rows(std::move(rows)) {}

    void bindText(int, std::string_view) override {}
    void bindDouble(int, double) override {}
    void bindNull(int) override {}
    bool step() override { return ++m_at < qsizetype(m_rows.size()); }
    void reset() override { m_at = -1; }
    std::string_view text(int c) override { return *m_rows[size_t(m_at)][size_t(c)]; }
    double number(int c) override { return std::stod(*m_rows[size_t(m_at)][size_t(c)]); }
    bool isNull(int c) override { return !m_rows[size_t(m_at)][size_t(c)].has_value(); }
    long long changes() override { return 0; }

private:
    std::vector<Row> m_rows;
    qsizetype m_at = -1;
};

QByteArray writePacket(const std::vector<PacketField> &fields, std::vector<RowsStatement::Row> rows)
{
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    RowsStatement statement(std::move(rows));
    {
        CborReplyWriter writer(&device);
        PacketWriter::write(writer, fields, statement);
    }
    return bytes;
}

// Reads with DataPacketReader, whole (pieceSeed 0) or in pieces of 1 to 17
// bytes with now and then a large one.
DataPacket readPacket(const QByteArray &bytes, quint32 pieceSeed)
{
    DataPacketReader reader;
    QRandomGenerator random(pieceSeed);
    qsizetype at = 0;
    DataPacketReader::Status status = DataPacketReader::NeedMore;
    while (at < bytes.size() && status == DataPacketReader::NeedMore) {
        qsizetype size = bytes.size() - at;
        if (pieceSeed)
            size = qMin(size, random.bounded(8) == 0 ? qsizetype(random.bounded(1, 70000)) : qsizetype(random.bounded(1, 18)));
        qsizetype used = -1;
        status = reader.feed(QByteArrayView(bytes).sliced(at, size), &used);
        if (used < 0 || used > size || (status == DataPacketReader::NeedMore && used != size)) {
            qWarning("%lld of a piece of %lld bytes taken", qlonglong(used), qlonglong(size));
            return DataPacket();
        }
        at += used;
    }
    if (status != DataPacketReader::Done || at != bytes.size()) {
        qWarning("packet not read: status %d at %lld of %lld: %s", int(status), qlonglong(at),
                 qlonglong(bytes.size()), qPrintable(reader.errorString()));
        return DataPacket();
    }
    return reader.take();
}

QVariant readAnswer(const QByteArray &bytes, quint32 pieceSeed, QString *error)
{
    RpcAnswerReader reader;
    QRandomGenerator random(pieceSeed);
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype size = pieceSeed ? qMin(bytes.size() - at, qsizetype(random.bounded(1, 12)))
                                         : bytes.size() - at;
        reader.feed(QByteArrayView(bytes).sliced(at, size));
        at += size;
    }
    if (reader.finish() != RpcAnswerReader::Done) {
        *error = reader.errorString();
        return QVariant();
    }
    return reader.take();
}

const std::vector<PacketField> kFields = {
    {"CODIGO", FieldType::String, 10},  {"MARCA", FieldType::FixedChar, 1},
    {"QTDE", FieldType::Float, 8},      {"DATA", FieldType::DateTime, 8},
    {"DESCRICAO", FieldType::String, 400},
};

} // namespace

class TstPacketMeeting : public QObject
{
    Q_OBJECT
private slots:
    void everyFieldTypeReadsAsWritten()
    {
        const std::string ascii400(400, 'x');
        std::string wide;            // 401 characters of two bytes each: clipped to 400
        for (int i = 0; i < 401; ++i)
            wide += "ç";
        std::vector<RowsStatement::Row> rows = {
            {"P1", "S", "3", "2000-01-01", "Ação à vista"},
            {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
            {"", "", "0.1", "1899-12-30", ""},
            {"日本語テキスト", "N", "-2.5", "not a date", "😀 four-byte \xf0\x9f\x98\x80"},
            {"çççççççççççç", "X", "1e300", "2026-12-09T10:00", wide},
            {"0123456789AB", "Y", "-123456789012", "1900-03-01", ascii400},
        };
        const QByteArray bytes = writePacket(kFields, rows);

        for (quint32 seed : {0u, 1u, 2u, 3u}) {
            const DataPacket p = readPacket(bytes, seed);
            QVERIFY2(!p.isNull(), qPrintable(QStringLiteral("seed %1").arg(seed)));
            QCOMPARE(p.fieldCount(), 5);
            QCOMPARE(p.rowCount(), qsizetype(rows.size()));
            for (size_t i = 0; i < kFields.size(); ++i) {
                QCOMPARE(p.fields()[int(i)].name, QByteArray(kFields[i].name));
                QCOMPARE(p.fields()[int(i)].type, kFields[i].type);
                QCOMPARE(p.fields()[int(i)].size, isTextType(kFields[i].type) ? kFields[i].size : 8);
            }
            QCOMPARE(p.text(0, 0), QByteArrayView("P1"));
            QCOMPARE(p.number(2, 0), 3.0);
            QCOMPARE(p.number(3, 0), 36526.0);                 // 01/01/2000
            QCOMPARE(QString::fromUtf8(p.text(4, 0)), QStringLiteral("Ação à vista"));
            for (int f = 0; f < 5; ++f)
                QVERIFY(p.isNullAt(f, 1));
            // An empty text travels as "no value".
            QVERIFY(p.isNullAt(0, 2));
            QVERIFY(p.isNullAt(4, 2));
            QCOMPARE(p.number(2, 2), 0.1);
            QCOMPARE(p.number(3, 2), 0.0);
            QVERIFY(!p.isNullAt(3, 2));
            QCOMPARE(QString::fromUtf8(p.text(0, 3)), QStringLiteral("日本語テキスト"));
            QCOMPARE(p.number(2, 3), -2.5);
            QVERIFY(p.isNullAt(3, 3));                            // not a date: null
            QCOMPARE(p.text(4, 3), QByteArrayView("😀 four-byte \xf0\x9f\x98\x80"));
            // Texts longer than their field are clipped by characters, not bytes.
            QCOMPARE(QString::fromUtf8(p.text(0, 4)), QStringLiteral("çççççççççç"));
            QCOMPARE(p.number(2, 4), 1e300);
            QCOMPARE(p.number(3, 4), 46365.0);                    // the time of day is dropped
            QCOMPARE(QString::fromUtf8(p.text(4, 4)).size(), 400);
            QCOMPARE(p.text(0, 5), QByteArrayView("0123456789"));
            QCOMPARE(p.number(2, 5), -123456789012.0);
            QCOMPARE(p.number(3, 5), 61.0);
            QCOMPARE(p.text(4, 5), QByteArrayView(ascii400));
        }
    }

    // Long row lists and wide field lists take the wider length heads.
    void largeCountsReadAsWritten()
    {
        std::vector<RowsStatement::Row> rows;
        const int count = 70000;
        rows.reserve(count);
        for (int i = 0; i < count; ++i)
            rows.push_back({std::to_string(i), i % 3 ? std::optional<std::string>("A") : std::nullopt,
                            std::to_string(i - 35000), "2000-01-01", i % 7 ? "é" : ""});
        const QByteArray bytes = writePacket(kFields, rows);
        for (quint32 seed : {0u, 9u}) {
            const DataPacket p = readPacket(bytes, seed);
            QCOMPARE(p.rowCount(), qsizetype(count));
            for (int i : {0, 1, 23, 24, 255, 256, 65535, 65536, count - 1}) {
                QCOMPARE(p.text(0, i), QByteArrayView(std::to_string(i)));
                QCOMPARE(p.isNullAt(1, i), i % 3 == 0);
                QCOMPARE(p.number(2, i), double(i - 35000));
                QCOMPARE(p.isNullAt(4, i), i % 7 == 0);
            }
        }

        std::vector<std::string> names;
        std::vector<PacketField> wide;
        RowsStatement::Row row;
        for (int i = 0; i < 300; ++i) {
            names.push_back("F" + std::to_string(i));
            row.push_back(std::to_string(i));
        }
        for (int i = 0; i < 300; ++i)
            wide.push_back({names[size_t(i)].c_str(), i % 2 ? FieldType::Float : FieldType::String, 5});
        const DataPacket p = readPacket(writePacket(wide, {row, row}), 5);
        QCOMPARE(p.fieldCount(), 300);
        QCOMPARE(p.rowCount(), qsizetype(2));
        QCOMPARE(p.text(298, 1), QByteArrayView("298"));
        QCOMPARE(p.number(299, 1), 299.0);
    }

    // The envelope around a packet, and the error shape, as the client reads them.
    void answerEnvelopesReadAsWritten()
    {
        RpcResponse r;
        r.cbor = true;
        r.id = QCborValue(41);
        r.payload = [](ReplyWriter &w) {
            RowsStatement rows({{"P9", "S", "7", "2000-01-02", "Ação"}});
            return PacketWriter::write(w, kFields, rows) >= 0;
        };
        const QByteArray success = r.collect();
        for (quint32 seed : {0u, 1u, 2u}) {
            QString error;
            const QVariant tree = readAnswer(success, seed, &error);
            QVERIFY2(tree.isValid(), qPrintable(error));
            const QVariant result = RpcAnswer::interpret(tree, 41);
            QVERIFY(RemoteResult::isOk(result));
            const DataPacket p = result.toMap().value(QStringLiteral("payload")).value<DataPacket>();
            QCOMPARE(p.rowCount(), qsizetype(1));
            QCOMPARE(QString::fromUtf8(p.text(4, 0)), QStringLiteral("Ação"));
            QCOMPARE(p.number(3, 0), 36527.0);
        }

        const QByteArray refused = RpcDispatcher::error(true, QCborValue(42), MethodNotFound,
                                                        QStringLiteral("método \"X.Y\" não existe")).body;
        for (quint32 seed : {0u, 3u}) {
            QString error;
            const QVariant tree = readAnswer(refused, seed, &error);
            QVERIFY2(tree.isValid(), qPrintable(error));
            try {
                RpcAnswer::interpret(tree, 42);
                QFAIL("an error answer was taken for a result");
            } catch (const opd::RemoteCallError &e) {
                QVERIFY2(e.message().contains(QStringLiteral("método \"X.Y\" não existe")), qPrintable(e.message()));
            }
        }
    }

    // The client's request carries the argument kinds the server decodes.
    void requestKindsReadAsWritten()
    {
        const QList<RemoteArg> args = {RemoteArg::text(QStringLiteral("Ação")), RemoteArg::textRef(QString()),
                                       RemoteArg::numberRef(2.5), RemoteArg::date(36526)};
        for (auto format : {RpcRequest::Format::Cbor, RpcRequest::Format::Json}) {
            const QByteArray body = RpcRequest::encode(format, 5, QStringLiteral("M.F"), args);
            RpcCall call;
            RpcFailure failure;
            QVERIFY2(RpcCall::decode(body, format == RpcRequest::Format::Cbor, &call, &failure),
                     qPrintable(failure.message));
            QCOMPARE(call.method, QStringLiteral("M.F"));
            QCOMPARE(call.args.size(), size_t(4));
            for (int i = 0; i < 4; ++i)
                QCOMPARE(call.args[size_t(i)].kind, args[i].kind);
            QCOMPARE(call.args[0].text, QByteArray("Ação"));
            QCOMPARE(call.args[2].number, 2.5);
            QCOMPARE(call.args[3].number, 36526.0);
        }
    }
};

QTEST_GUILESS_MAIN(TstPacketMeeting)
#include "tst_PacketMeeting.moc"
