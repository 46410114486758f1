#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace opd {

// The format tag every data packet opens with (docs/datapacket.md).
inline constexpr char packetFormatTag[] = "opd-packet/1";

// Field types of client data sets and data packets.
//   String    text of at most `size` characters (UTF-8 bytes held)
//   FixedChar fixed text of `size` characters
//   Float     double
//   DateTime  day count as double, day 0 = 30/12/1899, fraction = time of day
enum class FieldType : std::uint8_t { String = 1, FixedChar = 2, Float = 3, DateTime = 4 };

// Attribute bits carried by data packets.
enum FieldAttr : std::uint32_t {
    AttrReadOnly = 1u << 0,
    AttrHidden = 1u << 1,
    AttrRequired = 1u << 2,
};

struct FieldDef
{
    QByteArray name;
    FieldType type = FieldType::String;
    int size = 20;            // characters, for the text types
    QString label;            // empty: the name
    bool readOnly = false;
    bool hidden = false;
    bool required = false;
    QString editMask;         // "body;keepLiterals;blank" or QLineEdit's "body;blank"
    int displayWidth = 0;     // characters; 0: from size
};

// The types' names in data packets. Inline, like the format tag: the
// application server writes packets with these without linking this library.
inline constexpr const char *fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::String: return "string";
    case FieldType::FixedChar: return "fixed";
    case FieldType::Float: return "float";
    case FieldType::DateTime: return "datetime";
    }
    return "";
}

inline bool fieldTypeFromName(QByteArrayView name, FieldType *type)
{
    for (FieldType t : {FieldType::String, FieldType::FixedChar, FieldType::Float, FieldType::DateTime}) {
        if (name == QByteArrayView(fieldTypeName(t))) {
            if (type)
                *type = t;
            return true;
        }
    }
    return false;
}

inline constexpr bool isTextType(FieldType type)
{
    return type == FieldType::String || type == FieldType::FixedChar;
}

// Edit masks are kept as the screens declare them: "body;keepLiterals;blank"
// ("!99/99/0000;1;_"). QLineEdit knows only "body;blank", and would read the
// keep-literals flag as the blank character. Masks already in that form pass
// through unchanged.
QString inputMaskForLineEdit(const QString &editMask);

} // namespace opd
