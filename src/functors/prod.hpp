// Per-element rules of the cumulative product: floating, NaN-omitting, saturating integer, logical.
#pragma once

#include <complex>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

#include "functors/element.hpp"
#include "functors/isa_level.hpp"
#include "functors/pack.hpp"

namespace tzcumfun {

// Mends a complex product (re, im) that came out with an infinite or NaN part: an infinity times
// a zero part, or partial products that overflow although the true part is representable. Takes
// the parts of the two factors and rewrites the plain product in place. Out of line because it
// runs only on that slow path; the element loops keep just the test that leads here.
void complexMulRecover(float ar, float ai, float br, float bi, float& re, float& im);
void complexMulRecover(double ar, double ai, double br, double bi, double& re, double& im);

TZCUMFUN_LEVEL_BEGIN

namespace detail {

// Finite means a magnitude no larger than the largest finite value; NaN fails both comparisons.
template <std::floating_point T>
constexpr bool isFinite(T x) {
    constexpr T kMax = std::numeric_limits<T>::max();
    return x >= -kMax && x <= kMax;
}

}  // namespace detail

// The complex product a times b in T. Each partial product is rounded in T before the single
// addition or subtraction (the library is built without contraction into fused multiply-adds),
// and no library multiplication routine is involved. Factors that are both real give
// (ar * br, +0) with no mending, so a real Inf times 0 stays NaN and the imaginary part never
// picks up a sign from -0 parts.
template <std::floating_point T>
inline std::complex<T> complexProduct(std::complex<T> a, std::complex<T> b) {
    const T ar = a.real();
    const T ai = a.imag();
    const T br = b.real();
    const T bi = b.imag();
    if (ai == 0 && bi == 0) return {ar * br, T(0)};
    T re = ar * br - ai * bi;
    T im = ar * bi + ai * br;
    if (!detail::isFinite(re) || !detail::isFinite(im)) complexMulRecover(ar, ai, br, bi, re, im);
    return {re, im};
}

// Plain floating products in T, one rounding per step. Real overflow and Inf times 0 follow the
// ordinary floating-point rules; complex products go through complexProduct.
template <std::floating_point T>
struct ProdFtorFloat {
    static T init(T x) { return x; }
    template <class V>
    requires ElementOrLanes<V, T>
    static V combine(V prev, V x) { return prev * x; }
    static std::complex<T> init(std::complex<T> x) { return x; }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return complexProduct(prev, x);
    }
};

// Products that pass over NaN inputs, 1 until a non-NaN element arrives. A NaN made by the product
// itself (real Inf times 0) still propagates.
template <std::floating_point T>
struct ProdNaNFtor {
    static T init(T x) { return isNaN(x) ? T(1) : x; }
    template <class V>
    requires ElementOrLanes<V, T>
    static V combine(V prev, V x) { return isNaN(x) ? prev : prev * x; }
    static std::complex<T> init(std::complex<T> x) {
        return isNaN(x) ? std::complex<T>(T(1), T(0)) : x;
    }
    static std::complex<T> combine(std::complex<T> prev, std::complex<T> x) {
        return isNaN(x) ? prev : complexProduct(prev, x);
    }
};

