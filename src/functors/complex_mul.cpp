// Recovery of complex products whose plain partial products overflowed or met Inf times zero.
#include <cmath>
#include <concepts>

#include "functors/element.hpp"
#include "functors/prod.hpp"

namespace tzcumfun {
namespace {

template <std::floating_point T>
bool isInfinite(T x) {
    return !detail::isFinite(x) && !isNaN(x);
}

// A factor divided by the magnitude of its larger part: the larger part becomes exactly +-1 and
// the smaller one its ratio to the larger, 0 when the larger is infinite and the smaller finite.
// The ratios cannot overflow, so their products tell the true sign and size of each part of the
// result apart from the two scales.
template <std::floating_point T>
struct Scaled {
    T scale;
    T re;
    T im;
};

template <std::floating_point T>
Scaled<T> scaleByLarger(T re, T im) {
    const T absRe = std::fabs(re);
    const T absIm = std::fabs(im);
    // A NaN imaginary part leaves the real part as the scale, so the NaN stays in a ratio.
    const T scale = (absRe >= absIm || isNaN(im)) ? absRe : absIm;
    return {scale, absRe == scale ? std::copysign(T(1), re) : re / scale,
            absIm == scale ? std::copysign(T(1), im) : im / scale};
}

// One part of the product as seen from the scaled factors (`scaled`) and as its two unscaled
// partial products, each with the sign its scaled counterpart carries. `add` tells the imaginary
// part (first + second) from the real part (first - second).
template <std::floating_point T>
struct PartialProducts {
    T scaled;
    T first;
    T firstSign;
    T second;
    T secondSign;
    bool add;
};

// A part is recomputed when its plain value is NaN, or infinite although both scales are finite
// (the partial products overflowed on the way to a part that may well be representable).
template <std::floating_point T>
T mendPart(T plain, const Scaled<T>& a, const Scaled<T>& b, bool zeroMeetsInfinity,
           const PartialProducts<T>& part) {
    const bool scalesFinite = detail::isFinite(a.scale) && detail::isFinite(b.scale);
    if (!isNaN(plain) && !(isInfinite(plain) && scalesFinite)) return plain;
    // A NaN scaled part counts as not zero: it carries the NaN into the result.
    if (!(part.scaled == 0)) return (part.scaled * a.scale) * b.scale;
    if (zeroMeetsInfinity) {
        // No input is NaN once the scaled part is a number, so a NaN partial product here is an
        // infinity times a zero: it counts as a zero, signed as the scaled factors say.
        const T first = isNaN(part.first) ? std::copysign(T(0), part.firstSign) : part.first;
        const T second = isNaN(part.second) ? std::copysign(T(0), part.secondSign) : part.second;
        return part.add ? first + second : first - second;
    }
    return part.scaled;
}

template <std::floating_point T>
void recover(T ar, T ai, T br, T bi, T& re, T& im) {
    // A real factor times an imaginary one: the product is purely imaginary.
    if (ai == 0 && br == 0) {
        re = T(0);
        im = ar * bi;
        return;
    }
    if (bi == 0 && ar == 0) {
        re = T(0);
        im = ai * br;
        return;
    }
    const Scaled<T> a = scaleByLarger(ar, ai);
    const Scaled<T> b = scaleByLarger(br, bi);
    // An infinite factor meeting a zero part of the other: the partial products include Inf
    // times 0, which stand for zeros rather than for NaN.
    const bool zeroMeetsInfinity = (isInfinite(a.scale) && (br == 0 || bi == 0)) ||
                                   (isInfinite(b.scale) && (ar == 0 || ai == 0));
    // Both parts are judged on their plain values, never on a part already mended.
    const T plainRe = re;
    const T plainIm = im;
    re = mendPart(plainRe, a, b, zeroMeetsInfinity,
                  {a.re * b.re - a.im * b.im, ar * br, a.re * b.re, ai * bi, a.im * b.im, false});
    im = mendPart(plainIm, a, b, zeroMeetsInfinity,
                  {a.re * b.im + a.im * b.re, ar * bi, a.re * b.im, ai * br, a.im * b.re, true});
}

}  // namespace

void complexMulRecover(float ar, float ai, float br, float bi, float& re, float& im) {
    recover(ar, ai, br, bi, re, im);
}

void complexMulRecover(double ar, double ai, double br, double bi, double& re, double& im) {
    recover(ar, ai, br, bi, re, im);
}

}  // namespace tzcumfun
