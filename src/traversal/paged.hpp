// Scans along an inner dimension: pages of `stride` rows by `dimLen` slices, one after another.
#pragma once

#include "functors/isa_level.hpp"
#include "traversal/strided.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// Scans `count` consecutive pages; each page is a strided block whose width is the whole page.
// Running values never cross a page boundary.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanPageStrideMatrix(bool forward, const In* in, Out* out, std::size_t stride,
                          std::size_t dimLen, std::size_t count, Ftor ftor) {
    const std::size_t pageSize = stride * dimLen;
    if (forward) {
        for (std::size_t page = 0; page < count; ++page) {
            scanCumStrideMatrix(true, in + page * pageSize, out + page * pageSize, stride, dimLen,
                                stride, ftor);
        }
        return;
    }
    for (std::size_t page = count; page-- > 0;) {
        scanCumStrideMatrix(false, in + page * pageSize, out + page * pageSize, stride, dimLen,
                            stride, ftor);
    }
}

// Body of the parallel loop: a range of page indices. A page is never split.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
class mapPageStrideMatrix {
  public:
    mapPageStrideMatrix(bool forward, const In* in, Out* out, std::size_t stride,
                        std::size_t dimLen, std::size_t pages, Ftor ftor)
        : forward_(forward),
          in_(in),
          out_(out),
          stride_(stride),
          dimLen_(dimLen),
          pages_(pages),
          ftor_(ftor) {}

    void operator()(const tbb::blocked_range<std::size_t>& pages) const {
        const std::size_t offset = pages.begin() * stride_ * dimLen_;
        scanPageStrideMatrix(forward_, in_ + offset, out_ + offset, stride_, dimLen_, pages.size(),
                             ftor_);
    }

  private:
    bool forward_;
    const In* in_;
    Out* out_;
    std::size_t stride_;
    std::size_t dimLen_;
    std::size_t pages_;
    [[no_unique_address]] Ftor ftor_;
};

// Serial below `tuning.threshold` elements of the whole array, otherwise parallel over pages.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void runPageStrideMatrix(bool forward, const In* in, Out* out, std::size_t stride,
                         std::size_t dimLen, std::size_t pages, const TuningPair& tuning,
                         Ftor ftor) {
    if (stride * dimLen * pages < tuning.threshold) {
        scanPageStrideMatrix(forward, in, out, stride, dimLen, pages, ftor);
        return;
    }
    runParallel(pages, tuning.grain,
                mapPageStrideMatrix<Ftor, In, Out>(forward, in, out, stride, dimLen, pages, ftor));
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
