#include "appserver/PacketWriter.h"

#include "db/DayCount.h"

namespace opd::appserver {

namespace {

const char *typeName(PacketType type)
{
    switch (type) {
    case PacketType::String: return "string";
    case PacketType::Fixed: return "fixed";
    case PacketType::Float: return "float";
    case PacketType::DateTime: return "datetime";
    }
    return "string";
}

} // namespace

QByteArrayView PacketWriter::clip(QByteArrayView utf8, int chars)
{
    // Fewer bytes than the limit cannot hold more characters than it.
    if (utf8.size() <= chars)
        return utf8;
    int seen = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            if (seen == chars)
                return utf8.first(i);
            ++seen;
        }
    }
    return utf8;
}

qint64 PacketWriter::write(ReplyWriter &writer, const std::vector<PacketField> &fields,
                           db::Statement &rows)
{
    writer.beginMap(4);
    writer.key("format");
    writer.text("opd-packet/1");
    writer.key("fields");
    writer.beginArray(qsizetype(fields.size()));
    for (const PacketField &f : fields) {
        writer.beginMap(4);
        writer.key("name");
        writer.text(f.name);
        writer.key("type");
        writer.text(typeName(f.type));
        writer.key("size");
        writer.integer(f.type == PacketType::String || f.type == PacketType::Fixed ? f.size : 8);
        writer.key("attrs");
        writer.integer(0);
        writer.endMap();
    }
    writer.endArray();
    writer.key("rows");
    writer.beginArray(-1);
    qint64 count = 0;
    const int n = int(fields.size());
    while (rows.step()) {
        writer.beginArray(n);
        for (int c = 0; c < n; ++c) {
            if (rows.isNull(c)) {
                writer.null();
                continue;
            }
            switch (fields[size_t(c)].type) {
            case PacketType::String:
            case PacketType::Fixed: {
                const std::string_view cell = rows.text(c);
                // An empty text and null both mean "no value": sent as null.
                if (cell.empty()) {
                    writer.null();
                    break;
                }
                // SQLite does not enforce VARCHAR sizes; a client refuses a
                // packet whose text exceeds its field, so never send one.
                writer.text(clip(QByteArrayView(cell.data(), qsizetype(cell.size())), fields[size_t(c)].size));
                break;
            }
            case PacketType::Float:
                writer.number(rows.number(c));
                break;
            case PacketType::DateTime: {
                long long days = 0;
                if (db::dayCountFromIso(rows.text(c), &days))
                    writer.number(double(days));
                else
                    writer.null();
                break;
            }
            }
        }
        writer.endArray();
        ++count;
        if ((count & 255) == 0 && writer.aborted())
            return -1;
    }
    writer.endArray();
    writer.key("count");
    writer.integer(count);
    writer.endMap();
    return count;
}

} // namespace opd::appserver
