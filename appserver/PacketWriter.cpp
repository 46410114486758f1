#include "appserver/PacketWriter.h"

#include "db/DayCount.h"
#include "platform/Utf8.h"

namespace opd::appserver {

qint64 PacketWriter::write(ReplyWriter &writer, const std::vector<PacketField> &fields,
                           db::Statement &rows)
{
    writer.beginMap(4);
    writer.key("format");
    writer.text(packetFormatTag);
    writer.key("fields");
    writer.beginArray(qsizetype(fields.size()));
    for (const PacketField &f : fields) {
        writer.beginMap(4);
        writer.key("name");
        writer.text(f.name);
        writer.key("type");
        writer.text(fieldTypeName(f.type));
        writer.key("size");
        writer.integer(isTextType(f.type) ? f.size : 8);
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
            case FieldType::String:
            case FieldType::FixedChar: {
                const std::string_view cell = rows.text(c);
                // An empty text and null both mean "no value": sent as null.
                if (cell.empty()) {
                    writer.null();
                    break;
                }
                // SQLite does not enforce VARCHAR sizes; a client refuses a
                // packet whose text exceeds its field, so never send one.
                writer.text(utf8::clip(QByteArrayView(cell.data(), qsizetype(cell.size())), fields[size_t(c)].size));
                break;
            }
            case FieldType::Float:
                writer.number(rows.number(c));
                break;
            case FieldType::DateTime: {
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
