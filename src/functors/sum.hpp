// Per-element rules of the cumulative sum: floating, NaN-omitting, saturating integer, logical.
#pragma once

#include <complex>
#include <concepts>
#include <limits>
#include <type_traits>

#include "functors/element.hpp"

namespace tzcumfun {

// Plain floating sums in T, one rounding per step; complex parts are summed independently.
template <std::floating_point T>
struct SumFtorFloat {
    static T init(T x) { return x; }
    static T combine(T prev, T x) { return prev + x; }
    static std::complex<T> init(std::complex<T> x) { return x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return {prev.real() + x.real(), prev.imag() + x.imag()};
    }
};

// Sums that pass over NaN inputs; a NaN made by the sum itself (Inf - Inf) still propagates.
template <std::floating_point T>
struct SumNaNFtor {
    static T init(T x) { return isNaN(x) ? T(0) : x; }
    static T combine(T prev, T x) { return isNaN(x) ? prev : prev + x; }
    static std::complex<T> init(std::complex<T> x) { return isNaN(x) ? std::complex<T>() : x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return isNaN(x) ? prev : SumFtorFloat<T>::combine(prev, x);
    }
};

// Saturating integer sums. The overflow tests are made in T itself: MIN - x for negative x and
// MAX - x otherwise cannot overflow. Both tests and the wrapped sum are computed and one is
// selected, so that the sign of x, which is data, never steers a branch in the element loop.
template <std::integral T>
struct SumFtorInt {
    static constexpr T kMin = std::numeric_limits<T>::min();
    static constexpr T kMax = std::numeric_limits<T>::max();
    using Unsigned = std::make_unsigned_t<T>;

    static T init(T x) { return x; }
    static T combine(T prev, T x) {
        // The sum wraps in the unsigned type, where that is defined, and is kept only if it fits.
        const T wrapped = static_cast<T>(static_cast<Unsigned>(prev) + static_cast<Unsigned>(x));
        if constexpr (std::is_signed_v<T>) {
            // One limit and one test: MIN - x > prev for negative x, MAX - x < prev otherwise.
            const bool negative = x < 0;
            const T limit = negative ? kMin : kMax;
            const T room = T(limit - x);
            const bool saturates = (negative != (prev > room)) & (prev != room);
            return saturates ? limit : wrapped;
        } else {
            return T(kMax - x) < prev ? kMax : wrapped;
        }
    }
};

// Running counts of true elements, in double.
struct SumFtorLogical {
    static double init(bool b) { return logicalValue(b); }
    static double combine(double prev, bool b) { return prev + logicalValue(b); }
};

}  // namespace tzcumfun
