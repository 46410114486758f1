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

// What the clerk saw of the field before a write: `present` false means the
// write was sent without an expectation (last write wins); `value` empty
// stands for "no value" (no date, no description). Dates as ISO "yyyy-mm-dd".
struct Expected
{
    bool present = false;
    std::optional<std::string> value;
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

    // The writes read the stored value with the row locked, in their own
    // transaction: the audit row's old value is exactly the value replaced.
    // A write that stores what is already there succeeds and adds no audit
    // row; one whose expectation differs from the stored value (and that
    // would change it) throws ConflictError.
    static void setDescEmi(db::Database &db, const std::string &user, const std::string &description,
                           const std::string &branch, const std::string &order, const std::string &item,
                           const Expected &expected = {});
    // `day` is a whole day count; `today` is passed in so that the rule can be tested.
    static void setDtEntregaPed(db::Database &db, const std::string &user, long long day,
                                const std::string &branch, const std::string &order, long long today,
                                const Expected &expected = {});

    // The audit rows of an order (`item` empty: the order's own fields) or of
    // one item, newest first, as one packet of five texts: when
    // ("dd/mm/yyyy hh:mm"), who, field (its label), old and new value (dates
    // as dd/mm/yyyy).
    static PayloadWriter getHistorico(db::Database &db, const std::string &branch, const std::string &order,
                                      const std::string &item);

    static constexpr int kDescriptionMax = 400;
};

} // namespace opd::appserver
