#include "appserver/ReplyWriter.h"

#include "appserver/JsonText.h"

#include <QCborStreamWriter>
#include <charconv>
#include <cmath>

namespace opd::appserver {

std::unique_ptr<ReplyWriter> ReplyWriter::create(bool cbor, QIODevice *device)
{
    if (cbor)
        return std::make_unique<CborReplyWriter>(device);
    return std::make_unique<JsonReplyWriter>(device);
}

CborReplyWriter::CborReplyWriter(QIODevice *device) : m_writer(new QCborStreamWriter(device)) {}
CborReplyWriter::~CborReplyWriter() = default;

void CborReplyWriter::beginMap(qsizetype count)
{
    if (count < 0)
        m_writer->startMap();
    else
        m_writer->startMap(quint64(count));
}
void CborReplyWriter::endMap() { m_writer->endMap(); }
void CborReplyWriter::beginArray(qsizetype count)
{
    if (count < 0)
        m_writer->startArray();
    else
        m_writer->startArray(quint64(count));
}
void CborReplyWriter::endArray() { m_writer->endArray(); }
void CborReplyWriter::key(QByteArrayView latin1) { m_writer->appendTextString(latin1.data(), latin1.size()); }
void CborReplyWriter::text(QByteArrayView utf8) { m_writer->appendTextString(utf8.data(), utf8.size()); }
void CborReplyWriter::number(double value)
{
    // Whole numbers (day counts, most quantities) as integers: smaller and
    // read back as the same double.
    if (std::trunc(value) == value && std::fabs(value) < 9.0e15)
        m_writer->append(qint64(value));
    else
        m_writer->append(value);
}
void CborReplyWriter::integer(qint64 value) { m_writer->append(value); }
void CborReplyWriter::boolean(bool value) { m_writer->append(value); }
void CborReplyWriter::null() { m_writer->appendNull(); }

JsonReplyWriter::JsonReplyWriter(QIODevice *device) : m_device(device) {}

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
    QByteArray out;
    out.reserve(utf8.size() + 2);
    appendJsonString(out, std::string_view(utf8.data(), size_t(utf8.size())));
    raw(out);
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
