// The cumulative sum's functor table on the shared dispatch.
#include "driver/dispatch.hpp"
#include "functors/sum.hpp"

namespace tzcumfun {

struct SumTable {
    using Logical = SumFtorLogical;
    using LogicalOut = double;
    template <class T>
    using Float = SumFtorFloat<T>;
    template <class T>
    using NaN = SumNaNFtor<T>;
    template <class T>
    using Int = SumFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 1;  // "omitnan" selects the omitting sum
};

template <>
void cumDispatch<CumOp::Sum>(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                             std::size_t dimLen, std::size_t nvec, std::size_t stride,
                             LayoutMode layout, std::uint8_t nanFlag) {
    dispatchOperation<SumTable>(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

}  // namespace tzcumfun
