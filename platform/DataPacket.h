#pragma once
// A self-describing table: field definitions plus rows, held column by column
// with text cells as UTF-8 bytes. It is what a data packet decodes into and
// what a ClientDataSet adopts (implicitly shared, so handing it over is cheap).
//
// Wire forms (docs/datapacket.md): compact CBOR, and JSON for tooling.

#include "FieldTypes.h"

#include <QByteArray>
#include <QExplicitlySharedDataPointer>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <memory>
#include <vector>

class QCborStreamWriter;

namespace opd {

class DataPacketData;

class DataPacket
{
public:
    DataPacket();
    explicit DataPacket(QList<FieldDef> fields);
    DataPacket(const DataPacket &);
    DataPacket &operator=(const DataPacket &);
    ~DataPacket();

    bool isNull() const;                       // default-constructed: no fields at all
    const QList<FieldDef> &fields() const;
    int fieldCount() const;
    int indexOf(QByteArrayView name) const;    // -1 when absent
    qsizetype rowCount() const;

    // Building, row by row: call one append per field, in field order, then endRow().
    void reserve(qsizetype rows);
    void appendText(QByteArrayView utf8);      // for String/FixedChar; empty = no value
    void appendNumber(double value);           // for Float/DateTime
    void appendNull();                         // any type; numbers read back as 0
    void endRow();                             // checks that every field got a cell

    // Reading.
    QByteArrayView text(int field, qsizetype row) const;
    double number(int field, qsizetype row) const;   // 0 when null
    bool isNullAt(int field, qsizetype row) const;

    // Bytes held by the cells (texts' bytes, 8 per number): the "raw" size.
    qsizetype rawCellBytes() const;

    // Whole-packet codecs. Decoders check everything and return false with a
    // message on a malformed or truncated packet, leaving *out untouched.
    QByteArray toCbor() const;
    void writeCbor(QCborStreamWriter &writer) const;
    static bool fromCbor(QByteArrayView bytes, DataPacket *out, QString *error);
    QJsonObject toJson() const;
    static bool fromJson(const QJsonObject &json, DataPacket *out, QString *error);

    // Low level, for ClientDataSet and the decoder. detach() before writing
    // through d_func() so that other holders of the packet keep their rows.
    DataPacketData *d_func() { return d.data(); }
    const DataPacketData *d_func() const { return d.data(); }
    void detach();

private:
    QExplicitlySharedDataPointer<DataPacketData> d;
};

// Incremental decoder: feed the bytes of one CBOR packet as they arrive.
class DataPacketReader
{
public:
    enum Status { NeedMore, Done, Error };
    DataPacketReader();
    ~DataPacketReader();
    // Consumes bytes of the packet; *consumed says how many of `data` were
    // taken: all of it while more is needed, up to the packet's last byte on
    // Done, up to the refused item on Error (0 when that item began in an
    // earlier chunk). The outcome does not depend on how the bytes are cut.
    Status feed(QByteArrayView data, qsizetype *consumed);
    DataPacket take();            // after Done
    QString errorString() const;  // after Error

private:
    struct Private;
    std::unique_ptr<Private> p;
};

} // namespace opd

Q_DECLARE_METATYPE(opd::DataPacket)
