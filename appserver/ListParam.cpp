#include "appserver/ListParam.h"

#include "appserver/JsonText.h"

namespace opd::appserver::listparam {

std::string toJsonArray(const std::vector<std::string> &keys)
{
    std::string out = "[";
    for (size_t k = 0; k < keys.size(); ++k) {
        if (k)
            out += ',';
        appendJsonString(out, keys[k]);
    }
    out += ']';
    return out;
}

std::string toPgArray(const std::vector<std::string> &keys)
{
    // Every element quoted, so that empty keys, blanks, commas, braces and
    // the word NULL stay plain text; inside quotes only " and \ are escaped.
    std::string out = "{";
    for (size_t k = 0; k < keys.size(); ++k) {
        if (k)
            out += ',';
        out += '"';
        for (char c : keys[k]) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    out += '}';
    return out;
}

} // namespace opd::appserver::listparam