// Saturating integer products: the exact product clamped to the limits of T at every step, in two
// forms with the same results. `combine` serves a vector's chain: the multiply with the
// compiler's overflow check (on x86-64 the multiply and its overflow flag) tells whether the exact
// product fits in T, and a branch taken only when it does not picks the limit on the side of the
// product's sign, the sign of prev times the sign of x. The chain is the multiply alone; a running
// value at a limit stays there while factors beyond one in magnitude follow, so the branch keeps
// to one side for long stretches. Rows side by side in vector registers take a branch-free form,
// where a branch would split the lanes. `combineLane`, for 8- and 16-bit classes, gives it one
// element at a time for the compiler to run in lanes: the exact product in twice the width, kept
// when narrowing loses nothing, else the limit by compare and select. 32-bit classes at x86-64-v3
// and above give it for a whole AVX2 register (`combine` on `Row32`), written out because the
// compiler's own lanes for the widened product spend most of their time moving halves between
// registers: the low halves of all eight products in one multiply, the exact products of the even
// and the odd lanes in two widening multiplies, and a product fits where adding 2^31 (signed) or
// nothing (unsigned) leaves its upper half zero. SSE2 has no signed 32-by-32 to 64-bit multiply,
// so at the baseline 32-bit classes keep `combine`; 64-bit classes would need 128-bit products,
// which no level multiplies in lanes.
template <std::integral T>
struct ProdFtorInt {
    static constexpr T kMin = std::numeric_limits<T>::min();
    static constexpr T kMax = std::numeric_limits<T>::max();

    static T init(T x) { return x; }
    static T combine(T prev, T x) {
        T product;
        if (__builtin_mul_overflow(prev, x, &product)) [[unlikely]] {
            if constexpr (std::is_signed_v<T>) return (prev < 0) != (x < 0) ? kMin : kMax;
            return kMax;
        }
        return product;
    }
    static T combineLane(T prev, T x) requires(sizeof(T) <= 2) {
        using Exact = std::conditional_t<std::is_signed_v<T>, int, unsigned>;
        const Exact product = static_cast<Exact>(static_cast<Exact>(prev) * static_cast<Exact>(x));
        const auto narrow = static_cast<T>(product);
        if (static_cast<Exact>(narrow) == product) return narrow;
        // A product that does not fit lies beyond the limit on the side of the factors' sign.
        if constexpr (std::is_signed_v<T>) return (prev ^ x) < 0 ? kMin : kMax;
        return kMax;
    }
#if TZCUMFUN_ISA_LEVEL >= 3
    using Row32 = typename LanesOfBytes<T, 32>::type;
    static Row32 combine(Row32 prev, Row32 x) requires(sizeof(T) == 4) {
        __m256i a;
        __m256i b;
        std::memcpy(&a, &prev, sizeof a);
        std::memcpy(&b, &x, sizeof b);
        const __m256i low = _mm256_mullo_epi32(a, b);
        const __m256i aOdd = _mm256_srli_epi64(a, 32);
        const __m256i bOdd = _mm256_srli_epi64(b, 32);
        __m256i even;
        __m256i odd;
        __m256i limit = _mm256_set1_epi32(-1);
        if constexpr (std::is_signed_v<T>) {
            const __m256i bias = _mm256_set1_epi64x(0x80000000LL);
            even = _mm256_add_epi64(_mm256_mul_epi32(a, b), bias);
            odd = _mm256_add_epi64(_mm256_mul_epi32(aOdd, bOdd), bias);
            // MAX, or MAX + 1 = MIN where the factors' signs differ.
            limit = _mm256_add_epi32(_mm256_set1_epi32(kMax),
                                     _mm256_srli_epi32(_mm256_xor_si256(a, b), 31));
        } else {
            even = _mm256_mul_epu32(a, b);
            odd = _mm256_mul_epu32(aOdd, bOdd);
        }
        // Each lane's upper half, where its own 32 bits of the result lie.
        const __m256i upper =
            _mm256_or_si256(_mm256_srli_epi64(even, 32),
                            _mm256_andnot_si256(_mm256_set1_epi64x(0xffffffffLL), odd));
        const __m256i fits = _mm256_cmpeq_epi32(upper, _mm256_setzero_si256());
        const __m256i result = _mm256_blendv_epi8(limit, low, fits);
        Row32 row;
        std::memcpy(&row, &result, sizeof row);
        return row;
    }
#endif
};

// Products of logical values in double: 1 up to the first false element, 0 from there on.
struct ProdFtorLogical {
    static double init(bool b) { return logicalValue(b); }
    static double combine(double prev, bool b) { return prev * logicalValue(b); }
};

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
