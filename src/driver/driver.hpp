// The cumulative driver: from one input array and the parsed settings to the result in the slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/plan.hpp"

namespace tzcumfun {

// Plans the call on the host array, writes the 0-based working dimension back into `dim`, and
// runs the plan into a fresh host result moved into `plhs[0]` as the very last step.
void cumDriver(CumOp op, matrix::ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag);

}  // namespace tzcumfun
