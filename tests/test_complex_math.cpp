// Tests of the complex magnitude and phase against the platform's hypot and atan2.
#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <numbers>
#include <random>
#include <type_traits>
#include <utility>
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

// Magnitude and phase bit for bit; NaN matches any NaN.
template <class T>
struct Exact {
    T re, im, magnitude, phase;
};
template <class T, std::size_t N>
void expectExact(const Exact<T> (&rows)[N]) {
    for (const Exact<T>& row : rows) {
        const std::complex<T> z(row.re, row.im);
        for (const auto& [actual, expected] : {std::pair(complexMagnitude(z), row.magnitude),
                                               std::pair(complexPhase(z), row.phase)}) {
            EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual)
                                             : std::bit_cast<BitsOf<T>>(actual) ==
                                                   std::bit_cast<BitsOf<T>>(expected))
                << z << ": " << actual << " instead of " << expected;
        }
    }
}

template <class T>
class ComplexMathTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ComplexMathTest, Precisions);

// Random parts over the whole exponent range, subnormals included, with zeros, extremes,
// infinities and NaN mixed in: half the pairs independent (mostly huge or tiny ratios), half
// within a factor of 2^8 (the split sums). The method keeps within one ulp without rounding
// correctly, so where the platform rounds correctly about one near pair in eight comes out one
// ulp apart; the bound is there to catch a drift. An infinite part with a NaN partner is NaN
// for us, where the platform's hypot says +Inf.
TYPED_TEST(ComplexMathTest, WithinOneUlpOfPlatform) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    constexpr int kSamples = 1'000'000;
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<T> significand(1, 2);
    std::uniform_int_distribution<int> exponent(Limits::min_exponent - Limits::digits,
                                                Limits::max_exponent - 1);
    std::uniform_int_distribution<int> nearby(-8, 8);
    constexpr T inf = Limits::infinity();
    const T specials[] = {
        0,   -T(0), Limits::denorm_min(), Limits::min() / 3, Limits::min(), Limits::max(),
        inf, -inf,  Limits::quiet_NaN()};
    const auto part = [&](int exp) {
        const T value = rng() % 16 == 0 ? specials[rng() % std::size(specials)]
                                        : std::ldexp(significand(rng), exp);
        return rng() % 2 == 0 ? -value : value;
    };
    std::uint64_t magnitudeDiffs = 0;
    std::uint64_t phaseDiffs = 0;
    for (int sample = 0; sample < 2 * kSamples; ++sample) {
        const int reExp = exponent(rng);
        const int imExp = sample < kSamples
                              ? exponent(rng)
                              : std::min(reExp + nearby(rng), Limits::max_exponent - 1);
        const std::complex<T> z(part(reExp), part(imExp));
        const bool nanPart = std::isnan(z.real()) || std::isnan(z.imag());
        const T platformMagnitude = nanPart ? Limits::quiet_NaN() : std::hypot(z.real(), z.imag());
        const T platformPhase = std::atan2(z.imag(), z.real());
        const std::uint64_t magnitudeGap = ulpDistance(complexMagnitude(z), platformMagnitude);
        const std::uint64_t phaseGap = ulpDistance(complexPhase(z), platformPhase);
        ASSERT_LE(magnitudeGap, 1U) << z;
        ASSERT_LE(phaseGap, 1U) << z;
        ASSERT_TRUE(nanPart || std::signbit(complexPhase(z)) == std::signbit(platformPhase)) << z;
        magnitudeDiffs += magnitudeGap;
        phaseDiffs += phaseGap;
    }
    const double total = 2.0 * kSamples;
    const double magnitudeShare = static_cast<double>(magnitudeDiffs) / total;
    const double phaseShare = static_cast<double>(phaseDiffs) / total;
    std::printf("[ %-6s ] hypot differs in %llu of %.0f (%.3g), atan2 in %llu (%.3g)\n",
                sizeof(T) == 4 ? "single" : "double",
                static_cast<unsigned long long>(magnitudeDiffs), total, magnitudeShare,
                static_cast<unsigned long long>(phaseDiffs), phaseShare);
    EXPECT_LT(magnitudeShare, 0.15);
    EXPECT_LT(phaseShare, 0.15);
}

