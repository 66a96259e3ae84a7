// Scans groups of neighbouring contiguous vectors with one vector's chain in each register lane.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "functors/isa_level.hpp"
#include "functors/pack.hpp"
#include "traversal/contract.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// A square tile holds as many elements of as many neighbouring vectors as a register has lanes,
// one register per vector. Transposed in registers, each register holds one step of every vector,
// so a single register operation advances every vector's chain by one element; transposed back,
// the outputs are stored as whole registers again. Each vector is still visited one element after
// another with nothing reassociated, so every output bit is that of the one-vector loop, NaN
// payloads aside: where two NaNs meet in a sum or product, which one's sign and payload survive
// follows the operand order the compiler picks, in either loop.
//
// How wide a tile is. Vectors a multiple of 4 KiB apart put the lines a tile reads and writes in
// one L1 set, which holds eight. A 64-byte register reads and writes each line whole, once; a
// narrower one comes back to the same lines for the next tile, and finds them there only if the
// tile spans at most four vectors (four lines read, four written). So a tile is a whole AVX-512
// register, or at most four elements of a narrower one.
template <class T>
inline constexpr std::size_t kTileBytes = kPackBytes == 64 ? 64
                                                           : std::min(kPackBytes, 4 * sizeof(T));
template <class T>
inline constexpr std::size_t kTileLanes = kTileBytes<T> / sizeof(T);

// Tiles serve rules that take whole registers, between elements of one real type: the floating
// sums and products. Integer rules keep the add or multiply with its overflow flag, in groups. A
// tile of two lanes (doubles in a 16-byte register) is one chain for two vectors, where a group
// runs four.
template <class Ftor, class In, class Out>
consteval bool tileable() {
    if constexpr (std::is_same_v<In, Out> && std::is_arithmetic_v<In> &&
                  !std::is_same_v<In, bool>) {
        return kTileLanes<In> >= 4 &&
               RegisterFunctor<Ftor, typename LanesOfBytes<In, kTileBytes<In>>::type>;
    }
    return false;
}
template <class Ftor, class In, class Out>
inline constexpr bool kTileable = tileable<Ftor, In, Out>();

// The shuffle that swaps the off-diagonal blocks of `kHalf` lanes between registers a and b: the
// low result takes the blocks of a whose lane index has bit kHalf clear, each followed by the
// matching block of b; the high result the rest. Done for kHalf = L/2, L/4, ..., 1, it transposes.
// Lane i of the shuffle's result is lane `source` of a (below L) or of b (from L on).
template <std::size_t kLanes, std::size_t kHalf, bool kHigh>
constexpr std::size_t swapSource(std::size_t lane) {
    if ((lane & kHalf) == 0) return kHigh ? lane + kHalf : lane;
    return kHigh ? kLanes + lane : kLanes + lane - kHalf;
}

template <std::size_t kHalf, bool kHigh, class Row, std::size_t... kLane>
Row swapShuffle(Row a, Row b, std::index_sequence<kLane...> /*lanes*/) {
    constexpr std::size_t kLanes = sizeof...(kLane);
    return __builtin_shufflevector(a, b, swapSource<kLanes, kHalf, kHigh>(kLane)...);
}

template <std::size_t kHalf, std::size_t kLanes, class Row>
inline void swapBlocks(Row (&tile)[kLanes]) {
    constexpr auto kIndices = std::make_index_sequence<kLanes>{};
#pragma GCC unroll 16
    for (std::size_t row = 0; row < kLanes; ++row) {
        if ((row & kHalf) != 0) continue;
        const Row a = tile[row];
        const Row b = tile[row + kHalf];
        tile[row] = swapShuffle<kHalf, false>(a, b, kIndices);
        tile[row + kHalf] = swapShuffle<kHalf, true>(a, b, kIndices);
    }
}

template <std::size_t kLanes, class Row>
inline void transposeTile(Row (&tile)[kLanes]) {
    [&]<std::size_t... kStage>(std::index_sequence<kStage...>) {
        (swapBlocks<(kLanes >> (kStage + 1))>(tile), ...);
    }
    (std::make_index_sequence<__builtin_ctzll(kLanes)>{});
}

// Scans as many adjacent vectors of `dimLen` elements as a `kRowBytes` register holds elements,
// from `in` into `out`, which may be the same buffer: a tile is loaded whole before any of its
// outputs is stored. The first element and the elements short of a whole tile at the far end are
// stepped through one at a time. One group at a time: the loads of a second group interleaved with
// this one's stores would match them in their low 12 bits wherever vectors lie a multiple of 4 KiB
// apart, and wait for them. The width is this level's tile unless a test asks for another.
template <bool kForward, class Ftor, class T, std::size_t kRowBytes = kTileBytes<T>>
void scanTileGroup(const T* in, T* out, std::size_t dimLen, Ftor ftor) {
    using Row = typename LanesOfBytes<T, kRowBytes>::type;
    constexpr std::size_t kLanes = kRowBytes / sizeof(T);
    T lanes[kLanes];
    const std::size_t start = kForward ? 0 : dimLen - 1;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        lanes[lane] = ftor.init(in[lane * dimLen + start]);
        out[lane * dimLen + start] = lanes[lane];
    }
    Row running;
    std::memcpy(&running, lanes, sizeof running);
    // `done` counts the elements of each vector visited so far.
    std::size_t done = 1;
    for (; done + kLanes <= dimLen; done += kLanes) {
        const std::size_t at = kForward ? done : dimLen - done - kLanes;
        Row tile[kLanes];
#pragma GCC unroll 16
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            std::memcpy(&tile[lane], in + lane * dimLen + at, sizeof(Row));
        transposeTile(tile);
#pragma GCC unroll 16
        for (std::size_t step = 0; step < kLanes; ++step) {
            Row& slice = tile[kForward ? step : kLanes - 1 - step];
            running = ftor.combine(running, slice);
            slice = running;
        }
        transposeTile(tile);
#pragma GCC unroll 16
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            std::memcpy(out + lane * dimLen + at, &tile[lane], sizeof(Row));
    }
    std::memcpy(lanes, &running, sizeof lanes);
    for (; done < dimLen; ++done) {
        const std::size_t elem = kForward ? done : dimLen - 1 - done;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            lanes[lane] = ftor.combine(lanes[lane], in[lane * dimLen + elem]);
            out[lane * dimLen + elem] = lanes[lane];
        }
    }
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
