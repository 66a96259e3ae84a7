// The cumulative product on the shared dispatch, at the level this object is built for.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

template <>
void levelDispatch<CumOp::Prod>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Prod>>(plan, in, out);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
