// The cumulative minimum's functor table on the shared dispatch.
#include "driver/dispatch.hpp"
#include "functors/minmax.hpp"

namespace tzcumfun {

struct MinTable {
    using Logical = MinFtorLogical;
    using LogicalOut = bool;
    template <class T>
    using Float = MinFtorFloat<T>;
    template <class T>
    using NaN = MinNaNFtor<T>;
    template <class T>
    using Int = MinFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 0;  // "includenan" carries NaN along
};

template <>
void cumDispatch<CumOp::Min>(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                             std::size_t dimLen, std::size_t nvec, std::size_t stride,
                             LayoutMode layout, std::uint8_t nanFlag) {
    dispatchOperation<MinTable>(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

}  // namespace tzcumfun
