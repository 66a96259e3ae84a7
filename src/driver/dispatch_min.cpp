// The cumulative minimum on the shared dispatch, at the level this object is built for.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

template <>
void levelDispatch<CumOp::Min>(const CumPlan& plan, const void* in, void* out) {
    dispatchOperation<FunctorTableOf<CumOp::Min>>(plan, in, out);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
