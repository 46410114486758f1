#include "appserver/ListText.h"

#include "appserver/JsonText.h"

namespace opd::appserver {

bool ListText::parse(std::string_view text, std::vector<std::string> *keys)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    std::vector<std::string> out;
    size_t i = begin;
    while (i < end) {
        if (text[i] != '\'')
            return false;
        ++i;
        std::string key;
        bool closed = false;
        while (i < end) {
            if (text[i] == '\'') {
                if (i + 1 < end && text[i + 1] == '\'') {
                    key += '\'';
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            if (text[i] == '\0')
                return false;
            key += text[i++];
        }
        if (!closed)
            return false;
        out.push_back(std::move(key));
        if (i == end)
            break;
        if (text[i] != ',' || i + 1 == end)
            return false;
        ++i;
    }
    *keys = std::move(out);
    return true;
}

std::string ListText::toJsonArray(const std::vector<std::string> &keys)
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

std::string ListText::toPgArray(const std::vector<std::string> &keys)
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

} // namespace opd::appserver
