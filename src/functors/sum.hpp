// Per-element rules of the cumulative sum: floating, NaN-omitting, saturating integer, logical.
#pragma once

#include <complex>
#include <concepts>
#include <limits>
#include <type_traits>

#include "functors/element.hpp"
#include "functors/isa_level.hpp"
#include "functors/pack.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// Plain floating sums in T, one rounding per step; complex parts are summed independently. The
// real rules are templates so that a register of independent vectors' running values (one
// vector in each lane) takes the very same operations.
template <std::floating_point T>
struct SumFtorFloat {
    static T init(T x) { return x; }
    template <class V>
    requires ElementOrLanes<V, T>
    static V combine(V prev, V x) { return prev + x; }
    static std::complex<T> init(std::complex<T> x) { return x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return {prev.real() + x.real(), prev.imag() + x.imag()};
    }
};

// Sums that pass over NaN inputs; a NaN made by the sum itself (Inf - Inf) still propagates.
template <std::floating_point T>
struct SumNaNFtor {
    static T init(T x) { return isNaN(x) ? T(0) : x; }
    template <class V>
    requires ElementOrLanes<V, T>
    static V combine(V prev, V x) { return isNaN(x) ? prev : prev + x; }
    static std::complex<T> init(std::complex<T> x) { return isNaN(x) ? std::complex<T>() : x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return isNaN(x) ? prev : SumFtorFloat<T>::combine(prev, x);
    }
};

// Saturating integer sums, exact at every step, in two forms with the same results. `combine`
// serves a vector's chain of dependent steps: the add sets the overflow flag and a branch, taken
// only on overflow, picks the limit, so the chain is one add long. The branch mispredicts only
// where the sum reaches a limit, and a running value at the limit stays there only while more of
// the same sign follows, so data that saturates often keeps it predicted too. `combineLane`
// serves independent rows side by side in vector registers, where a branch would split the
// lanes: the sum wraps, the overflow bit comes from the signs and selects the limit, all of it
// lane-wise operations SSE2 has for every width.
template <std::integral T>
struct SumFtorInt {
    static constexpr T kMin = std::numeric_limits<T>::min();
    static constexpr T kMax = std::numeric_limits<T>::max();
    using Unsigned = std::make_unsigned_t<T>;
    static constexpr int kTopBit = std::numeric_limits<Unsigned>::digits - 1;

    static T init(T x) { return x; }
    static T combine(T prev, T x) {
        T sum;
        if (__builtin_add_overflow(prev, x, &sum)) [[unlikely]]
            return std::is_signed_v<T> && x < 0 ? kMin : kMax;
        return sum;
    }
    static T combineLane(T prev, T x) {
        const auto before = static_cast<Unsigned>(prev);
        const auto addend = static_cast<Unsigned>(x);
        const auto sum = static_cast<Unsigned>(before + addend);
        // The top bit of `overflows` is set where the sum overflowed. Signed: operands of one
        // sign, sum of the other, and the limit on the addend's side (the running value's too,
        // as they agree wherever the sum overflows), so that only the test waits for the sum.
        // Unsigned: the carry out of the top bit, both top bits set or one set and the sum's clear.
        Unsigned overflows;
        Unsigned limit = kMax;
        if constexpr (std::is_signed_v<T>) {
            overflows = static_cast<Unsigned>((before ^ sum) & (addend ^ sum));
            limit = static_cast<Unsigned>(limit + (addend >> kTopBit));  // MAX + 1 wraps to MIN
        } else {
            overflows = static_cast<Unsigned>((before & addend) | ((before | addend) & ~sum));
        }
        return static_cast<T>(static_cast<std::make_signed_t<T>>(overflows) < 0 ? limit : sum);
    }
};

// Running counts of true elements, in double.
struct SumFtorLogical {
    static double init(bool b) { return logicalValue(b); }
    static double combine(double prev, bool b) { return prev + logicalValue(b); }
};

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
