// Tests of the cumulative-product functors: complex recovery, integer saturation, NaN omission.
#include <bit>
#include <cmath>
#include <complex>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "functors/prod.hpp"
#include "traversal/contract.hpp"

namespace tzcumfun {
namespace {

template <class T>
concept FloatFunctorsFit = CumFunctor<ProdFtorFloat<T>, T, T> &&
    CumFunctor<ProdFtorFloat<T>, std::complex<T>, std::complex<T>> &&
    CumFunctor<ProdNaNFtor<T>, T, T> &&
    CumFunctor<ProdNaNFtor<T>, std::complex<T>, std::complex<T>>;
static_assert(FloatFunctorsFit<float> && FloatFunctorsFit<double>);
static_assert(CumFunctor<ProdFtorLogical, bool, double>);

// The outputs of one forward vector: init on the first element, combine on each later one.
template <class Ftor, class Out, class In>
std::vector<Out> scan(const std::vector<In>& in) {
    std::vector<Out> out{Ftor::init(in.front())};
    for (std::size_t elem = 1; elem < in.size(); ++elem) {
        out.push_back(Ftor::combine(out.back(), in[elem]));
    }
    return out;
}

// Bit-exact comparison, so that the sign of a zero counts; any NaN matches an expected NaN.
template <std::floating_point T>
void expectSame(T actual, T expected) {
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << actual;
    } else {
        EXPECT_EQ(std::bit_cast<Bits>(actual), std::bit_cast<Bits>(expected))
            << actual << " instead of " << expected;
    }
}

template <std::floating_point T>
void expectSame(std::complex<T> actual, std::complex<T> expected) {
    expectSame(actual.real(), expected.real());
    expectSame(actual.imag(), expected.imag());
}

template <class V>
void expectSameAll(const std::vector<V>& actual, const std::vector<V>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t elem = 0; elem < actual.size(); ++elem) {
        SCOPED_TRACE(elem);
        expectSame(actual[elem], expected[elem]);
    }
}

template <std::floating_point T>
struct ProductRow {
    const char* what;
    std::complex<T> a, b, expected;
};

