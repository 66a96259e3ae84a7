// The all-lanes test of a mask one AVX2 or AVX-512 register wide, at the level that has it.
#pragma once

#include <cstring>

#include "functors/isa_level.hpp"
#if TZCUMFUN_ISA_LEVEL != 0
#include <immintrin.h>
#endif

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

#if TZCUMFUN_ISA_LEVEL == 3
// The sign bit of every byte at once: all set only where every lane of the mask is.
template <class Mask>
requires(sizeof(Mask) == 32) bool allBitsSet(Mask mask) {
    __m256i bits;
    std::memcpy(&bits, &mask, sizeof bits);
    return _mm256_movemask_epi8(bits) == -1;
}
#elif TZCUMFUN_ISA_LEVEL == 4
// The sign bit of every byte, into a mask register.
template <class Mask>
requires(sizeof(Mask) == 64) bool allBitsSet(Mask mask) {
    __m512i bits;
    std::memcpy(&bits, &mask, sizeof bits);
    return _mm512_movepi8_mask(bits) == ~__mmask64{0};
}
#endif

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
