// The operations, one row each: their names and the rules in which they differ besides functors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "driver/types.hpp"

namespace tzcumfun {

struct Operation {
    CumOp op;
    // The name a user calls it by; it also stands in every error identifier of the operation.
    std::string_view name;
    // The NaN flag a call starts from: extremes pass over NaN unless told otherwise, sums and
    // products let it through.
    std::uint8_t defaultNaNFlag;
    // Sums and products of logical data count, so they are double; extremes of logical data stay
    // logical. The same operations must scan one-element vectors when they omit NaN, since a
    // lone NaN becomes their omission value; the extremes copy such vectors whatever the flag.
    bool logicalBecomesDouble;
};

inline constexpr std::array<Operation, 4> kOperations{{
    {CumOp::Sum, "cumsum", 0, true},
    {CumOp::Prod, "cumprod", 0, true},
    {CumOp::Min, "cummin", 1, false},
    {CumOp::Max, "cummax", 1, false},
}};

constexpr const Operation& operationOf(CumOp op) {
    return kOperations[static_cast<std::size_t>(op)];
}

// Calls `visit.template operator()<Op>()` with the tag `op` as a constant: the one step from a
// run-time operation to code compiled for it, read off the table.
template <class Visit>
void visitOperation(CumOp op, Visit&& visit) {
    [&]<std::size_t... Row>(std::index_sequence<Row...>) {
        (void)((op == kOperations[Row].op &&
                (visit.template operator()<kOperations[Row].op>(), true)) ||
               ...);
    }
    (std::make_index_sequence<kOperations.size()>());
}

}  // namespace tzcumfun
