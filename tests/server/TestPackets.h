#pragma once
// Small data packets shaped like the orders and items answers, and a way to
// spell a whole packet out so that one comparison checks it.

#include "platform/DataPacket.h"

#include <QStringList>

namespace TestPackets {

inline opd::FieldDef field(const char *name, opd::FieldType type, int size)
{
    opd::FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

opd::DataPacket orders();     // 2 rows, one delivery date null, accents
opd::DataPacket items();      // 3 rows, an empty and a null description, quotes

// First line: the fields as name:type:size; then one line per row, cells
// separated by '|', numbers at full precision, nulls as <null>.
QStringList rowsOf(const opd::DataPacket &packet);

} // namespace TestPackets
