// Scans along the last dimension: rows of a column-major matrix, swept one slice at a time.
#pragma once

#include <algorithm>

#include "traversal/contract.hpp"

namespace tzcumfun {

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

// Asks for the next slice's input while the current one is combined: slices lie far apart, so
// the hardware prefetcher, which follows one page, would not fetch it in time.
template <class In>
inline void prefetchSlice(const In* in, std::size_t width) {
    constexpr std::size_t kLine = 64 / sizeof(In) == 0 ? 1 : 64 / sizeof(In);
    for (std::size_t row = 0; row < width; row += kLine)
        __builtin_prefetch(in + row);
}

// The same for output about to be written: a store to a line not in cache must first fetch it,
// and a slice's few lines of stores would otherwise wait for that one slice at a time.
template <class Out>
inline void prefetchSliceForWriting(Out* out, std::size_t width) {
    constexpr std::size_t kLine = 64 / sizeof(Out) == 0 ? 1 : 64 / sizeof(Out);
    for (std::size_t row = 0; row < width; row += kLine)
        __builtin_prefetch(out + row, 1);
}

template <class Ftor, class In, class Out>
inline void combineSlice(const Out* prev, const In* in, Out* out, std::size_t width, Ftor ftor) {
    if constexpr (LaneFunctor<Ftor, In, Out>) {
#pragma GCC ivdep
        for (std::size_t row = 0; row < width; ++row)
            out[row] = ftor.combineLane(prev[row], in[row]);
    } else {
#pragma GCC ivdep
        for (std::size_t row = 0; row < width; ++row)
            out[row] = ftor.combine(prev[row], in[row]);
    }
}

// Outputs from this size on do not stay in cache from one slice to the next when the blocks are
// narrow, so the large sweep keeps its running values in L1 rather than reading them back from
// the output.
inline constexpr std::size_t kBufferedFromBytes = std::size_t{32} << 20;
// The running values of one pass: a slice's piece of a block of rows, kept in L1.
inline constexpr std::size_t kRunningBytes = 2048;
// How many slices ahead the input is asked for: a block's piece of one slice is a few cache lines
// and the slices lie far apart, so one slice of lead would not cover the memory latency.
inline constexpr std::size_t kPrefetchSlices = 16;

// The large sweep over `count` adjacent rows. The rows pass in groups whose running values fit a
// buffer in L1: each slice's piece is combined into the buffer, which is then copied to the
// output, and the input is asked for many slices ahead. Every output element is the one the
// slice-by-slice sweep writes, in place too, since a slice's input is read before its output is
// written.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanBufferedRows(bool forward, const In* in, Out* out, std::size_t count, std::size_t dimLen,
                      std::size_t sliceDist, Ftor ftor) {
    constexpr std::size_t kRows = std::max<std::size_t>(1, kRunningBytes / sizeof(Out));
    alignas(16) Out running[kRows];
    for (std::size_t first = 0; first < count; first += kRows) {
        const std::size_t width = std::min(kRows, count - first);
        for (std::size_t step = 0; step < dimLen; ++step) {
            const std::size_t slice = forward ? step : dimLen - 1 - step;
            if (step + kPrefetchSlices < dimLen) {
                const std::size_t ahead =
                    forward ? slice + kPrefetchSlices : slice - kPrefetchSlices;
                prefetchSlice(in + ahead * sliceDist + first, width);
                prefetchSliceForWriting(out + ahead * sliceDist + first, width);
            }
            const In* sliceIn = in + slice * sliceDist + first;
            if (step == 0) {
                initSlice(sliceIn, running, width, ftor);
            } else {
                combineSlice(running, sliceIn, running, width, ftor);
            }
            std::copy_n(running, width, out + slice * sliceDist + first);
        }
    }
}

// Scans a block of `count` adjacent rows through `dimLen` slices lying `sliceDist` apart. A
// row's running value is the output element of the slice visited before.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanCumStrideMatrix(bool forward, const In* in, Out* out, std::size_t count,
                         std::size_t dimLen, std::size_t sliceDist, Ftor ftor) {
    if (forward) {
        initSlice(in, out, count, ftor);
        for (std::size_t slice = 1; slice < dimLen; ++slice) {
            if (slice + 1 < dimLen) prefetchSlice(in + (slice + 1) * sliceDist, count);
            combineSlice(out + (slice - 1) * sliceDist, in + slice * sliceDist,
                         out + slice * sliceDist, count, ftor);
        }
        return;
    }
    const std::size_t last = dimLen - 1;
    initSlice(in + last * sliceDist, out + last * sliceDist, count, ftor);
    for (std::size_t slice = last; slice-- > 0;) {
        if (slice > 0) prefetchSlice(in + (slice - 1) * sliceDist, count);
        combineSlice(out + (slice + 1) * sliceDist, in + slice * sliceDist, out + slice * sliceDist,
                     count, ftor);
    }
}

// A block of the last-dimension layout, swept in the form the size of the whole array calls for.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanRowBlock(bool forward, const In* in, Out* out, std::size_t count, std::size_t dimLen,
                  std::size_t nvec, Ftor ftor) {
    if (nvec * dimLen * sizeof(Out) >= kBufferedFromBytes) {
        scanBufferedRows(forward, in, out, count, dimLen, nvec, ftor);
        return;
    }
    scanCumStrideMatrix(forward, in, out, count, dimLen, nvec, ftor);
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
        scanRowBlock(forward_, in_ + rows.begin(), out_ + rows.begin(), rows.size(), dimLen_, nvec_,
                     ftor_);
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
        scanRowBlock(forward, in, out, nvec, dimLen, nvec, ftor);
        return;
    }
    runParallel(nvec, tuning.grain,
                mapCumStrideMatrix<Ftor, In, Out>(forward, in, out, dimLen, nvec, ftor));
}

}  // namespace tzcumfun
