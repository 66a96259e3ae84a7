// Tests of the complex magnitude and phase against the platform's hypot and atan2.
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "functors/complex_order.hpp"

namespace tzcumfun {
namespace {

template <class T>
using BitsOf = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

// Distance in representable values (+0 and -0 coincide); NaN is near only to NaN.
template <class T>
std::uint64_t ulpDistance(T a, T b) {
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b) ? 0 : std::numeric_limits<std::uint64_t>::max();
    }
    const auto ordered = [](T v) {
        const auto magnitude = static_cast<std::int64_t>(std::bit_cast<BitsOf<T>>(std::fabs(v)));
        return std::signbit(v) ? -magnitude : magnitude;
    };
    const std::int64_t gap = ordered(a) - ordered(b);
    return static_cast<std::uint64_t>(gap < 0 ? -gap : gap);
}

template <class T>
class ComplexMathTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ComplexMathTest, Precisions);

// Random parts over the whole exponent range, subnormals included: half the pairs independent
// (mostly huge or tiny ratios), half within a factor of 2^8 of each other (the split sums). The
// method keeps within one ulp without rounding correctly, so where the platform rounds correctly
// about one near pair in eight comes out one ulp apart; the bound is there to catch a drift.
TYPED_TEST(ComplexMathTest, RandomOperandsWithinOneUlpOfPlatform) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    constexpr int kSamples = 1'000'000;
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<T> significand(1, 2);
    std::uniform_int_distribution<int> exponent(Limits::min_exponent - Limits::digits,
                                                Limits::max_exponent - 1);
    std::uniform_int_distribution<int> nearby(-8, 8);
    const auto part = [&](int exp) {
        const T value = std::ldexp(significand(rng), exp);
        return (rng() & 1) != 0 ? -value : value;
    };
    std::uint64_t magnitudeDiffs = 0;
    std::uint64_t phaseDiffs = 0;
    for (int sample = 0; sample < 2 * kSamples; ++sample) {
        const int reExp = exponent(rng);
        const int imExp = sample < kSamples ? exponent(rng)
                                            : std::min(reExp + nearby(rng), Limits::max_exponent - 1);
        const std::complex<T> z(part(reExp), part(imExp));
        const std::uint64_t magnitudeGap =
            ulpDistance(complexMagnitude(z), std::hypot(z.real(), z.imag()));
        const std::uint64_t phaseGap = ulpDistance(complexPhase(z), std::atan2(z.imag(), z.real()));
        ASSERT_LE(magnitudeGap, 1U) << z;
        ASSERT_LE(phaseGap, 1U) << z;
        magnitudeDiffs += magnitudeGap;
        phaseDiffs += phaseGap;
    }
    const double total = 2.0 * kSamples;
    std::printf("[ %-6s ] hypot differs in %llu of %.0f (%.3g), atan2 in %llu (%.3g)\n",
                sizeof(T) == 4 ? "single" : "double", static_cast<unsigned long long>(magnitudeDiffs),
                total, magnitudeDiffs / total, static_cast<unsigned long long>(phaseDiffs),
                phaseDiffs / total);
    EXPECT_LT(magnitudeDiffs / total, 0.15);
    EXPECT_LT(phaseDiffs / total, 0.15);
}

// Every pairing of zeros, subnormals, extremes, infinities and NaN. An infinite part with a NaN
// partner is NaN for us, where the platform's hypot says +Inf.
TYPED_TEST(ComplexMathTest, SpecialOperandsAgreeWithPlatform) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    const std::vector<T> specials = {
        T(0),  -T(0), Limits::denorm_min(), -Limits::denorm_min(), Limits::min() / 3,
        Limits::min(), T(1), T(-0.5), T(5), Limits::max(), -Limits::max(),
        Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN()};
    for (const T re : specials) {
        for (const T im : specials) {
            const std::complex<T> z(re, im);
            const T platformAngle = std::atan2(im, re);
            EXPECT_LE(ulpDistance(complexPhase(z), platformAngle), 1U) << z;
            EXPECT_EQ(std::signbit(complexPhase(z)), std::signbit(platformAngle)) << z;
            if (std::isnan(re) || std::isnan(im)) {
                EXPECT_TRUE(std::isnan(complexMagnitude(z))) << z;
            } else {
                EXPECT_LE(ulpDistance(complexMagnitude(z), std::hypot(re, im)), 1U) << z;
            }
        }
    }
}

TYPED_TEST(ComplexMathTest, ExactSpecialValues) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    constexpr T pi = std::numbers::pi_v<T>;
    constexpr T inf = Limits::infinity();
    constexpr T nan = Limits::quiet_NaN();
    const auto threeQuarterPi = static_cast<T>(3 * std::numbers::pi_v<long double> / 4);
    struct Row {
        T re, im, expected;
    };
    const std::vector<Row> angles = {
        {inf, inf, pi / 4},   {-inf, inf, threeQuarterPi}, {inf, -inf, -pi / 4},
        {-inf, -inf, -threeQuarterPi}, {inf, 5, 0},  {inf, -5, -T(0)},
        {-inf, 5, pi},        {-inf, -5, -pi},       {5, inf, pi / 2},
        {-5, -inf, -pi / 2},  {-1, 0, pi},           {-1, -T(0), -pi},
        {-T(0), 0, pi},       {-T(0), -T(0), -pi},   {1, -T(0), -T(0)},
        {0, 3, pi / 2},       {-T(0), -3, -pi / 2},  {-Limits::denorm_min(), Limits::max(), pi / 2}};
    for (const Row& row : angles) {
        EXPECT_EQ(std::bit_cast<BitsOf<T>>(complexPhase(std::complex<T>(row.re, row.im))),
                  std::bit_cast<BitsOf<T>>(row.expected))
            << row.re << ", " << row.im;
    }
    const std::vector<Row> magnitudes = {
        {inf, nan, nan},          {nan, -inf, nan},         {nan, 0, nan},
        {-inf, 0, inf},           {-T(0), -inf, inf},       {-3, -4, 5},
        {Limits::max(), Limits::max(), inf}, {-Limits::max(), -T(0), Limits::max()},
        {T(3) * Limits::denorm_min(), T(-4) * Limits::denorm_min(), T(5) * Limits::denorm_min()}};
    for (const Row& row : magnitudes) {
        const T magnitude = complexMagnitude(std::complex<T>(row.re, row.im));
        if (std::isnan(row.expected)) {
            EXPECT_TRUE(std::isnan(magnitude)) << row.re << ", " << row.im;
        } else {
            EXPECT_EQ(magnitude, row.expected) << row.re << ", " << row.im;
        }
    }
}

}  // namespace
}  // namespace tzcumfun
