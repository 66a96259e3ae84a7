// The cumulative maximum's functor table on the shared dispatch.
#include "driver/dispatch.hpp"
#include "functors/minmax.hpp"

namespace tzcumfun {

struct MaxTable {
    using Logical = MaxFtorLogical;
    using LogicalOut = bool;
    template <class T>
    using Float = MaxFtorFloat<T>;
    template <class T>
    using NaN = MaxNaNFtor<T>;
    template <class T>
    using Int = MaxFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 0;  // "includenan" carries NaN along
};

template <>
void cumDispatch<CumOp::Max>(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                             std::size_t dimLen, std::size_t nvec, std::size_t stride,
                             LayoutMode layout, std::uint8_t nanFlag) {
    dispatchOperation<MaxTable>(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

}  // namespace tzcumfun
