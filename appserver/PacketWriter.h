#pragma once
// Streams one data packet (docs/datapacket.md) from the rows of a statement:
// the field list, then each row as it is stepped, then the row count. Cells go
// from the driver's buffer to the writer as bytes; dates are turned from ISO
// text into day counts on the way.

#include "appserver/ReplyWriter.h"
#include "db/Database.h"
#include "platform/FieldTypes.h"

#include <functional>
#include <vector>

namespace opd::appserver {

struct PacketField
{
    const char *name;
    FieldType type;
    int size;   // characters for the text types
};

class PacketWriter
{
public:
    // Writes the whole packet. Column i of the statement feeds field i.
    // Returns the number of rows, or -1 when the writer was aborted mid-way.
    static qint64 write(ReplyWriter &writer, const std::vector<PacketField> &fields,
                        db::Statement &rows);
};

} // namespace opd::appserver
