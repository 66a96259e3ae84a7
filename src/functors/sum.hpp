// Per-element rules of the cumulative sum: floating, NaN-omitting, saturating integer, logical.
#pragma once

#include <complex>
#include <concepts>
#include <limits>

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
// MAX - x otherwise cannot overflow, so the sum is formed only when it is known to fit.
template <std::integral T>
struct SumFtorInt {
    static constexpr T kMin = std::numeric_limits<T>::min();
    static constexpr T kMax = std::numeric_limits<T>::max();

    static T init(T x) { return x; }
    static T combine(T prev, T x) {
        if constexpr (std::is_signed_v<T>) {
            if (x < 0) return T(kMin - x) > prev ? kMin : T(prev + x);
        }
        return T(kMax - x) < prev ? kMax : T(prev + x);
    }
};

// Running counts of true elements, in double.
struct SumFtorLogical {
    static double init(bool b) { return logicalValue(b); }
    static double combine(double prev, bool b) { return prev + logicalValue(b); }
};

}  // namespace tzcumfun