// Complex products a * b, one row per path through the product and its recovery. a' and b'
// are the factors divided by their larger part's magnitude; "t" is the part formed from them.
template <std::floating_point T>
std::vector<ProductRow<T>> productRows() {
    constexpr T inf = std::numeric_limits<T>::infinity();
    constexpr T nan = std::numeric_limits<T>::quiet_NaN();
    // h * h and h * 2^30 overflow, h * 2^10 does not (2^1000 in double, 2^104 in single).
    const T h = std::ldexp(T(1), std::numeric_limits<T>::max_exponent - 24);
    const T p10 = std::ldexp(T(1), 10);
    const T p24 = std::ldexp(T(1), 24);
    const T p30 = std::ldexp(T(1), 30);
    const T tiny = std::numeric_limits<T>::denorm_min();
    // (1 + e)^2 - 1 = 2e + e^2 exactly; rounding (1 + e)^2 in T alone drops the e^2.
    const T e = std::ldexp(T(1), -(std::numeric_limits<T>::digits + 1) / 2);
    std::vector<ProductRow<T>> rows = {
        // Both imaginary parts zero: (ar * br, +0), never mended.
        {"real Inf times 0", {inf, 0}, {0, 0}, {nan, 0}},
        {"real, -0 imaginary parts", {2, -0.0}, {3, -0.0}, {6, 0}},
        // All finite: re = (1+e)(1+e) - 1 rounds to 2e; a fused or wider product keeps e^2.
        {"finite, rounded in T", {1 + e, 1}, {1 + e, 1}, {2 * e, 2 + 2 * e}},
        // ai == 0, br == 0: (+0, ar*bi). The general path would give re = -0 - 0 = -0 here.
        {"real times imaginary", {inf, 0}, {-0.0, 1}, {0, inf}},
        // ... and (+0, NaN) where the general path gives t = NaN, re = NaN.
        {"real NaN times imaginary", {nan, 0}, {0, 2}, {0, nan}},
        // bi == 0, ar == 0: (+0, ai*br) = (+0, Inf); the general path gives re = -0 - 0 = -0.
        {"imaginary times real", {-0.0, 3}, {inf, 0}, {0, inf}},
        // Plain (Inf - Inf, Inf + Inf); a' = (1, 1), b' = (1, 1 - 2^-20).
        // re: t = 2^-20, (t * h) * 2^30 = 2^10 h.  im: t = 2 - 2^-20, overflows again.
        {"overflow, t not zero", {h, h}, {p30, p30 - p10}, {h * p10, inf}},
        // With M = 2^max_exponent (the first power of two past the finite range): plain re is
        // 5/4 M - 5/16 M = Inf - 5/16 M, yet the true re fits. a' = b' = (1, 1/2).
        // re: t = 3/4, (t * h) * 5/4 2^24 = 15/16 M.  im: t = 1, overflows again.
        {"overflow, re fits", {h, h / 2}, {p24 * 5 / 4, p24 * 5 / 8}, {h * (p24 / 16 * 15), inf}},
        // Plain (Inf, Inf) with one scale infinite: kept. Mended, a' = (1, 0) and b' = (0, 1)
        // (tiny / 4 underflows) would give re = t = 0. Likewise with the factors swapped.
        {"infinite part, infinite scale", {inf, 1}, {tiny, 4}, {inf, inf}},
        {"infinite part, infinite scale of b", {tiny, 4}, {inf, 1}, {inf, inf}},
        // Plain (NaN, NaN); ai NaN keeps sa = |ar| = Inf, a' = (1, NaN), b' = (1, 0).
        // t = NaN counts as not zero: NaN. Taken as zero, re would be Inf*2 - 0 = Inf.
        {"NaN t is not zero", {inf, nan}, {2, 0}, {nan, nan}},
        // Plain (Inf, NaN); a' = (1, 0), b' = (1, 0); re Inf kept (sa infinite).
        // im: t = 0, sa infinite and bi == 0: u = Inf*0 -> +0 (1*0), v = 1*2: +0 + 2 = 2.
        {"Inf a, zero part of b, im", {inf, 1}, {2, 0}, {inf, 2}},
        // Plain (NaN, Inf); a' = (1, 0), b' = (-0, 1); im Inf kept (sa infinite).
        // re: t = -0 - 0 = -0, sa infinite and br == 0: u = Inf*-0 -> -0 (1*-0), v = 3: -3.
        {"Inf a, zero part of b, re, u NaN", {inf, 1}, {-0.0, 3}, {-3, inf}},
        // Plain (NaN, Inf); a' = (0, 1), b' = (1, -0); im Inf kept.
        // re: t = 0 - (-0) = +0: u = 3, v = Inf*-0 -> -0 (1*-0): 3 - -0 = 3.
        {"Inf a, zero part of b, re, v NaN", {1, inf}, {3, -0.0}, {3, inf}},
        // Plain (-Inf, NaN); a' = (0, 1), b' = (0, 1); im: t = 0, u = 1, v = Inf*0 -> +0: 1.
        {"Inf a, zero part of b, im, v NaN", {1, inf}, {0, 1}, {-inf, 1}},
        // Plain (Inf, NaN); a' = (1, 0), b' = (1, 0); sb infinite and ai == 0:
        // im: t = 0, u = 2*1 = 2, v = 0*Inf -> +0: 2.
        {"Inf b, zero part of a", {2, 0}, {inf, 1}, {inf, 2}},
        // Plain (-Inf, NaN); a' = (0, 1), b' = (0, 1); sb infinite and ar == 0.
        // im: t = 0, u = 0*Inf -> +0 (0*1), v = 2*3 = 6: 6.
        {"Inf b, zero real part of a", {0, 2}, {3, inf}, {-inf, 6}},
        // Plain (NaN, -Inf); a' = (0, 1), b' = (-1, 0); sb infinite and ar == 0.
        // re: t = -0 - 0, u = 0*-Inf -> -0 (0*-1, not 1*0), v = 1/2 tiny = +0: -0 - +0 = -0.
        {"u NaN takes the sign of ar'br'", {0, 0.5}, {-inf, tiny}, {-0.0, -inf}},
        // Plain (-Inf, NaN); a' = (0, 1), b' = (-0, 1); sb infinite and ar == 0.
        // im: t = +0, u = 0*Inf -> +0 (0*1, not 1*-0), v = 1*-0 = -0: +0 + -0 = +0.
        {"u NaN takes the sign of ar'bi'", {0, 1}, {-0.0, inf}, {-inf, 0}},
        // Plain (-Inf, NaN); a' = (-0, 1), b' = (-0, 1); sa infinite and br == 0.
        // im: t = -0, u = -0*3 = -0, v = Inf*-0 -> -0 (1*-0): -0.
        {"v NaN takes the sign of a'b'", {-0.0, inf}, {-0.0, 3}, {-inf, -0.0}},
        // Plain (Inf - Inf, Inf); a' = b' = (1, 1), scales finite.
        // re: t = 0 with no infinite factor: +0.  im: t = 2, (2 * h) * h = Inf.
        {"overflow, t zero", {h, h}, {h, h}, {0, inf}},
        // Plain (Inf - NaN, NaN + Inf); a' = (1, 1), b' = (1, 0); t = 1 for both: Inf * 1.
        {"Inf times real", {inf, inf}, {1, 0}, {inf, inf}},
    };
    if constexpr (std::is_same_v<T, double>) {
        rows.push_back({"1e200 squared", {1e200, 1e200}, {1e200, 1e200}, {0, inf}});
    }
    return rows;
}

