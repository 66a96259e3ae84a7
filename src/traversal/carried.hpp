// Scans of one block of a longer array, each vector continuing from a running value carried in.
#pragma once

#include "functors/isa_level.hpp"
#include "traversal/contiguous.hpp"
#include "traversal/geometry.hpp"
#include "traversal/paged.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// One contiguous vector whose running value is already `running` before its first visited element.
template <class Ftor, class In, class Out>
void continueVector(bool forward, const In* in, Out* out, std::size_t dimLen, Out running,
                    Ftor ftor) {
    if (forward) {
        for (std::size_t elem = 0; elem < dimLen; ++elem) {
            running = ftor.combine(running, in[elem]);
            out[elem] = running;
        }
        return;
    }
    for (std::size_t elem = dimLen; elem-- > 0;) {
        running = ftor.combine(running, in[elem]);
        out[elem] = running;
    }
}

// Scans every vector of a block. With `carry` null the block starts its vectors, exactly as the
// whole-array traversals do. Otherwise vector (page, row) continues from the running value
// `carry[page * stride + row]` that the block before it ended with: its first visited element goes
// through `combine`, never `init`, so the block computes the very steps the scan of the whole
// vector takes, NaN made by the scan, saturation and every other rule of the functor included.
template <class Ftor, class In, class Out>
requires CumFunctor<Ftor, In, Out>
void scanCarried(const BlockGeometry& block, const In* in, Out* out, const Out* carry, Ftor ftor) {
    const std::size_t stride = block.stride;
    const std::size_t dimLen = block.dimLen;
    if (stride == 0 || dimLen == 0 || block.pages == 0) return;
    if (carry == nullptr) {
        if (stride == 1) return scanCumMatrix(block.forward, in, out, dimLen, block.pages, ftor);
        return scanPageStrideMatrix(block.forward, in, out, stride, dimLen, block.pages, ftor);
    }
    const std::size_t pageSize = stride * dimLen;
    const std::size_t first = block.forward ? 0 : dimLen - 1;
    for (std::size_t page = 0; page < block.pages; ++page) {
        const In* pageIn = in + page * pageSize;
        Out* pageOut = out + page * pageSize;
        const Out* pageCarry = carry + page * stride;
        if (stride == 1) {
            continueVector(block.forward, pageIn, pageOut, dimLen, *pageCarry, ftor);
            continue;
        }
        combineSlice(pageCarry, pageIn + first * stride, pageOut + first * stride, stride, ftor);
        for (std::size_t step = 1; step < dimLen; ++step) {
            const std::size_t slice = block.forward ? step : dimLen - 1 - step;
            const std::size_t before = block.forward ? slice - 1 : slice + 1;
            combineSlice(pageOut + before * stride, pageIn + slice * stride,
                         pageOut + slice * stride, stride, ftor);
        }
    }
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
