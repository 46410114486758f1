#pragma once
// A list of keys (read from a picker's list text, platform/ListText.h) bound
// as one statement parameter: the keys never become SQL text.

#include <string>
#include <vector>

namespace opd::appserver::listparam {

// The keys as a JSON array of strings, for json_each / json_array_elements_text.
std::string toJsonArray(const std::vector<std::string> &keys);
// The keys as a PostgreSQL array literal ({"A","B\"C"}), for = ANY (CAST(? AS text[])).
std::string toPgArray(const std::vector<std::string> &keys);

} // namespace opd::appserver::listparam
