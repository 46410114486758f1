#pragma once
// The orders of the issuing-description screen: the search, the two picker
// lists and the two writes. Inputs are already decoded (texts trimmed, lists
// parsed, dates as whole day counts); every value reaches SQL as a bound
// parameter, the SQL text being assembled from constant fragments only.
// Business failures throw ServiceError with the Portuguese message.

#include "appserver/ModuleRegistry.h"

#include <optional>
#include <string>
#include <vector>

namespace opd::appserver {

struct PedidoFilter
{
    std::string branch;                           // empty: every issuing branch
    std::optional<std::pair<std::string, std::string>> numberRange;  // 10-digit texts
    std::optional<std::vector<std::string>> numbers;
    std::optional<std::vector<std::string>> customers;
    std::optional<std::pair<long long, long long>> entryDays;     // inclusive day counts
    std::optional<std::pair<long long, long long>> deliveryDays;
    std::optional<std::vector<std::string>> destinations;
    std::optional<std::vector<std::string>> sellers;
    std::optional<std::vector<int>> statuses;     // codes 1-6
};

class DescEmiPedService
{
public:
    // Orders and their items: a payload of two packets, streamed.
    static PayloadWriter getPedido(db::Database &db, const PedidoFilter &filter);
    // Order numbers of a branch (empty: all) for the order-number picker.
    static PayloadWriter getNrPedido(db::Database &db, const std::string &branch);
    // Branches of a company (empty: all); `all` false leaves out the branches
    // marked IDCNTRRESC 'S'.
    static PayloadWriter getFilial(db::Database &db, const std::string &company, bool all);

    static void setDescEmi(db::Database &db, const std::string &user, const std::string &description,
                           const std::string &branch, const std::string &order, const std::string &item);
    // `day` is a whole day count; `today` is passed in so that the rule can be tested.
    static void setDtEntregaPed(db::Database &db, const std::string &user, long long day,
                                const std::string &branch, const std::string &order, long long today);

    static constexpr int kDescriptionMax = 400;
};

} // namespace opd::appserver
