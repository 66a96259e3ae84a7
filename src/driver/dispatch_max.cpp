// The cumulative maximum on the shared dispatch, with its functor table.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {

template <>
void cumDispatch<CumOp::Max>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Max>>(plan, in, out);
}

}  // namespace tzcumfun
