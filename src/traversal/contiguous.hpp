// Scans along a working dimension that is contiguous in memory: one vector after another.
#pragma once

#include "traversal/contract.hpp"

namespace tzcumfun {

// Scans `count` consecutive vectors of `dimLen` elements. The running value lives in a register
// for the whole vector; the output is written, never read back.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanCumMatrix(bool forward, const In* in, Out* out, std::size_t dimLen, std::size_t count,
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
        scanCumMatrix(forward, in, out, dimLen, nvec, ftor);
        return;
    }
    runParallel(nvec, tuning.grain,
                mapCumMatrix<Ftor, In, Out>(forward, in, out, dimLen, nvec, ftor));
}

}  // namespace tzcumfun
