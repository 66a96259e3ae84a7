// A call settled once, then run: the plan of a scan and its execution into a destination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "driver/operations.hpp"
#include "driver/types.hpp"
#include "host/vx.hpp"

namespace tzcumfun {

// What the argument reader leaves: the dimension (0 when not given, else 1-based), the direction
// (1 forward, 0 reverse) and the NaN flag (1 omit, 0 include).
struct CumSettings {
    std::size_t dim = 0;
    std::uint8_t direction = 1;
    std::uint8_t nanFlag = 0;
};

constexpr CumSettings defaultSettings(CumOp op) {
    return {0, 1, operationOf(op).defaultNaNFlag};
}

// The input as planning sees it: its class, storage and dimensions in the host's column-major
// order. `dims` is borrowed for the planning call only.
struct CumInput {
    vxClassID classId;
    bool complex;
    bool sparse;
    bool empty;
    std::span<const std::size_t> dims;
};

// Everything a call settles before it touches an element.
struct CumPlan {
    CumOp op;
    vxClassID classId;      // the input's
    vxClassID resultClass;  // double for sums and products of logical data, else the input's
    bool complex;           // of input and result, before the host drops an all-zero imaginary part
    bool sparse;
    bool forward;
    std::uint8_t nanFlag;
    // False when no element needs a scan (an empty array, or vectors of one element that `init`
    // would copy): the result is then the input, converted to the result's class.
    bool scan;
    std::size_t workDim;  // 0-based; may lie past the last dimension, which is then a singleton
    std::size_t dimLen;
    std::size_t stride;
    std::size_t nvec;
    std::size_t numel;
    LayoutMode layout;
};

// The host's rule for a call with no dimension, or a caller's own where there is no host.
using FirstNonSingleton = std::size_t (*)(std::size_t ndims, const std::size_t* dims);

// Settles a call: working dimension, whether anything is scanned, the result's class and the
// geometry and layout of the scan. Refuses nothing: the argument reader has already.
CumPlan planCumCall(CumOp op, const CumSettings& settings, const CumInput& input,
                    FirstNonSingleton firstNonSingleton);

// Runs `plan` from the input's elements into `out`, both dense in the host's order and of
// `plan.numel` elements; `out` may be `in` when the result's element type is the input's (in
// place). With nothing to scan the elements are copied, logical data converted to double. The
// caller has checked the buffers; nothing here throws once the scan starts.
void executeCumPlan(const CumPlan& plan, const void* in, void* out);

// The operation's kernels: the scan of `in` into `out` in the plan's geometry.
template <CumOp Op>
void cumDispatch(const CumPlan& plan, const void* in, void* out);

}  // namespace tzcumfun
