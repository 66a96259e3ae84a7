// The cumulative driver: from one input array and the parsed settings to the result in the slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/plan.hpp"

namespace tzcumfun {

// A host array as planning sees it.
CumInput describeHostArray(const vxArray_tag* array);

// Runs `plan` on a host array into a fresh host result, which the host's rules finish (an
// all-zero imaginary part dropped, sparse data made sparse again) and which is moved into
// `plhs[0]` as the very last step, so that a failure anywhere leaves the slot as it was.
void executeToHost(const CumPlan& plan, const vxArray_tag* input, matrix::ArrayHandle* plhs);

// Plans the call on the host array, writes the 0-based working dimension back into `dim`, and
// runs the plan into a fresh host result moved into `plhs[0]` as the very last step.
void cumDriver(CumOp op, matrix::ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag);

}  // namespace tzcumfun