// The angles of infinite parts, +pi or -pi on the negative real axis by the sign of a zero
// imaginary part, and NaN magnitudes that an infinite partner must not hide.
TYPED_TEST(ComplexMathTest, ExactSpecialValues) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    constexpr T pi = std::numbers::pi_v<T>;
    constexpr T inf = Limits::infinity();
    constexpr T nan = Limits::quiet_NaN();
    constexpr T big = Limits::max();
    const auto threeQuarterPi = static_cast<T>(3 * std::numbers::pi_v<long double> / 4);
    const T steep = std::ldexp(T(1), Limits::digits + 16);  // atan2(steep, -1) rounds to pi/2
    const Exact<T> rows[] = {{inf, inf, inf, pi / 4},
                             {-inf, inf, inf, threeQuarterPi},
                             {inf, -inf, inf, -pi / 4},
                             {-inf, -inf, inf, -threeQuarterPi},
                             {inf, 5, inf, 0},
                             {inf, -5, inf, -T(0)},
                             {-inf, 5, inf, pi},
                             {-inf, -5, inf, -pi},
                             {5, inf, inf, pi / 2},
                             {-5, -inf, inf, -pi / 2},
                             {-1, 0, 1, pi},
                             {-1, -T(0), 1, -pi},
                             {-T(0), 0, 0, pi},
                             {-T(0), -T(0), 0, -pi},
                             {1, -T(0), 1, -T(0)},
                             {-T(0), -3, 3, -pi / 2},
                             {big, big, inf, pi / 4},
                             {-Limits::denorm_min(), big, big, pi / 2},
                             {-1, steep, steep, pi / 2},
                             {inf, nan, nan, nan},
                             {nan, -inf, nan, nan}};
    expectExact(rows);
}

// Inputs where the method's own rounding shows: several are one ulp from the correctly rounded
// result, and a different split of the squares or a different series changes some of them. The
// bits must be the same on every platform, so that near-ties of complex values break alike.
constexpr Exact<float> kGoldenSingle[] = {
    {0x1.496764p-1f, 0x1.a29bep-3f, 0x1.59a0ep-1f, 0x1.3affeap-2f},
    {-0x1.6e935ap+2f, 0x1.8131ep+1f, 0x1.9e175p+2f, 0x1.5433fp+1f},
    {-0x1.069892p+4f, 0x1.dcfffep+7f, 0x1.de20c8p+7f, 0x1.a3b66ep+0f},
    {-0x1.82643ep-4f, -0x1.c26066p-7f, 0x1.8678a6p-4f, -0x1.7f9ac8p+1f},
    {0x1.00b11ap+0f, 0x1.b035aep+2f, 0x1.b4f2a2p+2f, 0x1.6c63bcp+0f},
    {0x1.b55b9p+2f, -0x1.c74402p+0f, 0x1.c3ecb8p+2f, -0x1.04b32p-2f}};
constexpr Exact<double> kGoldenDouble[] = {
    {0x1.7feeef8693d5p+4, -0x1.a2e1058daeb49p+4, 0x1.1c1b15a771c6dp+5, -0x1.a8658bf67cad2p-1},
    {0x1.220a5a14be8d7p-1, -0x1.757b445c955bfp-4, 0x1.25c60e6f00536p-1, -0x1.46d83933d4389p-3},
    {0x1.206ea27e325d2p+2, -0x1.13d53caa69102p+2, 0x1.8f185b7279686p+2, -0x1.86b18ca49869dp-1},
    {0x1.a47e4527e8ee2p+3, 0x1.26f5b45f8fce2p+3, 0x1.00d0a5e32c7eep+4, 0x1.39318ae033e1cp-1},
    {-0x1.cc41b0554db1ap-1, -0x1.e4e30b42096eap+1, 0x1.f25a32f8b5d8ep+1, -0x1.cdc508c74e6a1p+0},
    {-0x1.19c761faf7a42p-2, 0x1.3bd403ddaeb6cp+1, 0x1.3dc94314a0457p+1, 0x1.ae8e7429b8fa7p+0}};

TEST(ComplexMathGoldenTest, MethodRoundsAlikeEverywhere) {
    expectExact(kGoldenSingle);
    expectExact(kGoldenDouble);
}

}  // namespace
}  // namespace tzcumfun
