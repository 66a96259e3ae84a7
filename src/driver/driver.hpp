// The cumulative driver: from one input array and the parsed settings to the result in the slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/types.hpp"
#include "host/vx.hpp"

namespace tzcumfun {

// Resolves the working dimension (written back into `dim`, 0-based), answers calls that need no
// scan, prepares the result, scans and moves the result into `plhs[0]` as its very last step, so
// that a failure anywhere leaves the slot as it was.
void cumDriver(CumOp op, matrix::ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag);

// Runs the operation's scan of `scanIn` into `result`, which have the same shape.
template <CumOp Op>
void cumDispatch(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                 std::size_t dimLen, std::size_t nvec, std::size_t stride, LayoutMode layout,
                 std::uint8_t nanFlag);

}  // namespace tzcumfun
