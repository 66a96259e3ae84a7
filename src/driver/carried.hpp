// Scans of one block of an array split along its working dimension, for callers that hold the
// blocks of one array in separate places and pass running values between them.
#pragma once

#include <cstdint>

#include "driver/types.hpp"
#include "host/vx.hpp"
#include "traversal/geometry.hpp"

namespace tzcumfun {

// Element data of one block in its geometry. `carry` holds one running value per vector, of the
// result's element type, or is null for the block that starts the vectors.
struct CarriedBlock {
    BlockGeometry geometry;
    const void* in;
    void* out;
    const void* carry;
};

// Picks the functor as the gateways do, from the operation, the host class, the complexity and the
// NaN flag, and scans the block serially. The caller has checked its arguments.
void carriedScan(CumOp op, vxClassID classId, bool complex, std::uint8_t nanFlag,
                 const CarriedBlock& block);

}  // namespace tzcumfun
