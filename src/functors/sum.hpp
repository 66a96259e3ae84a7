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

// Saturating integer sums, made in T itself. The sum is formed with the compiler's overflow check,
// which on x86-64 is the add and its overflow flag; on overflow the result saturates towards the
// sign of x, since only an x of that sign can carry prev past that limit. The limit depends on x
// alone, off the chain of running values, and is selected, never branched to.
template <std::integral T>
struct SumFtorInt {
    static constexpr T kMin = std::numeric_limits<T>::min();
    static constexpr T kMax = std::numeric_limits<T>::max();

    static T init(T x) { return x; }
    static T combine(T prev, T x) {
        T sum;
        const bool overflows = __builtin_add_overflow(prev, x, &sum);
        T limit = kMax;
        if constexpr (std::is_signed_v<T>) limit = x < 0 ? kMin : kMax;
        return overflows ? limit : sum;
    }
};

// Running counts of true elements, in double.
struct SumFtorLogical {
    static double init(bool b) { return logicalValue(b); }
    static double combine(double prev, bool b) { return prev + logicalValue(b); }
};

}  // namespace tzcumfun
