#pragma once
// State of opd::DataPacketReader, shared by its two halves: the packet's
// outline (DataPacketReader.cpp) and its rows (DataPacketRows.cpp). Not part
// of the public interface.

#include "platform/CborReader.h"
#include "platform/DataPacket.h"
#include "platform/DataPacketData.h"

#include <QString>

namespace opd {

namespace packetlimits {
constexpr int maxFields = 1024;
constexpr int maxNameBytes = 256;
constexpr int maxTextSize = 65535;     // characters of one text field
constexpr int maxKeyBytes = 16;
} // namespace packetlimits

enum class Step { Ok, More, Fail };

struct DataPacketReader::Private
{
    enum State {
        TopMap, KeyFormat, FormatValue, KeyFields, FieldsArray, FieldMap, KeyName, NameValue,
        KeyType, TypeValue, KeySize, SizeValue, KeyAttrs, AttrsValue, KeyRows, RowsArray,
        Cells, KeyCount, CountValue, Finished
    };

    State state = TopMap;
    Status status = NeedMore;
    QString error;
    QByteArray carry;            // an item cut off at the end of the last chunk
    qint64 streamPos = 0;        // offset of the buffer being parsed in the stream
    const uchar *bufStart = nullptr;

    quint64 fieldTotal = 0;
    QList<FieldDef> defs;
    FieldDef current;
    DataPacket packet;
    DataPacketData *out = nullptr;
    int cell = 0;                // next cell of the row being read
    bool inRow = false;          // the row's head was read
    // The longest single item the packet may hold so far: a head plus the
    // longest name, or a head plus the widest text field.
    int maxItem = 9 + packetlimits::maxNameBytes;

    Step fail(const uchar *at, const QString &message);

    // A definite text string of at most maxBytes bytes.
    Step text(const uchar *&p, const uchar *end, int maxBytes, QByteArrayView *value, const char *what);
    Step key(const uchar *&p, const uchar *end, const char *name);
    Step unsignedValue(const uchar *&p, const uchar *end, quint64 max, quint64 *value, const char *what);
    Step containerHead(const uchar *&p, const uchar *end, int major, cbor::Head *h);

    Step cells(const uchar *&p, const uchar *end);
    Status run(const uchar *&p, const uchar *end);
};

} // namespace opd
