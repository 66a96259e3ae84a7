// Tests of the cumulative minimum and maximum functors: survivors of ties and NaN, complex order.
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "functors/minmax.hpp"
#include "traversal/contract.hpp"

namespace tzcumfun {
namespace {

template <class T, class... Ftors>
constexpr bool kRealAndComplex = (... && (CumFunctor<Ftors, T, T> &&
                                          CumFunctor<Ftors, std::complex<T>, std::complex<T>>));
template <class T>
constexpr bool kFloatFunctors =
    kRealAndComplex<T, MaxFtorFloat<T>, MinFtorFloat<T>, MaxNaNFtor<T>, MinNaNFtor<T>>;
static_assert(kFloatFunctors<float> && kFloatFunctors<double>);
template <class... Ints>
constexpr bool kIntFunctors = (... && (CumFunctor<MaxFtorInt<Ints>, Ints, Ints> &&
                                       CumFunctor<MinFtorInt<Ints>, Ints, Ints>));
static_assert(kIntFunctors<signed char, unsigned char, short, unsigned short, int, unsigned int,
                           long long, unsigned long long>);
static_assert(CumFunctor<MaxFtorLogical, bool, bool> && CumFunctor<MinFtorLogical, bool, bool>);

// One vector through init and combine, visited forward or from its end, as a traversal does.
template <class Ftor, class V>
std::vector<V> scan(const std::vector<V>& in, bool forward) {
    const std::size_t count = in.size();
    std::vector<V> out(count);
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t pos = forward ? step : count - 1 - step;
        out[pos] = step == 0 ? Ftor::init(in[pos])
                             : Ftor::combine(out[forward ? pos - 1 : pos + 1], in[pos]);
    }
    return out;
}

template <std::floating_point T>
auto bitsOf(T v) {
    return std::bit_cast<std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>(v);
}
template <std::floating_point T>
bool sameBits(T a, T b) {
    return bitsOf(a) == bitsOf(b);
}
template <std::floating_point T>
bool sameBits(std::complex<T> a, std::complex<T> b) {
    return sameBits(a.real(), b.real()) && sameBits(a.imag(), b.imag());
}

template <class T>
T nanWithPayload(std::uint64_t payload, bool negative) {
    using Bits = decltype(bitsOf(T{}));
    const Bits sign = negative ? ~(~Bits{} >> 1) : 0;
    return std::bit_cast<T>(
        static_cast<Bits>(bitsOf(std::numeric_limits<T>::quiet_NaN()) | payload | sign));
}

// The four floating functors, in the column order of the survivor tables below.
template <class T, class V>
std::vector<V> scanFloat(int which, const std::vector<V>& in, bool forward) {
    using Scan = std::vector<V> (*)(const std::vector<V>&, bool);
    constexpr std::array<Scan, 4> kScans = {scan<MaxFtorFloat<T>, V>, scan<MaxNaNFtor<T>, V>,
                                            scan<MinFtorFloat<T>, V>, scan<MinNaNFtor<T>, V>};
    return kScans[which](in, forward);
}
using Survivors = std::array<std::vector<std::size_t>, 4>;  // Max, MaxNaN, Min, MinNaN

// Each output must be a bit-exact copy of the input element its survivor index names.
template <class T, class V>
void expectSurvivors(const std::vector<V>& in, bool forward, const Survivors& survivors) {
    for (int which = 0; which < 4; ++which) {
        const std::vector<V> out = scanFloat<T>(which, in, forward);
        for (std::size_t pos = 0; pos < in.size(); ++pos) {
            EXPECT_TRUE(sameBits(out[pos], in[survivors[which][pos]]))
                << "functor " << which << " on " << ::testing::PrintToString(in) << ", position "
                << pos << ": " << out[pos];
        }
    }
}

template <class T>
class MinMaxFloatTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(MinMaxFloatTest, Precisions);

TYPED_TEST(MinMaxFloatTest, RealSurvivors) {
    using T = TypeParam;
    const T nanA = nanWithPayload<T>(1, false);
    const T nanB = nanWithPayload<T>(2, true);
    struct Row {
        std::vector<T> in;
        bool forward;
        Survivors survivors;
    };
    const std::vector<Row> rows = {
        {{nanA, 1, nanB, 3}, true, {{{0, 1, 1, 3}, {0, 0, 0, 0}, {0, 1, 1, 1}, {0, 0, 0, 0}}}},
        {{1, nanA, 3}, true, {{{0, 0, 2}, {0, 1, 1}, {0, 0, 0}, {0, 1, 1}}}},
        {{2, nanA, 1, 5}, true, {{{0, 0, 0, 3}, {0, 1, 1, 1}, {0, 0, 2, 2}, {0, 1, 1, 1}}}},
        {{-T(0), T(0)}, true, {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {{T(0), -T(0)}, true, {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {{nanA, nanB, 4}, true, {{{0, 0, 2}, {0, 0, 0}, {0, 0, 2}, {0, 0, 0}}}},
        {{1, 3, 2}, false, {{{1, 1, 2}, {1, 1, 2}, {0, 2, 2}, {0, 2, 2}}}}};
    for (const Row& row : rows)
        expectSurvivors<T>(row.in, row.forward, row.survivors);
}

// Survivors from their definition over the whole visited prefix rather than step by step:
// passing over NaN, the first visited of the extreme numbers (the first element while no number
// has come); carrying NaN, the first NaN visited, if any.
template <class T>
std::size_t prefixSurvivor(const std::vector<T>& visited, std::size_t end, bool largest,
                           bool carryNaN) {
    std::optional<std::size_t> firstNaN;
    std::optional<std::size_t> best;
    for (std::size_t elem = 0; elem < end; ++elem) {
        const T v = visited[elem];
        if (std::isnan(v)) {
            if (!firstNaN) firstNaN = elem;
        } else if (!best || (largest ? v > visited[*best] : v < visited[*best])) {
            best = elem;
        }
    }
    return carryNaN && firstNaN ? *firstNaN : best.value_or(0);
}

template <class T>
class MinMaxIntTest : public ::testing::Test {};
using Integers = ::testing::Types<signed char, unsigned char, short, unsigned short, int,
                                  unsigned int, long long, unsigned long long>;
TYPED_TEST_SUITE(MinMaxIntTest, Integers);

// The limits of the type side by side catch any widening or change of signedness.
TYPED_TEST(MinMaxIntTest, ComparesInOwnType) {
    using T = TypeParam;
    constexpr T lo = std::numeric_limits<T>::min();
    constexpr T hi = std::numeric_limits<T>::max();
    const std::vector<T> in = {0, hi, lo, 1};
    EXPECT_EQ(scan<MaxFtorInt<T>>(in, true), (std::vector<T>{0, hi, hi, hi}));
    EXPECT_EQ(scan<MinFtorInt<T>>(in, true), (std::vector<T>{0, 0, lo, lo}));
    EXPECT_EQ(scan<MaxFtorInt<T>>(in, false), (std::vector<T>{hi, hi, 1, 1}));
    EXPECT_EQ(scan<MinFtorInt<T>>(in, false), (std::vector<T>{lo, lo, lo, 1}));
}

TEST(MinMaxLogicalTest, OrAndAnd) {
    EXPECT_EQ(scan<MaxFtorLogical>(std::vector<bool>{false, true, false}, true),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(scan<MinFtorLogical>(std::vector<bool>{true, false, true}, true),
              (std::vector<bool>{true, false, false}));
}

TYPED_TEST(MinMaxFloatTest, ComplexNaNAndEqualParts) {
    using T = TypeParam;
    using C = std::complex<T>;
    constexpr T inf = std::numeric_limits<T>::infinity();
    const T nan = nanWithPayload<T>(5, true);
    const std::vector<std::pair<std::vector<C>, Survivors>> rows = {
        {{{2, 2}, {nan, 0}, {1, 5}}, {{{0, 0, 2}, {0, 1, 1}, {0, 0, 0}, {0, 1, 1}}}},
        {{{inf, nan}, {1, 1}}, {{{0, 1}, {0, 0}, {0, 1}, {0, 0}}}},
        {{{nan, 5}, {3, nan}, {2, 2}}, {{{0, 0, 2}, {0, 0, 0}, {0, 0, 2}, {0, 0, 0}}}},
        {{{1, 1}, {2, 2}, {nan, nan}}, {{{0, 1, 1}, {0, 1, 2}, {0, 0, 0}, {0, 0, 2}}}},
        {{{3, 4}, {-inf, nan}, {5, 0}}, {{{0, 0, 0}, {0, 1, 1}, {0, 0, 2}, {0, 1, 1}}}},
        {{{0, 0}, {-T(0), -T(0)}}, {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {{{-5, 0}, {-5, -T(0)}}, {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}}}};
    for (const auto& [in, survivors] : rows)
        expectSurvivors<T>(in, true, survivors);
}

// Pairs of equal magnitude, the upper ranking above; where the angles tie as well, the parts
// decide. Every functor must keep the upper (maximum) or the lower (minimum) in either order.
TYPED_TEST(MinMaxFloatTest, ComplexTiesRankedAlike) {
    using T = TypeParam;
    using C = std::complex<T>;
    using Limits = std::numeric_limits<T>;
    constexpr T inf = Limits::infinity();
    const T big = Limits::max() * T(0.75);
    const T quarter = Limits::max() / 4;
    const T sub = Limits::denorm_min();
    const T t1 = T(1e-30);
    const T t2 = T(2e-30);
    struct Pair {
        C lower, upper;
        bool anglesTie;
    };
    const std::vector<Pair> pairs = {{{4, 3}, {3, 4}, false},
                                     {{1, 0}, {-1, 0}, false},
                                     {{-1, -T(0)}, {1, 0}, false},
                                     {{big, big}, {inf, 0}, false},
                                     {{inf, 5}, {inf, inf}, false},
                                     {{inf, 5}, {inf, 7}, true},
                                     {{-inf, 7}, {-inf, 5}, true},
                                     {{t2, 1}, {t1, 1}, true},
                                     {{t1, -1}, {t2, -1}, true},
                                     {{-t1, 1}, {-t2, 1}, true},
                                     {{-1, t2}, {-1, t1}, true},
                                     {{quarter, sub}, {quarter, 2 * sub}, true},
                                     {{quarter, -2 * sub}, {quarter, -sub}, true}};
    for (const auto& [lower, upper, anglesTie] : pairs) {
        ASSERT_EQ(complexMagnitude(lower), complexMagnitude(upper));
        ASSERT_TRUE(!anglesTie || complexPhase(lower) == complexPhase(upper));
        EXPECT_TRUE(complexRanksAbove(lower, upper));
        EXPECT_FALSE(complexRanksAbove(upper, lower));
        expectSurvivors<T, C>({lower, upper}, true, {{{0, 1}, {0, 1}, {0, 0}, {0, 0}}});
        expectSurvivors<T, C>({upper, lower}, true, {{{0, 0}, {0, 0}, {0, 1}, {0, 1}}});
    }
}

// Pythagorean triples put sixteen values on one circle, exact
// from subnormal radii up to radii that overflow, where the halved magnitudes decide. At every
// radius the maximum must follow the true angle and the minimum the reverse.
TYPED_TEST(MinMaxFloatTest, ComplexEqualMagnitudesFollowAngle) {
    using T = TypeParam;
    using C = std::complex<T>;
    using Limits = std::numeric_limits<T>;
    const T triples[][3] = {{3, 4, 5}, {5, 12, 13}, {8, 15, 17}, {20, 21, 29}, {119, 120, 169}};
    std::vector<int> exponents = {Limits::max_exponent - 4, Limits::max_exponent - 7};
    const int lowest = Limits::min_exponent - Limits::digits;
    for (int exp = lowest; exp < Limits::max_exponent - 8;
         exp += (Limits::max_exponent - lowest) / 12) {
        exponents.push_back(exp);
    }
    const auto angle = [](const C& z) {
        return std::atan2(static_cast<long double>(z.imag()), z.real());
    };
    for (const int exp : exponents) {
        for (const auto& triple : triples) {
            const T a = std::ldexp(triple[0], exp);
            const T b = std::ldexp(triple[1], exp);
            const T c = std::ldexp(triple[2], exp);
            if (std::isinf(b)) continue;
            std::vector<C> circle;  // zeros of both signs on the axes
            for (const T sign : {T(1), T(-1)}) {
                for (const T other : {T(1), T(-1)}) {
                    circle.insert(circle.end(), {{sign * a, other * b}, {other * b, sign * a}});
                    if (std::isinf(c)) continue;
                    const T zero = other * T(0);
                    circle.insert(circle.end(), {{sign * c, zero}, {zero, sign * c}});
                }
            }
            for (const C& prev : circle) {
                ASSERT_EQ(complexMagnitude(prev), c) << prev;
                for (const C& x : circle) {
                    const bool same = prev.real() == x.real() && prev.imag() == x.imag();
                    const bool xAbove = !same && angle(x) > angle(prev);
                    const bool xBelow = !same && !xAbove;
                    expectSurvivors<T, C>({prev, x}, true,
                                          {{{0, xAbove}, {0, xAbove}, {0, xBelow}, {0, xBelow}}});
                }
            }
        }
    }
}

// Random pairs, many of equal or nearly equal magnitude (swapped, turned, mirrored or nudged
// parts), some with NaN parts: the maximum takes x exactly when the minimum keeps prev, the
// larger value wins in either order, and NaN is passed over or carried as for real data.
TYPED_TEST(MinMaxFloatTest, ComplexMinimumMirrorsMaximum) {
    using T = TypeParam;
    using C = std::complex<T>;
    using Limits = std::numeric_limits<T>;
    constexpr T inf = Limits::infinity();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<T> significand(1, 2);
    std::uniform_int_distribution<int> exponent(Limits::min_exponent - Limits::digits,
                                                Limits::max_exponent - 1);
    const T specials[] = {0, -T(0), inf, -inf, Limits::max(), Limits::denorm_min(), inf - inf};
    const auto part = [&]() -> T {
        if (rng() % 10 == 0) return specials[rng() % std::size(specials)];
        const T value = std::ldexp(significand(rng), exponent(rng) / (rng() % 2 == 0 ? 1 : 16));
        return rng() % 2 == 0 ? value : -value;
    };
    int tiedMagnitudes = 0;
    for (int trial = 0; trial < 200000 && !::testing::Test::HasFailure(); ++trial) {
        const T re = part();
        const T im = part();
        const C partners[] = {
            {part(), part()}, {im, re},  {-im, re},
            {re, -im},        {-re, im}, {std::nextafter(re, T(0)), std::nextafter(im, inf)}};
        const C a(re, im);
        const C b = partners[rng() % std::size(partners)];
        const bool numbers = !isNaN(a) && !isNaN(b);
        const bool same = re == b.real() && im == b.imag();
        // For two numbers the maximum's choice is the reference the other three must agree with.
        const std::size_t maxTakes =
            numbers && !same && !sameBits(MaxFtorFloat<T>::combine(a, b), a);
        const std::size_t minTakes = numbers && !same && maxTakes == 0;
        const std::size_t omitTakes = !isNaN(b);
        const std::size_t carryTakes = !isNaN(a) && isNaN(b);
        expectSurvivors<T, C>(
            {a, b}, true,
            numbers
                ? Survivors{{{0, maxTakes}, {0, maxTakes}, {0, minTakes}, {0, minTakes}}}
                : Survivors{{{0, omitTakes}, {0, carryTakes}, {0, omitTakes}, {0, carryTakes}}});
        if (!numbers || same) continue;
        EXPECT_NE(sameBits(MaxFtorFloat<T>::combine(b, a), a), maxTakes != 0) << a << ", " << b;
        if (complexMagnitude(a) == complexMagnitude(b)) {
            ++tiedMagnitudes;
            EXPECT_NE(complexRanksAbove(a, b), complexRanksAbove(b, a)) << a << ", " << b;
        }
    }
    EXPECT_GT(tiedMagnitudes, 50000);
}

}  // namespace
}  // namespace tzcumfun
