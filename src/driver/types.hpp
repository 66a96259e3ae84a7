// Small types shared by the gateways, the driver and the dispatch.
#pragma once

#include <cstdint>

namespace tzcumfun {

// Which cumulative operation a call runs; it also names the function in error identifiers.
enum class CumOp : std::uint8_t { Sum = 0, Prod = 1, Min = 2, Max = 3 };

// How the working dimension lies in memory: contiguous, the last of several, or an inner one.
enum class LayoutMode : std::int32_t { Contiguous = 0, LastDim = 1, Page = 2 };

}  // namespace tzcumfun