template <class T>
class ComplexProductTest : public ::testing::Test {};
using FloatTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ComplexProductTest, FloatTypes);

TYPED_TEST(ComplexProductTest, EveryPathOfTheProduct) {
    for (const auto& row : productRows<TypeParam>()) {
        SCOPED_TRACE(row.what);
        expectSame(ProdFtorFloat<TypeParam>::combine(row.a, row.b), row.expected);
        expectSame(ProdNaNFtor<TypeParam>::combine(row.a, row.b), row.expected);
    }
}

template <std::integral T>
struct IntRow {
    T prev, x, expected;
};

// Products at and just past the limits of T. For int64 the rows reach every split of the
// 128-bit product: upper half 0 or -1 with either top bit of the lower half, and beyond.
template <std::integral T>
std::vector<IntRow<T>> intRows() {
    constexpr T lo = std::numeric_limits<T>::min();
    constexpr T hi = std::numeric_limits<T>::max();
    constexpr int bits = std::numeric_limits<T>::digits;
    if constexpr (std::is_signed_v<T>) {
        constexpr auto q = static_cast<T>(T(1) << (bits - 1));  // a quarter of the range
        constexpr auto minusQ = static_cast<T>(-q);
        return {{hi, 1, hi},  {hi, -1, T(-hi)}, {T(-hi), -1, hi},
                {lo, 1, lo},  {lo, -1, hi},      // one past MAX
                {q, 2, hi},   {minusQ, -2, hi},  // one past MAX
                {q, -2, lo},  {minusQ, 2, lo},   // exactly MIN
                {q, 4, hi},   {minusQ, 4, lo},   // twice past
                {lo, lo, hi}, {lo, hi, lo},     {hi, hi, hi},
                {-3, 5, -15}, {-3, -5, 15},     {0, lo, 0}};
    } else {
        // (root - 1)(root + 1) is exactly MAX, root * root one past it.
        constexpr auto root = static_cast<T>(T(1) << (bits / 2));
        return {{T(root - 1), T(root + 1), hi},
                {root, root, hi},
                {hi, 1, hi},
                {hi, hi, hi},
                {hi, 0, 0},
                {3, 5, 15}};
    }
}

template <class T>
class ProdIntTest : public ::testing::Test {};
using IntTypes = ::testing::Types<signed char, unsigned char, short, unsigned short, int,
                                  unsigned int, long long, unsigned long long>;
TYPED_TEST_SUITE(ProdIntTest, IntTypes);

