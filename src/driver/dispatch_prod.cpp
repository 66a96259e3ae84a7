// The cumulative product's functor table on the shared dispatch.
#include "driver/dispatch.hpp"
#include "functors/prod.hpp"

namespace tzcumfun {

struct ProdTable {
    using Logical = ProdFtorLogical;
    using LogicalOut = double;
    template <class T>
    using Float = ProdFtorFloat<T>;
    template <class T>
    using NaN = ProdNaNFtor<T>;
    template <class T>
    using Int = ProdFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 1;  // "omitnan" selects the omitting product
};

template <>
void cumDispatch<CumOp::Prod>(std::uint8_t direction, const vxArray_tag* scanIn,
                              vxArray_tag* result, std::size_t dimLen, std::size_t nvec,
                              std::size_t stride, LayoutMode layout, std::uint8_t nanFlag) {
    dispatchOperation<ProdTable>(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

}  // namespace tzcumfun
