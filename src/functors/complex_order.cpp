// Complex magnitude, phase and equal-magnitude ranking, each in the element's own precision.
#include "functors/complex_order.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "functors/element.hpp"

namespace tzcumfun {
namespace {

// The constants of the hypotenuse and arc tangent for one precision. Single data is never worked
// in double: every constant and every intermediate is of the element's own type.
template <class T>
struct Precision;

template <>
struct Precision<double> {
    using Bits = std::uint64_t;
    using SignedBits = std::int64_t;
    static constexpr int kFractionBits = 52;

    // Above a ratio of 2^60 the smaller part cannot move the rounded hypotenuse.
    static constexpr int kHypotNegligibleExp = 60;
    // Operands beyond 2^500 (below 2^-500) are scaled by 2^-600 (2^600), so that neither their
    // squares nor the products of their split halves overflow or underflow.
    static constexpr double kHypotLarge = 0x1p500;
    static constexpr double kHypotSmall = 0x1p-500;
    static constexpr double kHypotShrink = 0x1p-600;
    static constexpr double kHypotGrow = 0x1p600;
    static constexpr double kSubnormalGrow = 0x1p1022;
    static constexpr double kSubnormalShrink = 0x1p-1022;
    // Keeping the top 21 of 53 significant bits makes the products of split halves exact.
    static constexpr Bits kSplitMask = ~Bits{0xffffffff};

    // Above a ratio of 2^60 the angle is pi/2 to the last bit.
    static constexpr int kAtan2NegligibleExp = 60;
    static constexpr double kPi = 0x1.921fb54442d18p+1;
    static constexpr double kPiLo = 0x1.1a62633145c07p-53;  // pi - kPi
    static constexpr double kHalfPi = 0x1.921fb54442d18p+0;
    static constexpr double kQuarterPi = 0x1.921fb54442d18p-1;
    static constexpr double kAtanFlat = 0x1p66;     // atan is pi/2 in double from here on
    static constexpr double kAtanLinear = 0x1p-29;  // and is its argument below this
    // atan(1/2), atan(1), atan(3/2) and atan(inf) as a rounded head and the rest.
    static constexpr std::array<double, 4> kAtanHi = {0x1.dac670561bb4fp-2, 0x1.921fb54442d18p-1,
                                                      0x1.f730bd281f69bp-1, 0x1.921fb54442d18p+0};
    static constexpr std::array<double, 4> kAtanLo = {0x1.a2b7f222f65e2p-56, 0x1.1a62633145c07p-55,
                                                      0x1.007887af0cbbdp-56, 0x1.1a62633145c07p-54};
    // atan(r) = r - r * sum(kAtanPoly[i] * r^(2i + 2)) for |r| <= 7/16.
    static constexpr std::array<double, 11> kAtanPoly = {
        0x1.555555555550dp-2, -0x1.999999998ebc4p-3, 0x1.24924920083ffp-3, -0x1.c71c6fe231671p-4,
        0x1.745cdc54c206ep-4, -0x1.3b0f2af749a6dp-4, 0x1.10d66a0d03d51p-4, -0x1.dde2d52defd9ap-5,
        0x1.97b4b24760debp-5, -0x1.2b4442c6a6c2fp-5, 0x1.0ad3ae322da11p-6};
};

template <>
struct Precision<float> {
    using Bits = std::uint32_t;
    using SignedBits = std::int32_t;
    static constexpr int kFractionBits = 23;

    static constexpr int kHypotNegligibleExp = 30;
    static constexpr float kHypotLarge = 0x1p50f;
    static constexpr float kHypotSmall = 0x1p-50f;
    static constexpr float kHypotShrink = 0x1p-68f;
    static constexpr float kHypotGrow = 0x1p68f;
    static constexpr float kSubnormalGrow = 0x1p126f;
    static constexpr float kSubnormalShrink = 0x1p-126f;
    // Keeping the top 12 of 24 significant bits makes the products of split halves exact.
    static constexpr Bits kSplitMask = ~Bits{0xfff};