TYPED_TEST(ProdIntTest, SaturatesAtEveryStep) {
    using T = TypeParam;
    using Ftor = ProdFtorInt<T>;
    static_assert(CumFunctor<Ftor, T, T>);
    for (const auto& row : intRows<T>()) {
        SCOPED_TRACE(testing::Message() << +row.prev << " * " << +row.x);
        EXPECT_EQ(Ftor::combine(row.prev, row.x), row.expected);
    }
    // A clamped value is what the next element multiplies; a zero absorbs everything after it.
    constexpr T hi = std::numeric_limits<T>::max();
    EXPECT_EQ((scan<Ftor, T>(std::vector<T>{2, hi, 0, hi, 3})), (std::vector<T>{2, hi, 0, 0, 0}));
}

template <std::integral T>
std::vector<T> intScan(const std::vector<T>& in) {
    return scan<ProdFtorInt<T>, T>(in);
}

TEST(ProdIntSequenceTest, ClampedValueCarriesOn) {
    using Int8 = signed char;
    using UInt8 = unsigned char;
    using Int64 = long long;
    using UInt64 = unsigned long long;
    EXPECT_EQ(intScan<Int8>({100, 2, -1}), (std::vector<Int8>{100, 127, -127}));
    EXPECT_EQ(intScan<Int8>({-128, -1}), (std::vector<Int8>{-128, 127}));
    EXPECT_EQ(intScan<UInt8>({16, 16, 0, 5}), (std::vector<UInt8>{16, 255, 0, 0}));
    EXPECT_EQ(intScan<short>({-300, 300}), (std::vector<short>{-300, -32768}));
    EXPECT_EQ(intScan<int>({65536, 65536, -1}), (std::vector<int>{65536, 2147483647, -2147483647}));
    EXPECT_EQ(intScan<Int64>({4611686018427387904, 2, -1}),
              (std::vector<Int64>{4611686018427387904, 9223372036854775807, -9223372036854775807}));
    EXPECT_EQ(intScan<UInt64>({4294967296, 4294967296}),
              (std::vector<UInt64>{4294967296, 18446744073709551615ULL}));
}

TEST(ProdFloatTest, RealNaNAndOverflow) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    expectSameAll(scan<ProdNaNFtor<double>, double>(std::vector<double>{nan, 2, nan, 3}),
                  {1, 2, 2, 6});
    expectSameAll(scan<ProdFtorFloat<double>, double>(std::vector<double>{2, nan, 3}),
                  {2, nan, nan});
    // Only NaN inputs are skipped; the NaN of Inf times 0 propagates.
    expectSameAll(scan<ProdNaNFtor<double>, double>(std::vector<double>{inf, 0, 2}),
                  {inf, nan, nan});
    // Single data is multiplied in single precision: 3e38 * 10 overflows there, not in double.
    constexpr float finf = std::numeric_limits<float>::infinity();
    expectSameAll(scan<ProdFtorFloat<float>, float>(std::vector<float>{3e38F, 10, 0.1F}),
                  {3e38F, finf, finf});
}

TEST(ProdFloatTest, ComplexNaNOmitted) {
    using C = std::complex<double>;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    // An element is skipped when either part is NaN; before any other element the product is 1.
    expectSameAll(scan<ProdNaNFtor<double>, C>(std::vector<C>{{nan, 1}, {2, 3}, {1, nan}, {0, 1}}),
                  {{1, 0}, {2, 3}, {2, 3}, {-3, 2}});
    // The kept elements go through the mended product: (1,0)(Inf,1) = (Inf, 1), then (Inf, 2).
    expectSameAll(scan<ProdNaNFtor<double>, C>(std::vector<C>{{0, nan}, {inf, 1}, {2, 0}}),
                  {{1, 0}, {inf, 1}, {inf, 2}});
}

TEST(ProdLogicalTest, OneUntilTheFirstFalse) {
    expectSameAll(scan<ProdFtorLogical, double>(std::vector<bool>{true, true, false, true}),
                  {1, 1, 0, 0});
}

}  // namespace
}  // namespace tzcumfun
