#pragma once
// JSON string literals written by hand: the reply writer streams them and the
// list parser hands the keys to the database as one JSON array.

#include <string_view>

namespace opd::appserver {

// Appends utf8 to out as a quoted JSON string. Out is std::string or QByteArray.
template<typename Out>
void appendJsonString(Out &out, std::string_view utf8)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace opd::appserver
