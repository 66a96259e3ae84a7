// Each operation's whole-array scan at the instruction level in use: one table per operation.
#include "driver/dispatch_levels.hpp"
#include "driver/driver.hpp"

namespace tzcumfun {

// The level is looked up on every call, after the driver has made the result and before any
// element is read: a TZCUMFUN_CPU the processor cannot honour fails the call there.
template <CumOp Op>
void cumDispatch(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                 std::size_t dimLen, std::size_t nvec, std::size_t stride, LayoutMode layout,
                 std::uint8_t nanFlag) {
    static constexpr decltype(&isa_baseline::levelDispatch<Op>) kLevels[kCpuLevels] =
        TZCUMFUN_AT_EVERY_LEVEL(levelDispatch<Op>);
    atActiveLevel(kLevels)(direction, scanIn, result, dimLen, nvec, stride, layout, nanFlag);
}

template void cumDispatch<CumOp::Sum>(std::uint8_t, const vxArray_tag*, vxArray_tag*, std::size_t,
                                      std::size_t, std::size_t, LayoutMode, std::uint8_t);
template void cumDispatch<CumOp::Prod>(std::uint8_t, const vxArray_tag*, vxArray_tag*, std::size_t,
                                       std::size_t, std::size_t, LayoutMode, std::uint8_t);
template void cumDispatch<CumOp::Min>(std::uint8_t, const vxArray_tag*, vxArray_tag*, std::size_t,
                                      std::size_t, std::size_t, LayoutMode, std::uint8_t);
template void cumDispatch<CumOp::Max>(std::uint8_t, const vxArray_tag*, vxArray_tag*, std::size_t,
                                      std::size_t, std::size_t, LayoutMode, std::uint8_t);

}  // namespace tzcumfun
