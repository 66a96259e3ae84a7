// An independent scalar reference of the four cumulative operations, written without the
// library's templates: one element at a time along each vector, by multi-index arithmetic.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
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
    if constexpr (IsComplex<T>::value) {
        return std::isnan(x.real()) || std::isnan(x.imag());
    } else if constexpr (std::is_floating_point_v<T>) {
        return std::isnan(x);
    } else {
        return false;
    }
}

// Integer sums and products: exact in 128 bits, then clamped to the type.
template <class T>
T clampWide(__int128 exact) {
    const auto lo = static_cast<__int128>(std::numeric_limits<T>::min());
    const auto hi = static_cast<__int128>(std::numeric_limits<T>::max());
    return static_cast<T>(exact < lo ? lo : exact > hi ? hi : exact);
}

template <class T>
__int128 wideProduct(T a, T b) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) {
        const unsigned __int128 exact = static_cast<unsigned __int128>(a) * b;
        return exact >> 64 ? static_cast<__int128>(std::numeric_limits<T>::max()) + 1
                           : static_cast<__int128>(exact);
    } else if constexpr (std::is_signed_v<T> && sizeof(T) == 8) {
        __int128 exact = 0;
        if (__builtin_mul_overflow(static_cast<__int128>(a), static_cast<__int128>(b), &exact)) {
            return 0;  // cannot happen for 64-bit operands
        }
        return exact;
    } else {
        return static_cast<__int128>(a) * static_cast<__int128>(b);
    }
}

// Magnitude of a complex value as the library defines it: |re| when im is zero, |re| + |im| when
// a part is not finite, otherwise the hypotenuse.
template <class T>
T magnitude(std::complex<T> z) {
    if (z.imag() == 0) return std::fabs(z.real());
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return std::fabs(z.real()) + std::fabs(z.imag());
    // Single data through double and back: correctly rounded on the values the suite uses, where
    // single-precision library routines may round a last bit apart.
    return static_cast<T>(std::hypot(static_cast<double>(z.real()), static_cast<double>(z.imag())));
}

template <class T>
T phase(std::complex<T> z) {
    return static_cast<T>(std::atan2(static_cast<double>(z.imag()), static_cast<double>(z.real())));
}

// True when b ranks above a among values of equal magnitude.
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
    if constexpr (IsComplex<T>::value) {
        if (prev.real() == x.real() && prev.imag() == x.imag()) return false;
        const auto m1 = magnitude(prev);
        const auto m2 = magnitude(x);
        const bool prevNaN = std::isnan(m1);
        const bool xNaN = std::isnan(m2);
        if (prevNaN && xNaN) return false;
        if (carryNaN) {
            if (prevNaN) return false;
            if (xNaN) return true;
        } else {
            if (xNaN) return false;
            if (prevNaN) return true;
        }
        if (m1 != m2) return wantMax ? m2 > m1 : m2 < m1;
        return wantMax ? ranksAbove(prev, x) : ranksAbove(x, prev);
    } else if constexpr (std::is_floating_point_v<T>) {
        if (carryNaN) {
            if (std::isnan(prev)) return false;
            if (std::isnan(x)) return true;
        } else {
            if (std::isnan(x)) return false;
            if (std::isnan(prev)) return true;
        }
        return wantMax ? x > prev : x < prev;
    } else {
        return wantMax ? x > prev : x < prev;
    }
}

// Complex product for factors whose plain product stays finite.
template <class T>
std::complex<T> product(std::complex<T> a, std::complex<T> b) {
    if (a.imag() == 0 && b.imag() == 0) return {a.real() * b.real(), T(0)};
    const T rr = a.real() * b.real();
    const T ii = a.imag() * b.imag();
    const T ri = a.real() * b.imag();
    const T ir = a.imag() * b.real();
    return {rr - ii, ri + ir};
}

// Element storage; logical elements need real references, which std::vector<bool> lacks.
template <class T>
using Buffer = std::conditional_t<std::is_same_v<T, bool>, std::deque<bool>, std::vector<T>>;

template <class In, class Out>
Out first(CumOp op, bool omitNaN, In x) {
    if constexpr (std::is_same_v<In, bool>) {
        return static_cast<Out>(x ? 1 : 0);
    } else {
        const bool sumOrProd = op == CumOp::Sum || op == CumOp::Prod;
        if (sumOrProd && omitNaN && nan(x)) return op == CumOp::Sum ? Out(0) : Out(1);
        return x;
    }
}

template <class In, class Out>
Out next(CumOp op, bool omitNaN, Out prev, In x) {
    if constexpr (std::is_same_v<In, bool>) {
        const double v = x ? 1.0 : 0.0;
        switch (op) {
            case CumOp::Sum:
                return static_cast<Out>(prev + v);
            case CumOp::Prod:
                return static_cast<Out>(prev * v);
            case CumOp::Min:
                return static_cast<Out>(prev && x);
            case CumOp::Max:
                return static_cast<Out>(prev || x);
        }
        return prev;
    } else if constexpr (std::is_integral_v<In>) {
        switch (op) {
            case CumOp::Sum:
                return clampWide<In>(static_cast<__int128>(prev) + x);
            case CumOp::Prod:
                return clampWide<In>(wideProduct<In>(prev, x));
            case CumOp::Min:
                return takesOver(false, false, prev, x) ? x : prev;
            case CumOp::Max:
                return takesOver(true, false, prev, x) ? x : prev;
        }
        return prev;
    } else {
        switch (op) {
            case CumOp::Sum:
                if (omitNaN && nan(x)) return prev;
                if constexpr (IsComplex<In>::value) {
                    return {prev.real() + x.real(), prev.imag() + x.imag()};
                } else {
                    return prev + x;
                }
            case CumOp::Prod:
                if (omitNaN && nan(x)) return prev;
                if constexpr (IsComplex<In>::value) {
                    return product(prev, x);
                } else {
                    return prev * x;
                }
            case CumOp::Min:
                return takesOver(false, !omitNaN, prev, x) ? x : prev;
            case CumOp::Max:
                return takesOver(true, !omitNaN, prev, x) ? x : prev;
        }
        return prev;
    }
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
            for (std::size_t step = 0; step < length; ++step) {
                const std::size_t k = forward ? step : length - 1 - step;
                const std::size_t at = inner + before * (k + length * outer);
                running = step == 0 ? first<In, Out>(op, omitNaN, in[at])
                                    : next<In, Out>(op, omitNaN, running, in[at]);
                out[at] = running;
            }
        }
    }
    return out;
}

}  // namespace reference
