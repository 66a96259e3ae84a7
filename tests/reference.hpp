// An independent scalar reference of the four cumulative operations, written without the
// library's templates: one element at a time along each vector, by multi-index arithmetic.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <deque>
#include <limits>
#include <type_traits>
#include <vector>

#include "driver/types.hpp"

namespace reference {

using tzcumfun::CumOp;

template <class T>
struct IsComplex : std::false_type {};
template <class T>
struct IsComplex<std::complex<T>> : std::true_type {};

template <class T>
bool nan(T x) {
    if constexpr (IsComplex<T>::value) return std::isnan(x.real()) || std::isnan(x.imag());
    if constexpr (std::is_floating_point_v<T>) return std::isnan(x);
    return false;
}

// Integer sums and products: exact in 128 bits (an unsigned 64-bit product past 2^64 as 2^64),
// then clamped to the type.
template <class T>
T clamped(CumOp op, T a, T b) {
    __int128 exact = static_cast<__int128>(a) + b;
    if (op == CumOp::Prod && std::is_unsigned_v<T> && sizeof(T) == 8) {
        const unsigned __int128 wide = static_cast<unsigned __int128>(a) * b;
        exact = wide >> 64 ? static_cast<__int128>(1) << 64 : static_cast<__int128>(wide);
    } else if (op == CumOp::Prod) {
        exact = static_cast<__int128>(a) * b;
    }
    const auto lo = static_cast<__int128>(std::numeric_limits<T>::min());
    const auto hi = static_cast<__int128>(std::numeric_limits<T>::max());
    return static_cast<T>(exact < lo ? lo : exact > hi ? hi : exact);
}

// Magnitude of a complex value as the library defines it: |re| when im is zero, |re| + |im| when
// a part is not finite, otherwise the hypotenuse. Single data goes through double and back:
// correctly rounded on the values the suite uses, where single-precision routines may not be.
template <class T>
T magnitude(std::complex<T> z) {
    if (z.imag() == 0) return std::fabs(z.real());
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return std::fabs(z.real()) + std::fabs(z.imag());
    return static_cast<T>(std::hypot(static_cast<double>(z.real()), static_cast<double>(z.imag())));
}

template <class T>
T phase(std::complex<T> z) {
    return static_cast<T>(std::atan2(static_cast<double>(z.imag()), static_cast<double>(z.real())));
}

// True when b ranks above a among values of equal magnitude: halved magnitudes where both are
// infinite, then the angle, then the parts in the direction in which the angle grows.
template <class T>
bool ranksAbove(std::complex<T> a, std::complex<T> b) {
    if (std::isinf(magnitude(a))) {
        const T ha = magnitude(a * T(0.5));
        const T hb = magnitude(b * T(0.5));
        if (ha != hb) return hb > ha;
    }
    const T pa = phase(a);
    const T pb = phase(b);
    if (pa != pb) return pb > pa;
    if (a.real() != b.real()) return pa >= 0 ? b.real() < a.real() : b.real() > a.real();
    return a.real() < 0 ? b.imag() < a.imag() : b.imag() > a.imag();
}

// Whether the maximum (or, mirrored, the minimum) moves from prev to x.
template <class T>
bool takesOver(bool wantMax, bool carryNaN, T prev, T x) {
    const bool prevNaN = nan(prev);
    const bool xNaN = nan(x);
    if (prevNaN || xNaN) return carryNaN ? !prevNaN : !xNaN;
    if constexpr (IsComplex<T>::value) {
        if (prev.real() == x.real() && prev.imag() == x.imag()) return false;
        const auto m1 = magnitude(prev);
        const auto m2 = magnitude(x);
        if (m1 != m2) return wantMax ? m2 > m1 : m2 < m1;
        return wantMax ? ranksAbove(prev, x) : ranksAbove(x, prev);
    } else {
        return wantMax ? x > prev : x < prev;
    }
}

// Element storage; logical elements need real references, which std::vector<bool> lacks.
template <class T>
using Buffer = std::conditional_t<std::is_same_v<T, bool>, std::deque<bool>, std::vector<T>>;

// The running value after x, from prev, or from nothing at the first element.
template <class In, class Out>
Out step(CumOp op, bool omitNaN, const Out* prev, In x) {
    const bool sumOrProd = op == CumOp::Sum || op == CumOp::Prod;
    if constexpr (std::is_same_v<In, bool>) {
        const double v = x ? 1.0 : 0.0;
        if (prev == nullptr) return static_cast<Out>(v);
        if (sumOrProd) return static_cast<Out>(op == CumOp::Sum ? *prev + v : *prev * v);
        return static_cast<Out>(op == CumOp::Max ? (*prev || x) : (*prev && x));
    } else {
        if (sumOrProd && omitNaN && nan(x)) {
            return prev != nullptr ? *prev : op == CumOp::Sum ? Out(0) : Out(1);
        }
        if (prev == nullptr) return x;
        if (!sumOrProd) {
            return takesOver(op == CumOp::Max, !omitNaN, *prev, x) ? x : *prev;
        }
        if constexpr (std::is_integral_v<In>) {
            return clamped(op, *prev, x);
        } else if constexpr (IsComplex<In>::value) {
            // Products of factors whose plain product stays finite; real factors give +0.
            const auto [ar, ai, br, bi] =
                std::array{prev->real(), prev->imag(), x.real(), x.imag()};
            if (op == CumOp::Prod && ai == 0 && bi == 0) return {ar * br, 0};
            if (op == CumOp::Prod) return {ar * br - ai * bi, ar * bi + ai * br};
            return {prev->real() + x.real(), prev->imag() + x.imag()};
        } else {
            return op == CumOp::Sum ? *prev + x : *prev * x;
        }
    }
}

// Equal bits; any NaN equals any NaN where `anyNaN` (sums and products make NaNs of their own,
// whose payload the hardware picks); zeros of either sign are equal where `signlessZero` (sparse
// results store none).
template <class T>
bool same(T want, T got, bool anyNaN, bool signlessZero) {
    if constexpr (IsComplex<T>::value) {
        return same(want.real(), got.real(), anyNaN, signlessZero) &&
               same(want.imag(), got.imag(), anyNaN, signlessZero);
    } else if constexpr (std::is_floating_point_v<T>) {
        if ((anyNaN && std::isnan(want) && std::isnan(got)) ||
            (signlessZero && want == 0 && got == 0))
            return true;
    }
    return std::memcmp(&want, &got, sizeof(T)) == 0;
}

// The first element of a host result's `data` that is not `same` as `want`'s, or want.size(). A
// complex result whose imaginary parts were all zero comes back real (`realOnly`): its real parts.
template <class Container, class T = typename Container::value_type>
std::size_t firstDifference(const Container& want, const void* data, bool realOnly, bool anyNaN,
                            bool signlessZero) {
    const std::size_t width = IsComplex<T>::value && realOnly ? sizeof(T) / 2 : sizeof(T);
    for (std::size_t at = 0; at < want.size(); ++at) {
        T got = want[at];
        std::memcpy(&got, static_cast<const char*>(data) + at * width, width);
        if (!same<T>(want[at], got, anyNaN, signlessZero)) return at;
    }
    return want.size();
}

// Scans `in` (column-major, extents `dims`) along the 0-based dimension `workDim`.
template <class In, class Out>
Buffer<Out> scan(CumOp op, const Buffer<In>& in, const std::vector<std::size_t>& dims,
                 std::size_t workDim, bool forward, bool omitNaN) {
    std::size_t before = 1;
    std::size_t after = 1;
    for (std::size_t d = 0; d < dims.size(); ++d) {
        if (d < workDim) before *= dims[d];
        if (d > workDim) after *= dims[d];
    }
    const std::size_t length = workDim < dims.size() ? dims[workDim] : 1;
    Buffer<Out> out(in.size());
    for (std::size_t outer = 0; outer < after; ++outer) {
        for (std::size_t inner = 0; inner < before; ++inner) {
            Out running{};
            for (std::size_t visit = 0; visit < length; ++visit) {
                const std::size_t k = forward ? visit : length - 1 - visit;
                const std::size_t at = inner + before * (k + length * outer);
                running = step<In, Out>(op, omitNaN, visit == 0 ? nullptr : &running, in[at]);
                out[at] = running;
            }
        }
    }
    return out;
}

}  // namespace reference
