#include "platform/FieldTypes.h"

namespace opd {

const char *fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::String: return "string";
    case FieldType::FixedChar: return "fixed";
    case FieldType::Float: return "float";
    case FieldType::DateTime: return "datetime";
    }
    return "";
}

bool fieldTypeFromName(QByteArrayView name, FieldType *type)
{
    static const FieldType all[] = {FieldType::String, FieldType::FixedChar, FieldType::Float,
                                    FieldType::DateTime};
    for (FieldType t : all) {
        if (name == QByteArrayView(fieldTypeName(t))) {
            if (type)
                *type = t;
            return true;
        }
    }
    return false;
}

} // namespace opd
