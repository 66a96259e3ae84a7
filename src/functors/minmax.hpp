// Per-element rules of the cumulative minimum and maximum: floating, integer and logical.
#pragma once

#include <complex>
#include <concepts>
#include <cstddef>

#include "functors/complex_order.hpp"
#include "functors/element.hpp"
#include "functors/isa_level.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// The one ordering both extremes derive from: a stands at or above b. Like IEEE >= it is false
// whenever either side is NaN, which leaves NaN entirely to the NaN rules below. For packs it
// answers lane by lane, as a mask.
template <class V>
requires std::integral<V> || std::floating_point<V> || kIsPack<V>
constexpr auto atOrAbove(V a, V b) {
    return a >= b;
}

// Complex values stand by magnitude. Values equal part by part (a +0 part equals a -0 part) stand
// level without any magnitude being computed; exactly equal magnitudes are settled by the ranking,
// which is called only then.
//
// Most pairs differ in magnitude by far more than any rounding, and for those the squared
// magnitudes already decide: inside the range below the squares neither overflow nor lose
// precision, and a relative gap of 2^-(digits - 13) exceeds the error of the squares together with
// that of the exact magnitudes (under one unit in the last place), so the exact magnitudes would
// order the pair the same way. Only near-ties, zeros and non-finite parts take the exact route.
template <std::floating_point T>
int squaredMagnitudeOrder(const std::complex<T>& a, const std::complex<T>& b) {
    constexpr bool kDouble = sizeof(T) == sizeof(double);
    constexpr T kLow = kDouble ? T(0x1p-900) : T(0x1p-100);
    constexpr T kHigh = kDouble ? T(0x1p+900) : T(0x1p+100);
    constexpr T kGap = kDouble ? T(1) + T(0x1p-40) : T(1) + T(0x1p-11);
    const T squareA = a.real() * a.real() + a.imag() * a.imag();
    const T squareB = b.real() * b.real() + b.imag() * b.imag();
    const bool inRange = squareA >= kLow && squareA <= kHigh && squareB >= kLow && squareB <= kHigh;
    if (!inRange) return 0;  // also for NaN and infinite parts
    if (squareA > squareB * kGap) return 1;
    if (squareB > squareA * kGap) return -1;
    return 0;
}

template <std::floating_point T>
bool atOrAbove(const std::complex<T>& a, const std::complex<T>& b) {
    if (a.real() == b.real() && a.imag() == b.imag()) return true;
    if (const int order = squaredMagnitudeOrder(a, b); order != 0) return order > 0;
    const T magnitudeA = complexMagnitude(a);
    const T magnitudeB = complexMagnitude(b);
    if (magnitudeA != magnitudeB) return magnitudeA > magnitudeB;  // false if either is NaN
    return !complexRanksAbove(a, b);
}

// Which end of the order a scan keeps. The current element replaces the running value only when
// it lies strictly beyond it, so of two equal elements the one visited first survives; the
// minimum is the maximum with the arguments of the ordering swapped.
// Real values and packs of them get a bool or a mask of the same test.
struct KeepLargest {
    template <class V>
    static auto beyond(const V& prev, const V& x) {
        return negation(atOrAbove(prev, x));
    }
};

struct KeepSmallest {
    template <class V>
    static auto beyond(const V& prev, const V& x) {
        return negation(atOrAbove(x, prev));
    }
};

// What NaN does to a scan. Every NaN comparison makes the current element "beyond", so each rule
// needs one test only. Passing over refuses a NaN element; a NaN running value (possible only as
// the first element) yields to the first number. Carrying refuses to leave a NaN running value,
// and a NaN element takes over any number.
struct PassOverNaN {
    template <class V>
    static auto admits(const V& /*prev*/, const V& x) {
        return negation(isNaN(x));
    }
};

struct CarryNaN {
    template <class V>
    static auto admits(const V& prev, const V& /*x*/) {
        return negation(isNaN(prev));
    }
};

