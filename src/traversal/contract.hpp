// The contract between traversals and accumulation functors, and the parallel loop they share.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_group.h>

namespace tzcumfun {

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

}  // namespace tzcumfun
