// The cumulative minimum on the shared dispatch, with its functor table.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {

template <>
void cumDispatch<CumOp::Min>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Min>>(plan, in, out);
}

}  // namespace tzcumfun