// The extremes keep their running value for long stretches: on spread data it changes a handful
// of times along thousands of elements. So a scan may first ask whether a block of
// `kSteadyBlock` elements changes it at all, a few packed compares for the whole block, and take
// the chain of compare and select only through the blocks that do. `holdsOver(prev, block)` is
// true only where `combine(prev, x)` would return prev for every x of the block, so writing prev
// across it gives the very outputs of the element-by-element loop.
inline constexpr std::size_t kSteadyBytes = 128;

// Whether `takesOver` (the rule by which x replaces prev) holds for no element of the block.
template <class T, class TakesOver>
bool noneTakesOver(T prev, const T* block, TakesOver takesOver) {
    const Pack<T> running = splat(prev);
    // The kept lanes rather than the taken ones: the rules' tests are negations, which the second
    // negation cancels, leaving plain compares.
    auto kept = negation(takesOver(running, loadPack(block)));
#pragma GCC unroll 16
    for (std::size_t elem = kPackLanes<T>; elem < kSteadyBytes / sizeof(T); elem += kPackLanes<T>)
        kept &= negation(takesOver(running, loadPack(block + elem)));
    return allLanes(kept);
}

// The result is always prev or x whole, selected rather than computed, so NaN payloads, signed
// zeros and both parts of a complex value pass through bit for bit. Real values evaluate both
// tests and combine them with a bitwise AND, which compiles to compares and a select, not to a
// branch on the data. For complex data the NaN rule is tested first: it is cheap and spares the
// magnitudes of elements it refuses.
template <std::floating_point T, class Extreme, class NaNRule>
struct FloatExtremeFtor {
    static constexpr std::size_t kSteadyBlock = kSteadyBytes / sizeof(T);

    template <class V>
    static auto takesOver(V prev, V x) {
        return NaNRule::admits(prev, x) & Extreme::beyond(prev, x);
    }
    static T init(T x) { return x; }
    static T combine(T prev, T x) { return takesOver(prev, x) ? x : prev; }
    static bool holdsOver(T prev, const T* block) {
        return noneTakesOver(prev, block,
                             [](auto running, auto x) { return takesOver(running, x); });
    }
    static std::complex<T> init(std::complex<T> x) { return x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return NaNRule::admits(prev, x) && Extreme::beyond(prev, x) ? x : prev;
    }
};

// The NaN-named functors are the ones that let NaN through to the end of the vector.
template <std::floating_point T>
struct MaxFtorFloat : FloatExtremeFtor<T, KeepLargest, PassOverNaN> {};
template <std::floating_point T>
struct MinFtorFloat : FloatExtremeFtor<T, KeepSmallest, PassOverNaN> {};
template <std::floating_point T>
struct MaxNaNFtor : FloatExtremeFtor<T, KeepLargest, CarryNaN> {};
template <std::floating_point T>
struct MinNaNFtor : FloatExtremeFtor<T, KeepSmallest, CarryNaN> {};

// Integers compare in their own type and signedness; nothing is widened.
template <std::integral T, class Extreme>
struct IntExtremeFtor {
    static constexpr std::size_t kSteadyBlock = kSteadyBytes / sizeof(T);

    static T init(T x) { return x; }
    static T combine(T prev, T x) { return Extreme::beyond(prev, x) ? x : prev; }
    static bool holdsOver(T prev, const T* block) {
        return noneTakesOver(prev, block,
                             [](auto running, auto x) { return Extreme::beyond(running, x); });
    }
};

template <std::integral T>
struct MaxFtorInt : IntExtremeFtor<T, KeepLargest> {};
template <std::integral T>
struct MinFtorInt : IntExtremeFtor<T, KeepSmallest> {};

// On logical bytes, which hold 0 or 1, OR is the maximum and AND the minimum.
struct MaxFtorLogical {
    static bool init(bool x) { return x; }
    static bool combine(bool prev, bool x) { return prev | x; }
};

struct MinFtorLogical {
    static bool init(bool x) { return x; }
    static bool combine(bool prev, bool x) { return prev & x; }
};

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
