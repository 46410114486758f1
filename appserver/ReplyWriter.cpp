#include "appserver/ReplyWriter.h"

#include "appserver/JsonText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace opd::appserver {

std::unique_ptr<ReplyWriter> ReplyWriter::create(bool cbor, QIODevice *device)
{
    if (cbor)
        return std::make_unique<CborReplyWriter>(device);
    return std::make_unique<JsonReplyWriter>(device);
}

std::unique_ptr<ReplyWriter> ReplyWriter::create(bool cbor, PieceReceiver receiver, size_t pieceBytes)
{
    if (cbor)
        return std::make_unique<CborReplyWriter>(std::move(receiver), pieceBytes);
    return std::make_unique<JsonReplyWriter>(std::move(receiver), pieceBytes);
}

ReplyWriter::ReplyWriter(QIODevice *device)
    : ReplyWriter(
          [device](std::string &piece) {
              const bool ok = device->write(piece.data(), qint64(piece.size())) == qint64(piece.size());
              piece.clear();   // keeps the block
              return ok;
          },
          kPieceBytes)
{
    m_toDevice = true;
}

ReplyWriter::ReplyWriter(PieceReceiver receiver, size_t pieceBytes)
    : m_receiver(std::move(receiver)), m_pieceBytes(std::max<size_t>(1, pieceBytes))
{
    m_piece.reserve(m_pieceBytes + 1024);
}

ReplyWriter::~ReplyWriter()
{
    if (m_toDevice)
        flush();
}

bool ReplyWriter::flush()
{
    if (m_refused) {
        m_piece.clear();
        return false;
    }
    if (m_piece.empty())
        return true;
    if (!m_receiver(m_piece))
        m_refused = true;
    // A receiver that kept the bytes left an empty string without a block.
    m_piece.clear();
    if (m_piece.capacity() < m_pieceBytes)
        m_piece.reserve(m_pieceBytes + 1024);
    return !m_refused;
}

// The heads are encoded straight into the piece: QCborStreamWriter wrote
// each item through QIODevice::write, which on a large answer cost a fifth
// of the server's time in calls, copies and inserts.
CborReplyWriter::CborReplyWriter(QIODevice *device) : ReplyWriter(device) {}

CborReplyWriter::CborReplyWriter(PieceReceiver receiver, size_t pieceBytes)
    : ReplyWriter(std::move(receiver), pieceBytes)
{
}

void CborReplyWriter::head(unsigned major, quint64 value)
{
    char bytes[9];
    const char type = char(major << 5);
    size_t n = 1;
    if (value < 24) {
        bytes[0] = char(type | char(value));
    } else if (value <= 0xff) {
        bytes[0] = char(type | 24);
        bytes[1] = char(value);
        n = 2;
    } else if (value <= 0xffff) {
        bytes[0] = char(type | 25);
        n = 3;
    } else if (value <= 0xffffffffULL) {
        bytes[0] = char(type | 26);
        n = 5;
    } else {
        bytes[0] = char(type | 27);
        n = 9;
    }
    for (size_t i = n - 1; n > 2 && i >= 1; --i) {
        bytes[i] = char(value & 0xff);
        value >>= 8;
    }
    item(bytes, n);
}

void CborReplyWriter::ended()
{
    if (full() || (m_indefinite.empty() && toDevice()))
        flush();
}

void CborReplyWriter::beginMap(qsizetype count)
{
    if (count < 0)
        item("\xbf", 1);
    else
        head(5, quint64(count));
    m_indefinite.push_back(count < 0);
}
void CborReplyWriter::endMap() { endArray(); }
void CborReplyWriter::beginArray(qsizetype count)
{
    if (count < 0)
        item("\x9f", 1);
    else
        head(4, quint64(count));
    m_indefinite.push_back(count < 0);
}
void CborReplyWriter::endArray()
{
    if (m_indefinite.back())
        item("\xff", 1);
    m_indefinite.pop_back();
    ended();
}
void CborReplyWriter::key(QByteArrayView latin1) { text(latin1); }
void CborReplyWriter::text(QByteArrayView utf8)
{
    head(3, quint64(utf8.size()));
    item(utf8.data(), size_t(utf8.size()));
    ended();
}
void CborReplyWriter::number(double value)
{
    // Whole numbers (day counts, most quantities) as integers: smaller and
    // read back as the same double.
    if (std::trunc(value) == value && std::fabs(value) < 9.0e15) {
        integer(qint64(value));
        return;
    }
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    char bytes[9];
    bytes[0] = char(0xfb);
    for (int i = 8; i >= 1; --i) {
        bytes[i] = char(bits & 0xff);
        bits >>= 8;
    }
    item(bytes, 9);
    ended();
}
void CborReplyWriter::integer(qint64 value)
{
    if (value >= 0)
        head(0, quint64(value));
    else
        head(1, quint64(-1 - value));
    ended();
}
void CborReplyWriter::boolean(bool value)
{
    item(value ? "\xf5" : "\xf4", 1);
    ended();
}
void CborReplyWriter::null()
{
    item("\xf6", 1);
    ended();
}

JsonReplyWriter::JsonReplyWriter(QIODevice *device) : ReplyWriter(device) {}

JsonReplyWriter::JsonReplyWriter(PieceReceiver receiver, size_t pieceBytes)
    : ReplyWriter(std::move(receiver), pieceBytes)
{
}

void JsonReplyWriter::closed()
{
    if (full() || (m_first.empty() && toDevice()))
        flush();
}

void JsonReplyWriter::separate()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back())
            raw(",");
        m_first.back() = false;
    }
}

void JsonReplyWriter::beginMap(qsizetype)
{
    separate();
    raw("{");
    m_first.push_back(true);
}
void JsonReplyWriter::endMap()
{
    m_first.pop_back();
    raw("}");
    closed();
}
void JsonReplyWriter::beginArray(qsizetype)
{
    separate();
    raw("[");
    m_first.push_back(true);
}
void JsonReplyWriter::endArray()
{
    m_first.pop_back();
    raw("]");
    closed();
}
void JsonReplyWriter::key(QByteArrayView latin1)
{
    text(latin1);
    raw(":");
    m_afterKey = true;
}

void JsonReplyWriter::text(QByteArrayView utf8)
{
    separate();
    appendJsonString(m_piece, std::string_view(utf8.data(), size_t(utf8.size())));
}

void JsonReplyWriter::number(double value)
{
    separate();
    if (!std::isfinite(value)) {
        raw("null");
        return;
    }
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    raw(QByteArrayView(buffer, r.ptr - buffer));
}
void JsonReplyWriter::integer(qint64 value)
{
    separate();
    raw(QByteArray::number(value));
}
void JsonReplyWriter::boolean(bool value)
{
    separate();
    raw(value ? "true" : "false");
}
void JsonReplyWriter::null()
{
    separate();
    raw("null");
}

} // namespace opd::appserver