    static constexpr int kAtan2NegligibleExp = 26;
    static constexpr float kPi = 0x1.921fb6p+1f;
    static constexpr float kPiLo = -0x1.777a5cp-24f;  // pi - kPi: single pi rounds up
    static constexpr float kHalfPi = 0x1.921fb6p+0f;
    static constexpr float kQuarterPi = 0x1.921fb6p-1f;
    static constexpr float kAtanFlat = 0x1p34f;
    static constexpr float kAtanLinear = 0x1p-29f;
    static constexpr std::array<float, 4> kAtanHi = {0x1.dac67p-2f, 0x1.921fb4p-1f, 0x1.f730bcp-1f,
                                                     0x1.921fb4p+0f};
    static constexpr std::array<float, 4> kAtanLo = {0x1.586ed2p-28f, 0x1.4442dp-25f,
                                                     0x1.281f68p-25f, 0x1.4442dp-24f};
    static constexpr std::array<float, 11> kAtanPoly = {
        0x1.555556p-2f, -0x1.99999ap-3f, 0x1.24924ap-3f, -0x1.c71c7p-4f,
        0x1.745cdcp-4f, -0x1.3b0f2ap-4f, 0x1.10d66ap-4f, -0x1.dde2d6p-5f,
        0x1.97b4b2p-5f, -0x1.2b4442p-5f, 0x1.0ad3aep-6f};
};

template <class T>
typename Precision<T>::Bits bitsOf(T v) {
    return std::bit_cast<typename Precision<T>::Bits>(v);
}

template <class T>
bool signBit(T v) {
    return (bitsOf(v) >> (sizeof(T) * 8 - 1)) != 0;
}

// The head of v with its low bits cleared; head * head and head * (other head) are exact.
template <class T>
T splitHead(T v) {
    return std::bit_cast<T>(bitsOf(v) & Precision<T>::kSplitMask);
}

// sqrt(x^2 + y^2) of finite x and y with an error below one ulp. If the sum of squares is formed
// with an error below sqrt(2)/2 ulp, its root is within one ulp; so, with a >= b >= 0, the sum is
// assembled from split halves whose products are exact, choosing the form by the ratio a / b.
template <class T>
T hypotFinite(T x, T y) {
    using P = Precision<T>;
    T a = std::fabs(x);
    T b = std::fabs(y);
    if (a < b) std::swap(a, b);
    if (bitsOf(a) - bitsOf(b) > (typename P::Bits{P::kHypotNegligibleExp} << P::kFractionBits)) {
        return a + b;
    }
    T unscale = 1;
    if (a > P::kHypotLarge) {
        a *= P::kHypotShrink;
        b *= P::kHypotShrink;
        unscale = P::kHypotGrow;
    } else if (b < P::kHypotSmall) {
        if (b == 0) return a;
        if (b < std::numeric_limits<T>::min()) {
            a *= P::kSubnormalGrow;
            b *= P::kSubnormalGrow;
            unscale = P::kSubnormalShrink;
        } else {
            a *= P::kHypotGrow;
            b *= P::kHypotGrow;
            unscale = P::kHypotShrink;
        }
    }
    const T gap = a - b;
    T root;
    if (gap > b) {
        // a > 2b: a^2 dominates, so it is the one square formed from exact halves.
        const T aHead = splitHead(a);
        const T aTail = a - aHead;
        root = std::sqrt(aHead * aHead - (b * (-b) - aTail * (a + aHead)));
    } else {
        // a <= 2b: a^2 + b^2 = (a - b)^2 + 2ab, with 2ab from exact halves of 2a and b.
        const T twiceA = a + a;
        const T twiceAHead = splitHead(twiceA);
        const T twiceATail = twiceA - twiceAHead;
        const T bHead = splitHead(b);
        const T bTail = b - bHead;
        root =
            std::sqrt(twiceAHead * bHead - (gap * (-gap) - (twiceAHead * bTail + twiceATail * b)));
    }
    return root * unscale;
}

// atan(t) for t >= 0 and not NaN. t is reduced against the nearest of 0, 1/2, 1, 3/2 and
// infinity, atan(t) = atan(c) + atan((t - c) / (1 + c t)), and the odd series of the reduced
// argument is split into even and odd powers of its square to shorten the dependency chain.
template <class T>
T arcTangent(T t) {
    using P = Precision<T>;
    if (t >= P::kAtanFlat) return P::kAtanHi[3] + P::kAtanLo[3];
    int reference = -1;  // index into kAtanHi and kAtanLo; -1 when t is not reduced
    T r = t;
    if (t < T(0.4375)) {
        if (t < P::kAtanLinear) return t;
    } else if (t < T(0.6875)) {
        reference = 0;
        r = (T(2) * t - T(1)) / (T(2) + t);
    } else if (t < T(1.1875)) {
        reference = 1;
        r = (t - T(1)) / (t + T(1));
    } else if (t < T(2.4375)) {
        reference = 2;
        r = (t - T(1.5)) / (T(1) + T(1.5) * t);
    } else {
        reference = 3;
        r = T(-1) / t;
    }
    const auto& c = P::kAtanPoly;
    const T z = r * r;
    const T w = z * z;
    const T oddTerms = z * (c[0] + w * (c[2] + w * (c[4] + w * (c[6] + w * (c[8] + w * c[10])))));
    const T evenTerms = w * (c[1] + w * (c[3] + w * (c[5] + w * (c[7] + w * c[9]))));
    if (reference < 0) return r - r * (oddTerms + evenTerms);
    const auto index = static_cast<std::size_t>(reference);
    return P::kAtanHi[index] - ((r * (oddTerms + evenTerms) - P::kAtanLo[index]) - r);
}

// atan2(y, x). The angle of (x, |y|) is found in [0, pi] and mirrored by the sign of y, so every
// special value comes in a pair; for x < 0 it is pi - atan(|y / x|), with pi carried in two parts.
template <class T>
T phaseOf(T y, T x) {
    using P = Precision<T>;
    if (isNaN(x) || isNaN(y)) return x + y;
    constexpr T kInf = std::numeric_limits<T>::infinity();
    const bool xNegative = signBit(x);
    const T ax = std::fabs(x);
    const T ay = std::fabs(y);
    T angle;
    if (ay == 0) {
        angle = xNegative ? P::kPi : T(0);
    } else if (ax == kInf) {
        if (ay == kInf) {
            angle = xNegative ? T(3) * P::kQuarterPi : P::kQuarterPi;
        } else {
            angle = xNegative ? P::kPi : T(0);
        }
    } else if (ax == 0 || ay == kInf) {
        angle = P::kHalfPi;
    } else {
        const auto exponentGap =
            static_cast<typename P::SignedBits>(bitsOf(ay) - bitsOf(ax)) >> P::kFractionBits;
        if (exponentGap > P::kAtan2NegligibleExp) {
            // Whatever the sign of x, the angle rounds to pi/2; going through pi - atan would
            // round twice.
            angle = P::kHalfPi;
        } else {
            const T reduced =
                xNegative && exponentGap < -P::kAtan2NegligibleExp ? T(0) : arcTangent(ay / ax);
            angle = xNegative ? P::kPi - (reduced - P::kPiLo) : reduced;
        }
    }
    return signBit(y) ? -angle : angle;
}

template <class T>
T magnitudeOf(std::complex<T> z) {
    const T re = std::fabs(z.real());
    const T im = std::fabs(z.imag());
    if (im == 0) return re;
    constexpr T kLargest = std::numeric_limits<T>::max();
    // Not "at most the largest finite value": infinite or NaN. The sum is NaN when either part
    // is, so that an infinite part does not hide a NaN partner.
    if (!(re <= kLargest) || !(im <= kLargest)) return re + im;
    return hypotFinite(re, im);
}

// Each step decides only when the previous ones tie. Magnitudes equal at +Inf are separated by
// the magnitudes of the halved values, which are finite for finite parts; then the larger angle
// ranks above; then, for angles that round alike, the real and imaginary parts in the direction
// in which the true angle grows.
template <class T>
bool ranksAbove(std::complex<T> a, std::complex<T> b) {
    if (magnitudeOf(a) == std::numeric_limits<T>::infinity()) {
        const T half = 0.5;
        const T halvedA = magnitudeOf(std::complex<T>(a.real() * half, a.imag() * half));
        const T halvedB = magnitudeOf(std::complex<T>(b.real() * half, b.imag() * half));
        if (halvedA != halvedB) return halvedB > halvedA;
    }
    const T angleA = phaseOf(a.imag(), a.real());
    const T angleB = phaseOf(b.imag(), b.real());
    if (angleA != angleB) return angleB > angleA;
    if (a.real() != b.real()) return angleA >= 0 ? b.real() < a.real() : b.real() > a.real();
    return a.real() < 0 ? b.imag() < a.imag() : b.imag() > a.imag();
}

}  // namespace

float complexMagnitude(std::complex<float> z) {
    return magnitudeOf(z);
}
double complexMagnitude(std::complex<double> z) {
    return magnitudeOf(z);
}

float complexPhase(std::complex<float> z) {
    return phaseOf(z.imag(), z.real());
}
double complexPhase(std::complex<double> z) {
    return phaseOf(z.imag(), z.real());
}

bool complexRanksAbove(std::complex<float> a, std::complex<float> b) {
    return ranksAbove(a, b);
}
bool complexRanksAbove(std::complex<double> a, std::complex<double> b) {
    return ranksAbove(a, b);
}

}  // namespace tzcumfun
