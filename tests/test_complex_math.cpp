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
        const int imExp = sample < kSamples
                              ? exponent(rng)
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
                sizeof(T) == 4 ? "single" : "double",
                static_cast<unsigned long long>(magnitudeDiffs), total, magnitudeDiffs / total,
                static_cast<unsigned long long>(phaseDiffs), phaseDiffs / total);
    EXPECT_LT(magnitudeDiffs / total, 0.15);
    EXPECT_LT(phaseDiffs / total, 0.15);
}

// Every pairing of zeros, subnormals, extremes, infinities and NaN. An infinite part with a NaN
// partner is NaN for us, where the platform's hypot says +Inf.
TYPED_TEST(ComplexMathTest, SpecialOperandsAgreeWithPlatform) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    const std::vector<T> specials = {T(0),
                                     -T(0),
                                     Limits::denorm_min(),
                                     -Limits::denorm_min(),
                                     Limits::min() / 3,
                                     Limits::min(),
                                     T(1),
                                     T(-0.5),
                                     T(5),
                                     Limits::max(),
                                     -Limits::max(),
                                     Limits::infinity(),
                                     -Limits::infinity(),
                                     Limits::quiet_NaN()};
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
        {inf, inf, pi / 4},   {-inf, inf, threeQuarterPi},
        {inf, -inf, -pi / 4}, {-inf, -inf, -threeQuarterPi},
        {inf, 5, 0},          {inf, -5, -T(0)},
        {-inf, 5, pi},        {-inf, -5, -pi},
        {5, inf, pi / 2},     {-5, -inf, -pi / 2},
        {-1, 0, pi},          {-1, -T(0), -pi},
        {-T(0), 0, pi},       {-T(0), -T(0), -pi},
        {1, -T(0), -T(0)},    {0, 3, pi / 2},
        {-T(0), -3, -pi / 2}, {-Limits::denorm_min(), Limits::max(), pi / 2}};
    for (const Row& row : angles) {
        EXPECT_EQ(std::bit_cast<BitsOf<T>>(complexPhase(std::complex<T>(row.re, row.im))),
                  std::bit_cast<BitsOf<T>>(row.expected))
            << row.re << ", " << row.im;
    }
    const std::vector<Row> magnitudes = {
        {inf, nan, nan},
        {nan, -inf, nan},
        {nan, 0, nan},
        {-inf, 0, inf},
        {-T(0), -inf, inf},
        {-3, -4, 5},
        {Limits::max(), Limits::max(), inf},
        {-Limits::max(), -T(0), Limits::max()},
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

// Inputs where the method's own rounding shows: several are one ulp from the correctly rounded
// result, and a different split of the squares or a different series changes some of them. The
// bits must be the same on every platform, so that near-ties of complex values break alike.
template <class T>
struct Golden {
    T re, im, magnitude, phase;
};
constexpr Golden<float> kGoldenSingle[] = {
    {0x1.496764p-1f, 0x1.a29bep-3f, 0x1.59a0ep-1f, 0x1.3affeap-2f},
    {-0x1.6e935ap+2f, 0x1.8131ep+1f, 0x1.9e175p+2f, 0x1.5433fp+1f},
    {-0x1.069892p+4f, 0x1.dcfffep+7f, 0x1.de20c8p+7f, 0x1.a3b66ep+0f},
    {-0x1.82643ep-4f, -0x1.c26066p-7f, 0x1.8678a6p-4f, -0x1.7f9ac8p+1f},
    {0x1.00b11ap+0f, 0x1.b035aep+2f, 0x1.b4f2a2p+2f, 0x1.6c63bcp+0f},
    {0x1.b55b9p+2f, -0x1.c74402p+0f, 0x1.c3ecb8p+2f, -0x1.04b32p-2f}};
constexpr Golden<double> kGoldenDouble[] = {
    {0x1.7feeef8693d5p+4, -0x1.a2e1058daeb49p+4, 0x1.1c1b15a771c6dp+5, -0x1.a8658bf67cad2p-1},
    {0x1.220a5a14be8d7p-1, -0x1.757b445c955bfp-4, 0x1.25c60e6f00536p-1, -0x1.46d83933d4389p-3},
    {0x1.206ea27e325d2p+2, -0x1.13d53caa69102p+2, 0x1.8f185b7279686p+2, -0x1.86b18ca49869dp-1},
    {0x1.a47e4527e8ee2p+3, 0x1.26f5b45f8fce2p+3, 0x1.00d0a5e32c7eep+4, 0x1.39318ae033e1cp-1},
    {-0x1.cc41b0554db1ap-1, -0x1.e4e30b42096eap+1, 0x1.f25a32f8b5d8ep+1, -0x1.cdc508c74e6a1p+0},
    {-0x1.19c761faf7a42p-2, 0x1.3bd403ddaeb6cp+1, 0x1.3dc94314a0457p+1, 0x1.ae8e7429b8fa7p+0}};

TEST(ComplexMathGoldenTest, MethodRoundsAlikeEverywhere) {
    for (const auto& row : kGoldenSingle) {
        EXPECT_EQ(complexMagnitude(std::complex<float>(row.re, row.im)), row.magnitude) << row.re;
        EXPECT_EQ(complexPhase(std::complex<float>(row.re, row.im)), row.phase) << row.re;
    }
    for (const auto& row : kGoldenDouble) {
        EXPECT_EQ(complexMagnitude(std::complex<double>(row.re, row.im)), row.magnitude) << row.re;
        EXPECT_EQ(complexPhase(std::complex<double>(row.re, row.im)), row.phase) << row.re;
    }
}

}  // namespace
}  // namespace tzcumfun
