// Packs of elements in one vector register, for rules that test a block of elements at once.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "functors/isa_level.hpp"
#include "functors/pack_wide.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// One register: 16 bytes at the baseline (SSE2), 32 at x86-64-v3 (AVX2), 64 at x86-64-v4.
inline constexpr std::size_t kPackBytes = TZCUMFUN_ISA_LEVEL == 4   ? 64
                                          : TZCUMFUN_ISA_LEVEL == 3 ? 32
                                                                    : 16;

// `kBytes` bytes of T in one register, as GCC's vector extension spells it at every level; and
// whether V is one element of T or such a register, for rules written once for both: the
// traversals that run one vector's chain in each lane hold their running values in these.
template <class T, std::size_t kBytes>
struct LanesOfBytes {
    typedef T type __attribute__((vector_size(kBytes)));
};

template <class V, class T>
concept ElementOrLanes =
    std::same_as<V, T> || std::same_as<V, typename LanesOfBytes<T, sizeof(V)>::type>;

// Elements of up to 32 bits, and at the wider x86 levels every element, use GCC's vector
// extension: the operators act lane by lane, and a comparison gives a mask whose lanes are all ones
// where it holds; SSE2 and NEON have every such operation up to 32 bits, AVX2 and AVX-512 also
// for 64 bits. Elsewhere than x86 doubles take the extension too (NEON compares two doubles at
// once, and GCC spells its masks out well).
template <class T>
struct VectorOf : LanesOfBytes<T, kPackBytes> {};

// On x86 doubles get a thin type over an SSE2 register instead: there the extension spells out
// the masks of two-lane compares lane by lane. SSE2 has no 64-bit integer compare at all, so a
// "pack" of 64-bit integers is one element, and its mask a bool, on every target alike.
#if defined(__SSE2__)
struct Mask64 {
    __m128i bits;

    friend Mask64 operator&(Mask64 a, Mask64 b) { return {_mm_and_si128(a.bits, b.bits)}; }
    friend Mask64 operator|(Mask64 a, Mask64 b) { return {_mm_or_si128(a.bits, b.bits)}; }
    friend Mask64 operator~(Mask64 a) { return {_mm_xor_si128(a.bits, _mm_set1_epi32(-1))}; }
    Mask64& operator&=(Mask64 b) { return *this = *this & b; }
};

struct DoublePack {
    __m128d lanes;

    friend Mask64 operator>=(DoublePack a, DoublePack b) {
        return {_mm_castpd_si128(_mm_cmpge_pd(a.lanes, b.lanes))};
    }
    friend Mask64 operator!=(DoublePack a, DoublePack b) {
        return {_mm_castpd_si128(_mm_cmpneq_pd(a.lanes, b.lanes))};
    }
};
#endif

template <class T>
struct PackOf : VectorOf<T> {};
#if TZCUMFUN_ISA_LEVEL == 0
#if defined(__SSE2__)
template <>
struct PackOf<double> {
    using type = DoublePack;
};
#endif
template <>
struct PackOf<long long> {
    using type = long long;
};
template <>
struct PackOf<unsigned long long> {
    using type = unsigned long long;
};
#endif
template <class T>
using Pack = typename PackOf<T>::type;

template <class T>
inline constexpr std::size_t kPackLanes = sizeof(Pack<T>) / sizeof(T);

template <class V>
inline constexpr bool kIsPack = !std::is_arithmetic_v<V> && requires(V pack) {
    pack >= pack;
};

// Not of a test's result, for one element (bool) and for a mask alike: `!` on a mask would
// compare every lane with zero.
template <class Mask>
constexpr Mask negation(Mask mask) {
    if constexpr (std::is_same_v<Mask, bool>) {
        return !mask;
    } else {
        return ~mask;
    }
}

// Every lane holding x, and kPackLanes elements from memory.
template <class T>
Pack<T> splat(T x) {
    Pack<T> pack;
    T lanes[kPackLanes<T>];
    for (T& lane : lanes)
        lane = x;
    std::memcpy(&pack, lanes, sizeof pack);
    return pack;
}

template <class T>
Pack<T> loadPack(const T* from) {
    Pack<T> pack;
    std::memcpy(&pack, from, sizeof pack);
    return pack;
}

// Whether every lane of a mask is set; wider masks have their level's test (pack_wide.hpp).
template <class Mask>
bool allLanes(Mask mask) {
    if constexpr (std::is_same_v<Mask, bool>) {
        return mask;
    } else if constexpr (sizeof mask > 16) {
        return allBitsSet(mask);
    } else {
        std::uint64_t halves[2];
        static_assert(sizeof halves == sizeof mask);
        std::memcpy(halves, &mask, sizeof halves);
        return (halves[0] & halves[1]) == ~std::uint64_t{0};
    }
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
