// Scans along a working dimension that is contiguous in memory: one vector after another.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "functors/isa_level.hpp"
#include "traversal/contract.hpp"
#include "traversal/tiles.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// One vector is one chain of dependent `combine` steps, which runs at the latency of a step, not
// at the rate the machine can issue them. Neighbouring vectors are therefore scanned in groups,
// one step of every vector of the group after another, so that the group's chains overlap. Each
// vector is still visited one element after another with nothing reassociated, so every output
// bit is that of the one-vector loop. Four chains cover the latency of an add, a multiply or a
// compare and select; with eight, the inputs and outputs of a group no longer fit the ways of one
// L1 set, which is where they all fall when vectors lie a multiple of 4 KiB apart.
inline constexpr std::size_t kGroupVectors = 4;
// Shorter vectors gain nothing: the one-vector loop already overlaps their short chains.
inline constexpr std::size_t kGroupMinLength = 4;

// Complex products and extremes are long stretches of scalar code with rare slow paths of their
// own, already wide enough to fill the machine; grouped, they ran slower. Complex sums gained
// too little to set them apart. Real elements are grouped.
template <class In, class Out>
inline constexpr bool kGroupable = (std::is_arithmetic_v<In> && std::is_arithmetic_v<Out>);

// Scans `kGroupVectors` adjacent vectors starting at `in` and `out`. A step loads its elements of
// every vector before it stores any output: a load issued behind a store whose address matches in
// its low 12 bits waits for that store, and vectors a multiple of 4 KiB apart match in them.
template <bool kForward, class Ftor, class In, class Out>
void scanGroup(const In* in, Out* out, std::size_t dimLen, Ftor ftor) {
    Out running[kGroupVectors];
    const std::size_t first = kForward ? 0 : dimLen - 1;
#pragma GCC unroll 4
    for (std::size_t lane = 0; lane < kGroupVectors; ++lane) {
        running[lane] = ftor.init(in[lane * dimLen + first]);
        out[lane * dimLen + first] = running[lane];
    }
    for (std::size_t step = 1; step < dimLen; ++step) {
        const std::size_t elem = kForward ? step : first - step;
        In current[kGroupVectors];
#pragma GCC unroll 4
        for (std::size_t lane = 0; lane < kGroupVectors; ++lane)
            current[lane] = in[lane * dimLen + elem];
#pragma GCC unroll 4
        for (std::size_t lane = 0; lane < kGroupVectors; ++lane)
            running[lane] = ftor.combine(running[lane], current[lane]);
#pragma GCC unroll 4
        for (std::size_t lane = 0; lane < kGroupVectors; ++lane)
            out[lane * dimLen + elem] = running[lane];
    }
}

// One vector at a time. The running value lives in a register for the whole vector; the output
// is written, never read back.
template <class Ftor, class In, class Out>
void scanVectors(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t count,
                 Ftor ftor) {
    if (forward) {
        for (std::size_t vec = 0; vec < count; ++vec, in += dimLen, out += dimLen) {
            Out running = ftor.init(in[0]);
            out[0] = running;
            for (std::size_t elem = 1; elem < dimLen; ++elem) {
                running = ftor.combine(running, in[elem]);
                out[elem] = running;
            }
        }
        return;
    }
    // Reverse: the block is walked downwards from its last element, each vector from its end.
    in += count * dimLen;
    out += count * dimLen;
    for (std::size_t vec = 0; vec < count; ++vec) {
        in -= dimLen;
        out -= dimLen;
        Out running = ftor.init(in[dimLen - 1]);
        out[dimLen - 1] = running;
        for (std::size_t elem = dimLen - 1; elem-- > 0;) {
            running = ftor.combine(running, in[elem]);
            out[elem] = running;
        }
    }
}

// One vector whose functor can tell a block that leaves the running value alone: such blocks
// are written whole, the others stepped through. Blocks are taken in visiting order, from the
// vector's first visited element on, and the elements short of a whole block at its far end are
// stepped through too.
template <bool kForward, class Ftor, class In, class Out>
void scanSteadyVector(const In* in, Out* out, std::size_t dimLen, Ftor ftor) {
    constexpr std::size_t kBlock = Ftor::kSteadyBlock;
    const std::size_t first = kForward ? 0 : dimLen - 1;
    Out running = ftor.init(in[first]);
    out[first] = running;
    // `done` counts the elements visited so far.
    std::size_t done = 1;
    for (; done + kBlock <= dimLen; done += kBlock) {
        const std::size_t start = kForward ? done : dimLen - done - kBlock;
        if (ftor.holdsOver(running, in + start)) {
#pragma GCC unroll 16
            for (std::size_t elem = start; elem < start + kBlock; ++elem)
                out[elem] = running;
            continue;
        }
        for (std::size_t step = 0; step < kBlock; ++step) {
            const std::size_t elem = kForward ? start + step : start + kBlock - 1 - step;
            running = ftor.combine(running, in[elem]);
            out[elem] = running;
        }
    }
    for (; done < dimLen; ++done) {
        const std::size_t elem = kForward ? done : dimLen - 1 - done;
        running = ftor.combine(running, in[elem]);
        out[elem] = running;
    }
}

