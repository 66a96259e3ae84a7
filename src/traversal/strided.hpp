// Scans along the last dimension: rows of a column-major matrix, swept one slice at a time.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "functors/isa_level.hpp"
#include "functors/pack.hpp"
#include "traversal/contract.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// One slice of a block of rows. The rows are independent and a slice's block never overlaps
// the neighbouring slice's block (the slice distance is at least the block width), so the
// compiler may run several rows per instruction; `in` and `out` may still be the same buffer,
// since each row reads its input before writing the output at the same position.
template <class Ftor, class In, class Out>
inline void initSlice(const In* in, Out* out, std::size_t width, Ftor ftor) {
#pragma GCC ivdep
    for (std::size_t row = 0; row < width; ++row)
        out[row] = ftor.init(in[row]);
}

// How many slices ahead a block with gaps between its slices asks for its input and output lines.
// A block's piece of one slice is a few cache lines and the next piece lies far away, beyond
// what the hardware prefetcher, which follows a run of lines, would fetch; one slice of lead
// would not cover the memory latency. The output lines are asked for with intent to write: a
// store to a line not in cache waits for the line to be fetched first.
inline constexpr std::size_t kPrefetchSlices = 16;

template <class In, class Out>
inline void prefetchSlice(const In* in, Out* out, std::size_t width) {
    constexpr std::size_t kLine = 64 / sizeof(Out) == 0 ? 1 : 64 / sizeof(Out);
    for (std::size_t row = 0; row < width; row += kLine) {
        __builtin_prefetch(in + row);
        __builtin_prefetch(out + row, 1);
    }
}

// Integer rules that give their branch-free form for a whole register (`combine` on a `SliceRow`)
// take the slice a register at a time, and the rows short of a whole register one at a time.
template <class T>
using SliceRow = typename LanesOfBytes<T, 32>::type;

template <class Ftor, class In, class Out>
consteval bool slicesInRows() {
    if constexpr (std::is_same_v<In, Out> && std::is_integral_v<In> && !std::is_same_v<In, bool>) {
        return RegisterFunctor<Ftor, SliceRow<In>>;
    }
    return false;
}

template <class Ftor, class In, class Out>
inline void combineSlice(const Out* prev, const In* in, Out* out, std::size_t width, Ftor ftor) {
    if constexpr (slicesInRows<Ftor, In, Out>()) {
        constexpr std::size_t kRow = sizeof(SliceRow<In>) / sizeof(In);
        std::size_t row = 0;
        for (; row + kRow <= width; row += kRow) {
            SliceRow<In> before;
            SliceRow<In> current;
            std::memcpy(&before, prev + row, sizeof before);
            std::memcpy(&current, in + row, sizeof current);
            const SliceRow<In> after = ftor.combine(before, current);
            std::memcpy(out + row, &after, sizeof after);
        }
        for (; row < width; ++row)
            out[row] = ftor.combine(prev[row], in[row]);
    } else if constexpr (LaneFunctor<Ftor, In, Out>) {
#pragma GCC ivdep
        for (std::size_t row = 0; row < width; ++row)
            out[row] = ftor.combineLane(prev[row], in[row]);
    } else {
#pragma GCC ivdep
        for (std::size_t row = 0; row < width; ++row)
            out[row] = ftor.combine(prev[row], in[row]);
    }
}

// Scans a block of `count` adjacent rows through `dimLen` slices lying `sliceDist` apart. A
// row's running value is the output element of the slice visited before.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanCumStrideMatrix(bool forward, const In* in, Out* out, std::size_t count,
                         std::size_t dimLen, std::size_t sliceDist, Ftor ftor) {
    // Only a block narrower than the slice distance leaves gaps; a whole page or a serial block
    // of every row is one run of memory, which the hardware prefetcher follows by itself.
    const bool gaps = sliceDist > count;
    if (forward) {
        initSlice(in, out, count, ftor);
        for (std::size_t slice = 1; slice < dimLen; ++slice) {
            if (gaps && slice + kPrefetchSlices < dimLen) {
                const std::size_t ahead = (slice + kPrefetchSlices) * sliceDist;
                prefetchSlice(in + ahead, out + ahead, count);
            }
            combineSlice(out + (slice - 1) * sliceDist, in + slice * sliceDist,
                         out + slice * sliceDist, count, ftor);
        }
        return;
    }
    const std::size_t last = dimLen - 1;
    initSlice(in + last * sliceDist, out + last * sliceDist, count, ftor);
    for (std::size_t slice = last; slice-- > 0;) {
        if (gaps && slice >= kPrefetchSlices) {
            const std::size_t ahead = (slice - kPrefetchSlices) * sliceDist;
            prefetchSlice(in + ahead, out + ahead, count);
        }
        combineSlice(out + (slice + 1) * sliceDist, in + slice * sliceDist, out + slice * sliceDist,
                     count, ftor);
    }
}

// Body of the parallel loop: a range of row indices; `nvec` rows is also the slice distance.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
class mapCumStrideMatrix {
  public:
    mapCumStrideMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t nvec,
                       Ftor ftor)
        : forward_(forward), in_(in), out_(out), dimLen_(dimLen), nvec_(nvec), ftor_(ftor) {}

    void operator()(const tbb::blocked_range<std::size_t>& rows) const {
        scanCumStrideMatrix(forward_, in_ + rows.begin(), out_ + rows.begin(), rows.size(), dimLen_,
                            nvec_, ftor_);
    }

  private:
    bool forward_;
    const In* in_;
    Out* out_;
    std::size_t dimLen_;
    std::size_t nvec_;
    [[no_unique_address]] Ftor ftor_;
};

// Serial below `tuning.threshold` rows, otherwise parallel over blocks of adjacent rows.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void runCumStrideMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t nvec,
                        const TuningPair& tuning, Ftor ftor) {
    if (nvec < tuning.threshold) {
        scanCumStrideMatrix(forward, in, out, nvec, dimLen, nvec, ftor);
        return;
    }
    runParallel(nvec, tuning.grain,
                mapCumStrideMatrix<Ftor, In, Out>(forward, in, out, dimLen, nvec, ftor));
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
