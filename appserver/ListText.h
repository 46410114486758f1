#pragma once
// The list texts the host's list picker leaves: keys between single quotes,
// inner quotes doubled, separated by commas ('A','B''C'); blanks around the
// whole text are ignored, an empty text is an empty list. Anything else is
// refused: the keys are bound as parameters, so a lenient parser would only
// hide a client fault.

#include <string>
#include <string_view>
#include <vector>

namespace opd::appserver {

class ListText
{
public:
    // False (and *keys untouched) when the text is not a well-formed list.
    static bool parse(std::string_view text, std::vector<std::string> *keys);
    // The keys as a JSON array of strings, for json_each / json_array_elements_text.
    static std::string toJsonArray(const std::vector<std::string> &keys);
    // The keys as a PostgreSQL array literal ({"A","B\"C"}), for = ANY (CAST(? AS text[])).
    static std::string toPgArray(const std::vector<std::string> &keys);
};

} // namespace opd::appserver
