// The cumulative sum on the shared dispatch, with its functor table.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {

template <>
void cumDispatch<CumOp::Sum>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Sum>>(plan, in, out);
}

}  // namespace tzcumfun
