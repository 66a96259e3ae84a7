// The shape of a block of an array split along its working dimension, for the carried scans.
#pragma once

#include <cstddef>

namespace tzcumfun {

// A block in memory as pages of `dimLen` slices, each slice `stride` adjacent vectors wide. Any
// array stored without gaps has this form along any axis, in either memory order: `stride` counts
// the elements of the axes that vary faster than the working one, `pages` those of the slower.
struct BlockGeometry {
    bool forward;
    std::size_t stride;
    std::size_t dimLen;
    std::size_t pages;
};

}  // namespace tzcumfun
