// Element-family helpers shared by the functors: what counts as NaN, real and complex.
#pragma once

#include <complex>
#include <concepts>

#include "functors/isa_level.hpp"
#include "functors/pack.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// NaN is the one value that compares unequal to itself; the test stays exact without relying on
// the platform's classification functions. For a pack it gives the mask of its NaN lanes.
template <class T>
requires std::floating_point<T> || kIsPack<T>
constexpr auto isNaN(T x) {
    return x != x;  // NOLINT(misc-redundant-expression)
}

// A complex element counts as NaN when either of its parts is.
template <std::floating_point T>
constexpr bool isNaN(const std::complex<T>& z) {
    return isNaN(z.real()) || isNaN(z.imag());
}

// The host stores logical values as one byte holding 0 or 1. The conversion is arithmetic: a
// select on the byte would become a branch on data in the element loop.
constexpr double logicalValue(bool b) {
    return static_cast<double>(b);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
