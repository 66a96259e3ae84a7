// The cumulative sum on the shared dispatch, at the level this object is built for.
#include "driver/dispatch.hpp"
#include "driver/tables.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

template <>
void levelDispatch<CumOp::Sum>(std::uint8_t direction, const vxArray_tag* scanIn,
                               vxArray_tag* result, std::size_t dimLen, std::size_t nvec,
                               std::size_t stride, LayoutMode layout, std::uint8_t nanFlag) {
    dispatchOperation<SumTable>(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