// Scans `count` consecutive vectors of `dimLen` elements: whole tiles where the rule takes
// registers, then whole groups side by side, then the vectors left over one at a time, in that
// order through the block; in reverse the block is taken from its end, the left-over vectors
// first. Functors that can skip steady blocks scan one vector after another: their chain is broken
// at most blocks, so there is little left to overlap.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanCumMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t count,
                   Ftor ftor) {
    if constexpr (SteadyFunctor<Ftor, In, Out>) {
        if (forward) {
            for (std::size_t vec = 0; vec < count; ++vec)
                scanSteadyVector<true>(in + vec * dimLen, out + vec * dimLen, dimLen, ftor);
            return;
        }
        for (std::size_t vec = count; vec-- > 0;)
            scanSteadyVector<false>(in + vec * dimLen, out + vec * dimLen, dimLen, ftor);
        return;
    }
    // How many vectors a tile of this rule spans; none where the rule takes no whole registers.
    constexpr std::size_t kTile = kTileable<Ftor, In, Out> ? kTileLanes<In> : 0;
    const bool overlap = kGroupable<In, Out> && dimLen >= kGroupMinLength;
    const std::size_t tiles = overlap && kTile != 0 ? count / std::max<std::size_t>(kTile, 1) : 0;
    const std::size_t tiled = tiles * kTile;
    const std::size_t groups = overlap ? (count - tiled) / kGroupVectors : 0;
    const std::size_t single = tiled + groups * kGroupVectors;
    const auto group = [&](std::size_t index) { return (tiled + index * kGroupVectors) * dimLen; };
    if (forward) {
        if constexpr (kTile != 0) {
            for (std::size_t tile = 0; tile < tiles; ++tile)
                scanTileGroup<true>(in + tile * kTile * dimLen, out + tile * kTile * dimLen, dimLen,
                                    ftor);
        }
        for (std::size_t index = 0; index < groups; ++index)
            scanGroup<true>(in + group(index), out + group(index), dimLen, ftor);
        scanVectors(true, in + single * dimLen, out + single * dimLen, dimLen, count - single,
                    ftor);
        return;
    }
    scanVectors(false, in + single * dimLen, out + single * dimLen, dimLen, count - single, ftor);
    for (std::size_t index = groups; index-- > 0;)
        scanGroup<false>(in + group(index), out + group(index), dimLen, ftor);
    if constexpr (kTile != 0) {
        for (std::size_t tile = tiles; tile-- > 0;)
            scanTileGroup<false>(in + tile * kTile * dimLen, out + tile * kTile * dimLen, dimLen,
                                 ftor);
    }
}

// Body of the parallel loop: a range of vector indices.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
class mapCumMatrix {
  public:
    mapCumMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t nvec,
                 Ftor ftor)
        : forward_(forward), in_(in), out_(out), dimLen_(dimLen), nvec_(nvec), ftor_(ftor) {}

    void operator()(const tbb::blocked_range<std::size_t>& vectors) const {
        scanCumMatrix(forward_, in_ + vectors.begin() * dimLen_, out_ + vectors.begin() * dimLen_,
                      dimLen_, vectors.size(), ftor_);
    }

  private:
    bool forward_;
    const In* in_;
    Out* out_;
    std::size_t dimLen_;
    std::size_t nvec_;
    [[no_unique_address]] Ftor ftor_;
};

// Serial below `tuning.threshold` vectors, otherwise parallel over vectors.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void runCumMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t nvec,
                  const TuningPair& tuning, Ftor ftor) {
    if (nvec < tuning.threshold) {
        scanAheadOfFaults(in, out, nvec * dimLen * sizeof(Out), forward,
                          [=] { scanCumMatrix(forward, in, out, dimLen, nvec, ftor); });
        return;
    }
    runParallel(nvec, tuning.grain,
                mapCumMatrix<Ftor, In, Out>(forward, in, out, dimLen, nvec, ftor));
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
