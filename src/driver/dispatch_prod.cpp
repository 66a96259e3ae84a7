// The cumulative product on the shared dispatch, with its functor table.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {

template <>
void cumDispatch<CumOp::Prod>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Prod>>(plan, in, out);
}

}  // namespace tzcumfun
