// The contract between traversals and accumulation functors, and the parallel loop they share.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_invoke.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_group.h>

#include "functors/isa_level.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// An accumulation functor is an empty value type. `init` makes the running value of a vector
// from its first visited element alone (never from an identity value); `combine` makes the next
// running value from the previous one and the current input element, always in that order. Both
// are pure, so a traversal may run them on any thread and with input and output aliased.
template <class Ftor, class In, class Out>
concept CumFunctor = std::is_empty_v<Ftor> && std::is_trivially_copyable_v<Ftor> &&
    requires(const Ftor ftor, const In x, const Out prev) {
    { ftor.init(x) } -> std::same_as<Out>;
    { ftor.combine(prev, x) } -> std::same_as<Out>;
};

// A functor may also give its `combine` rule as `combineLane`: the same results, written without
// branches, for independent rows that run side by side in vector registers.
template <class Ftor, class In, class Out>
concept LaneFunctor = requires(const Ftor ftor, const In x, const Out prev) {
    { ftor.combineLane(prev, x) } -> std::same_as<Out>;
};

// A functor may also give its `combine` rule as a template that takes a whole register `V` of
// running values, one in each lane, for traversals that run independent vectors' chains in lanes.
template <class Ftor, class V>
concept RegisterFunctor = requires(const Ftor ftor, const V lanes) {
    { ftor.combine(lanes, lanes) } -> std::same_as<V>;
};

// A functor may also offer `holdsOver(prev, block)`: true only if `combine(prev, x)` returns prev
// for each of the `kSteadyBlock` elements from `block` on. A scan may then write prev across the
// block, with the outputs the element-by-element loop gives, and take that loop only through the
// blocks that change the running value.
template <class Ftor, class In, class Out>
concept SteadyFunctor = requires(const Ftor ftor, const In* block, const Out prev) {
    { Ftor::kSteadyBlock } -> std::convertible_to<std::size_t>;
    { ftor.holdsOver(prev, block) } -> std::same_as<bool>;
};

// When a traversal leaves the calling thread (`threshold`, in the unit its layout names) and the
// smallest range oneTBB may split further (`grain`).
struct TuningPair {
    std::uint64_t threshold;
    std::uint64_t grain;
};

// Runs `body` over [0, count) on oneTBB's pool and waits. The loop gets a context of its own:
// isolated, so cancelling a task group the caller runs in cannot cut a scan short, and carrying
// the caller's floating-point settings (rounding, flush-to-zero) to every worker, so that a
// parallel scan rounds exactly as the serial one would on the calling thread.
template <class Body>
void runParallel(std::size_t count, std::size_t grain, const Body& body) {
    tbb::task_group_context context(tbb::task_group_context::isolated,
                                    tbb::task_group_context::fp_settings);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, grain), body,
                      tbb::auto_partitioner(), context);
}

// A fresh result's pages are mapped on first write, and the kernel zeroes each one as it maps it.
// On the one core that runs a long serial chain this costs as much as the scan itself, so serial
// scans writing at least this many bytes have another core map their output meanwhile.
inline constexpr std::size_t kMapAheadFrom = std::size_t{8} << 20;

// Maps the pages of [out, out + bytes) for writing, 2 MiB at a time from the end the scan starts
// at. Mapping changes no byte, so it needs no coordination with the scan writing the same pages,
// and pages already mapped (a buffer the host reused) cost only a walk of the page table. A kernel
// without the request simply leaves the faults to the scan.
inline void mapForWriting(void* out, std::size_t bytes, bool forward) {
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kStep = std::size_t{2} << 20;
    const std::size_t offset = reinterpret_cast<std::uintptr_t>(out) % kPage;
    char* const begin = static_cast<char*>(out) - offset;
    const std::size_t length = (offset + bytes + kPage - 1) / kPage * kPage;
    for (std::size_t done = 0; done < length; done += kStep) {
        const std::size_t step = std::min(kStep, length - done);
        char* const at = forward ? begin + done : begin + length - done - step;
        if (madvise(at, step, MADV_POPULATE_WRITE) != 0) return;
    }
}

// Runs `scan`, a serial scan from `in` into the `bytes` at `out`, on the calling thread while a
// worker maps the output's pages ahead of it, so that its chain runs at the latency of `combine`
// rather than waiting for page faults. An in-place scan writes only pages already mapped.
template <class Scan>
void scanAheadOfFaults(const void* in, void* out, std::size_t bytes, bool forward,
                       const Scan& scan) {
    if (bytes < kMapAheadFrom || in == out) return scan();
    tbb::task_group_context context(tbb::task_group_context::isolated,
                                    tbb::task_group_context::fp_settings);
    // The first function is spawned for a worker to take; the calling thread runs the second.
    tbb::parallel_invoke([=] { mapForWriting(out, bytes, forward); }, scan, context);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
