// Gateway throughput in every layout, beside a streaming loop over the same bytes, and the
// strided-view API beside std::inclusive_scan.
#include <benchmark/benchmark.h>
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <execution>
#include <functional>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/cpu_level.hpp"
#include "gateways/cumfun.hpp"
#include "standin/standin.hpp"
#include "tzmathelem_cumfun/scan.hpp"

namespace {

using standin::ArrayHandle;
using standin::Dims;
using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);

constexpr std::size_t kKiB = std::size_t{1} << 10;
constexpr std::size_t kMiB = std::size_t{1} << 20;

// Input plus output bytes of one call. The named sizes: "cache" fits the second-level cache of one
// core; "memory" is several times the last-level cache, so every byte comes from memory. The size
// sweep behind the pictures names its sizes in bytes.
struct Size {
    std::size_t bytes;
    std::string name;
};

const Size kInCache{256 * kKiB, "cache"};
const Size kBeyondCache{256 * kMiB, "memory"};

bool fitsCache(const Size& size) {
    return size.bytes <= kMiB;
}

// Contiguous: a column-major matrix along its first dimension. LastDim: the same matrix along its
// second, so each slice is a column and the rows run side by side. Page: a three-dimensional
// array along its second dimension, one rows-by-columns page after another. Vector: one column
// holding every element, scanned as one chain.
enum class Layout { Contiguous, LastDim, Page, Vector };

const char* nameOf(Layout layout) {
    switch (layout) {
        case Layout::Contiguous:
            return "contiguous";
        case Layout::LastDim:
            return "lastdim";
        case Layout::Page:
            return "page";
        case Layout::Vector:
            return "vector";
    }
    return "?";
}

// Dimensions holding about `count` elements in `layout`. Shapes follow the bytes, as if the
// elements were doubles: the matrix is square (128 rows in cache, 4096 in memory), so a
// contiguous vector is long enough that the scan itself, not the loop set-up, is measured, and
// pages are cubes (32 and 256 on a side).
Dims shapeOf(Layout layout, const Size& size, std::size_t count) {
    const double doubles = static_cast<double>(size.bytes) / (2 * sizeof(double));
    const auto powerOfTwo = [](double x) {
        return std::size_t{1} << static_cast<int>(std::lround(std::log2(x)));
    };
    if (layout == Layout::Vector) return {count, 1};
    if (layout == Layout::Page) {
        const std::size_t side = powerOfTwo(std::cbrt(doubles));
        return {side, side, std::max<std::size_t>(1, count / (side * side))};
    }
    const std::size_t rows = powerOfTwo(std::sqrt(doubles));
    return {rows, std::max<std::size_t>(1, count / rows)};
}

// What the input holds. Spread values keep sums away from saturation and maxima changing now and
// then; NearOne keeps products normal (no overflow, no subnormal slow path) along vectors of
// thousands of elements.
enum class Values { Spread, NearOne };

// A small deterministic generator: the inputs are the same on every run.
class SplitMix {
  public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9e3779b97f4a7c15ULL;
        std::uint64_t mixed = state_;
        mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ULL;
        mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebULL;
        return mixed ^ (mixed >> 31);
    }
    // Uniform in [-1, 1).
    double symmetric() { return static_cast<double>(next() >> 11) * 0x1p-52 - 1.0; }

  private:
    std::uint64_t state_;
};

template <class T>
void fillReal(T* data, std::size_t count, Values values, SplitMix& random) {
    for (std::size_t elem = 0; elem < count; ++elem) {
        const double u = random.symmetric();
        data[elem] = static_cast<T>(values == Values::NearOne ? 1.0 + u * 0x1p-10 : u);
    }
}

// Complex values near the unit circle for products, anywhere in the unit square otherwise; the
// imaginary parts are nonzero, so the result stays complex.
void fillComplex(std::complex<double>* data, std::size_t count, Values values, SplitMix& random) {
    for (std::size_t elem = 0; elem < count; ++elem) {
        const double re = random.symmetric();
        const double im = random.symmetric();
        const double radius = std::hypot(re, im);
        if (values == Values::NearOne && radius > 0x1p-4) {
            const double scale = (1.0 + random.symmetric() * 0x1p-10) / radius;
            data[elem] = {re * scale, im * scale};
        } else if (values == Values::NearOne) {
            data[elem] = {1.0, 0x1p-4};
        } else {
            data[elem] = {re, im};
        }
    }
}

template <class T>
void fillInteger(T* data, std::size_t count, Values values, SplitMix& random) {
    for (std::size_t elem = 0; elem < count; ++elem) {
        const std::uint64_t bits = random.next();
        if (values == Values::NearOne) {
            data[elem] = (bits & 1) != 0 ? T(1) : T(-1);  // products stay at magnitude one
        } else if constexpr (sizeof(T) <= 2) {
            data[elem] = static_cast<T>(bits >> (64 - 8 * sizeof(T)));  // the whole range
        } else {
            data[elem] = static_cast<T>(static_cast<int>(bits % 2001) - 1000);
        }
    }
}

void fill(vxArray_tag* array, Values values, std::uint64_t seed) {
    SplitMix random(seed);
    const std::size_t count = standin::numel(array);
    switch (standin::classOf(array)) {
        case vxDOUBLE_CLASS:
            if (standin::isComplex(array)) {
                return fillComplex(static_cast<std::complex<double>*>(array->data), count, values,
                                   random);
            }
            return fillReal(static_cast<double*>(array->data), count, values, random);
        case vxSINGLE_CLASS:
            return fillReal(static_cast<float*>(array->data), count, values, random);
        case vxINT8_CLASS:
            return fillInteger(static_cast<std::int8_t*>(array->data), count, values, random);
        case vxINT16_CLASS:
            return fillInteger(static_cast<std::int16_t*>(array->data), count, values, random);
        case vxINT32_CLASS:
            return fillInteger(static_cast<std::int32_t*>(array->data), count, values, random);
        case vxINT64_CLASS:
            return fillInteger(static_cast<std::int64_t*>(array->data), count, values, random);
        case vxLOGICAL_CLASS: {
            auto* data = static_cast<std::uint8_t*>(array->data);
            for (std::size_t elem = 0; elem < count; ++elem)
                data[elem] = random.next() >> 63;
            return;
        }
        default:
            return;
    }
}

// How many distinct inputs a benchmark cycles through. Called thousands of times on one small
// input, a branchy kernel runs as if its branches were free, because the branch predictor learns
// the data by heart; with a second input it no longer can, as in real use. Beyond the cache the
// input is far too long to be learnt, and a copy would only cost memory.
std::size_t variantsOf(const Size& size) {
    return fitsCache(size) ? 4 : 1;
}

// The last inputs built. Benchmarks over the same arrays are registered next to each other, so a
// hundred-megabyte input is built once for all its repetitions and layouts, not once per run.
const std::vector<ArrayHandle>& cachedInputs(vxClassID classId, vxComplexity complexity,
                                             const Dims& dims, Values values,
                                             std::size_t variants) {
    struct Key {
        vxClassID classId;
        vxComplexity complexity;
        Dims dims;
        Values values;
        std::size_t variants;
        bool operator==(const Key&) const = default;
    };
    static Key lastKey{};
    static std::vector<ArrayHandle> lastInputs;
    const Key key{classId, complexity, dims, values, variants};
    if (lastInputs.empty() || !(key == lastKey)) {
        lastInputs.clear();
        for (std::size_t variant = 0; variant < variants; ++variant) {
            lastInputs.push_back(standin::makeArray(classId, dims, complexity));
            fill(lastInputs.back().get(), values, 0x5eed + variant);
        }
        lastKey = key;
    }
    return lastInputs;
}

ArrayHandle scalarArray(double value) {
    ArrayHandle array = standin::makeArray(vxDOUBLE_CLASS, {1, 1});
    *static_cast<double*>(array->data) = value;
    return array;
}

struct Element {
    const char* name;
    vxClassID classId;
    vxComplexity complexity;
    std::size_t inBytes;
};

constexpr Element kDouble{"double", vxDOUBLE_CLASS, vxREAL, 8};
constexpr Element kSingle{"single", vxSINGLE_CLASS, vxREAL, 4};
constexpr Element kComplexDouble{"complex-double", vxDOUBLE_CLASS, vxCOMPLEX, 16};
constexpr Element kInt8{"int8", vxINT8_CLASS, vxREAL, 1};
constexpr Element kInt16{"int16", vxINT16_CLASS, vxREAL, 2};
constexpr Element kInt32{"int32", vxINT32_CLASS, vxREAL, 4};
constexpr Element kInt64{"int64", vxINT64_CLASS, vxREAL, 8};
constexpr Element kLogical{"logical", vxLOGICAL_CLASS, vxREAL, 1};

struct Operation {
    const char* name;
    Gateway gateway;
    Values values;
    bool logicalBecomesDouble;
};

constexpr Operation kCumsum{"cumsum", mathelemCumsumFcn, Values::Spread, true};
constexpr Operation kCumprod{"cumprod", mathelemCumprodFcn, Values::NearOne, true};
constexpr Operation kCummin{"cummin", mathelemCumminFcn, Values::Spread, false};
constexpr Operation kCummax{"cummax", mathelemCummaxFcn, Values::Spread, false};

// Off: the host frees each result's buffer, so every call writes a freshly mapped one, as with
// TZCUMFUN_HOST_CACHE=0. On: the host keeps freed buffers, so repeated calls write one already
// mapped, as a program calling in a loop does.
enum class HostCache { Off, On };

struct GatewayCase {
    Operation op;
    Element element;
    Layout layout;
    Size size;
    std::string prefix;  // "" for the named cases, "sweep/" for the size sweep (cache on)
    HostCache hostCache = HostCache::On;

    std::size_t outBytes() const {
        return element.classId == vxLOGICAL_CLASS && op.logicalBecomesDouble ? 8 : element.inBytes;
    }
    std::size_t count() const { return size.bytes / (element.inBytes + outBytes()); }
    Dims dims() const { return shapeOf(layout, size, count()); }
    double dimArgument() const {
        return layout == Layout::LastDim || layout == Layout::Page ? 2 : 1;
    }
    std::string name() const {
        const std::string name =
            prefix + op.name + "/" + element.name + "/" + nameOf(layout) + "/" + size.name;
        if (!prefix.empty()) return name;
        return name + (hostCache == HostCache::On ? "/hostcache-on" : "/hostcache-off");
    }
};

// One user call per iteration: a fresh output slot, the result freed at the end of the
// iteration. A real call allocates its result too, so that cost is counted; with the host cache
// off the result's pages are also mapped afresh on every call, with it on only before timing.
void gatewayBench(benchmark::State& state, const GatewayCase& bench) {
    standin::setHostCache(bench.hostCache == HostCache::On);
    const Dims dims = bench.dims();
    const auto& inputs = cachedInputs(bench.element.classId, bench.element.complexity, dims,
                                      bench.op.values, variantsOf(bench.size));
    const ArrayHandle dimArg = scalarArray(bench.dimArgument());
    const vxArray_tag* prhs[] = {nullptr, dimArg.get()};
    const std::size_t count = standin::numel(inputs.front().get());
    std::size_t turn = 0;
    const auto call = [&] {
        prhs[0] = inputs[turn++ % inputs.size()].get();
        ArrayHandle result;
        bench.op.gateway(1, &result, 2, prhs);
        benchmark::DoNotOptimize(result->data);
    };
    try {
        if (bench.hostCache == HostCache::On) call();
        for (auto _ : state)
            call();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(
        iterations * static_cast<std::int64_t>(count * (bench.element.inBytes + bench.outBytes())));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(count));
}

// The memory ceiling: out[i] = in[i] + c over doubles, the same bytes as cumsum of double.
enum class Cores { One, All };
enum class Output { Fresh, Reused };

struct StreamCase {
    Cores cores;
    Output output;
    Size size;
    std::string prefix;

    std::string name() const {
        return prefix + "stream/" + (cores == Cores::One ? "1core" : "allcores") + "/" +
               (output == Output::Fresh ? "fresh" : "reused") + "/" + size.name;
    }
};

// Written in blocks of one cache line over unaliased pointers: -O2 vectorises only loops that
// need neither a scalar epilogue nor a run-time overlap check, which these fixed lanes satisfy.
void streamAdd(const double* __restrict in, double* __restrict out, std::size_t count,
               double shift) {
    constexpr std::size_t kLanes = 64 / sizeof(double);
    std::size_t elem = 0;
    for (; elem + kLanes <= count; elem += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            out[elem + lane] = in[elem + lane] + shift;
        }
    }
    for (; elem < count; ++elem)
        out[elem] = in[elem] + shift;
}

// Halves (one share per worker) of at least 32 KiB, so the loop measures memory, not scheduling.
void streamAddParallel(const double* in, double* out, std::size_t count, double shift) {
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, 4096),
        [=](const tbb::blocked_range<std::size_t>& range) {
            streamAdd(in + range.begin(), out + range.begin(), range.size(), shift);
        },
        tbb::static_partitioner());
}

void streamBench(benchmark::State& state, const StreamCase& bench) {
    // A fresh array is freshly mapped, never one the host kept.
    standin::setHostCache(bench.output == Output::Reused);
    const std::size_t count = bench.size.bytes / (2 * sizeof(double));
    const Dims dims = shapeOf(Layout::Contiguous, bench.size, count);
    // The same inputs as the gateways', so the cache holds the same bytes.
    const auto& inputs =
        cachedInputs(vxDOUBLE_CLASS, vxREAL, dims, Values::Spread, variantsOf(bench.size));
    const std::size_t used = standin::numel(inputs.front().get());
    double shift = 1.0;
    benchmark::DoNotOptimize(shift);
    std::size_t turn = 0;
    const auto run = [&](double* out) {
        const auto* in = static_cast<const double*>(inputs[turn++ % inputs.size()]->data);
        if (bench.cores == Cores::One) {
            streamAdd(in, out, used, shift);
        } else {
            streamAddParallel(in, out, used, shift);
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    };
    ArrayHandle reused;
    if (bench.output == Output::Reused) {
        reused = matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(), vxDOUBLE_CLASS,
                                                         vxREAL);
        run(static_cast<double*>(reused->data));  // first touch outside the timed loop
    }
    for (auto _ : state) {
        if (bench.output == Output::Reused) {
            run(static_cast<double*>(reused->data));
            continue;
        }
        ArrayHandle fresh = matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(),
                                                                    vxDOUBLE_CLASS, vxREAL);
        run(static_cast<double*>(fresh->data));
    }
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(used * 2 * sizeof(double)));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(used));
}

// The memory ceiling of the last-dimension layout's own walk: the streaming loop over the same
// double matrix in the order the gateway's parallel sweep takes it, blocks of adjacent rows (the
// grain of its parallel loop) each through every slice, into a reused array. A block reads and
// writes only its rows' piece of each slice before it jumps to the next slice, so the walk moves
// memory in short runs however fast the scan is. Like the sweep, the loop asks for the input and
// output lines of the slice 16 ahead, which the hardware prefetcher would not fetch in time.
// Double inputs of the last-dimension shape that fills `size`, read and written, and that shape.
struct LastDimInputs {
    const std::vector<ArrayHandle>& arrays;
    Dims dims;
};

LastDimInputs lastDimInputs(const Size& size) {
    Dims dims = shapeOf(Layout::LastDim, size, size.bytes / (2 * sizeof(double)));
    return {cachedInputs(vxDOUBLE_CLASS, vxREAL, dims, Values::Spread, variantsOf(size)),
            std::move(dims)};
}

const std::string kLastDimStream = "stream/allcores/reused-lastdim/";

void lastDimStreamBench(benchmark::State& state, const Size& size) {
    constexpr std::size_t kRowGrain = 128;
    constexpr std::size_t kAheadSlices = 16;
    constexpr std::size_t kLineDoubles = 64 / sizeof(double);
    standin::setHostCache(true);
    const auto [inputs, dims] = lastDimInputs(size);
    const std::size_t rows = dims[0];
    const std::size_t slices = dims[1];
    double shift = 1.0;
    benchmark::DoNotOptimize(shift);
    ArrayHandle reused =
        matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(), vxDOUBLE_CLASS, vxREAL);
    auto* out = static_cast<double*>(reused->data);
    std::size_t turn = 0;
    const auto run = [&] {
        const auto* in = static_cast<const double*>(inputs[turn++ % inputs.size()]->data);
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, rows, kRowGrain),
            [=](const tbb::blocked_range<std::size_t>& block) {
                for (std::size_t slice = 0; slice < slices; ++slice) {
                    const std::size_t first = slice * rows + block.begin();
                    if (slice + kAheadSlices < slices) {
                        const std::size_t ahead = first + kAheadSlices * rows;
                        for (std::size_t row = 0; row < block.size(); row += kLineDoubles) {
                            __builtin_prefetch(in + ahead + row);
                            __builtin_prefetch(out + ahead + row, 1);
                        }
                    }
                    streamAdd(in + first, out + first, block.size(), shift);
                }
            },
            tbb::auto_partitioner());
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    };
    run();  // first touch outside the timed loop
    for (auto _ : state)
        run();
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    const std::size_t used = rows * slices;
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(used * 2 * sizeof(double)));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(used));
}

// The latency ceilings: one dependent chain of an operation in its plainest form (add, multiply,
// compare and select) over the input of the one-vector scan, into a reused array. A scan that
// keeps one chain, as a single vector must, can at best run at this rate.
struct ChainCase {
    Operation op;
    Size size;

    std::string name() const { return std::string("chain/") + op.name + "/double/" + size.name; }
};

template <class Step>
void chainLoop(const double* in, double* out, std::size_t count, Step step) {
    double running = in[0];
    out[0] = running;
    for (std::size_t elem = 1; elem < count; ++elem) {
        running = step(running, in[elem]);
        out[elem] = running;
    }
}

void chainBench(benchmark::State& state, const ChainCase& bench) {
    const std::size_t count = bench.size.bytes / (2 * sizeof(double));
    const auto& inputs =
        cachedInputs(vxDOUBLE_CLASS, vxREAL, {count, 1}, bench.op.values, variantsOf(bench.size));
    std::vector<double> out(count);
    const std::string op = bench.op.name;
    std::size_t turn = 0;
    for (auto _ : state) {
        const auto* in = static_cast<const double*>(inputs[turn++ % inputs.size()]->data);
        if (op == "cumsum") {
            chainLoop(in, out.data(), count, [](double prev, double x) { return prev + x; });
        } else if (op == "cumprod") {
            chainLoop(in, out.data(), count, [](double prev, double x) { return prev * x; });
        } else if (op == "cummax") {
            chainLoop(in, out.data(), count,
                      [](double prev, double x) { return x > prev ? x : prev; });
        } else {
            chainLoop(in, out.data(), count,
                      [](double prev, double x) { return x < prev ? x : prev; });
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(count * 2 * sizeof(double)));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(count));
}

// Two yardsticks for the gateway's last-dimension sweep in cache: the same sweep (each slice is
// the previous output slice plus the input slice) with its slice loop kept scalar, and with it
// written in fixed lanes that -O2 turns into packed adds. Where the gateway lands between them
// tells whether its slice loop runs several rows per instruction.
enum class Sweep { Scalar, Packed };

__attribute__((optimize("no-tree-vectorize"))) void sweepSliceScalar(const double* prev,
                                                                     const double* in, double* out,
                                                                     std::size_t width) {
    for (std::size_t row = 0; row < width; ++row)
        out[row] = prev[row] + in[row];
}

void sweepSlicePacked(const double* __restrict prev, const double* __restrict in,
                      double* __restrict out, std::size_t width) {
    constexpr std::size_t kLanes = 64 / sizeof(double);
    std::size_t row = 0;
    for (; row + kLanes <= width; row += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            out[row + lane] = prev[row + lane] + in[row + lane];
        }
    }
    for (; row < width; ++row)
        out[row] = prev[row] + in[row];
}

std::string sweepName(Sweep sweep) {
    return std::string("reference/lastdim-sweep/") +
           (sweep == Sweep::Scalar ? "scalar" : "packed") + "/" + kInCache.name;
}

void sweepBench(benchmark::State& state, Sweep sweep) {
    const auto [inputs, dims] = lastDimInputs(kInCache);
    const std::size_t rows = dims[0];
    const std::size_t slices = dims[1];
    std::size_t turn = 0;
    for (auto _ : state) {
        const auto* in = static_cast<const double*>(inputs[turn++ % inputs.size()]->data);
        // A fresh result, as the gateway makes one.
        ArrayHandle result = matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(),
                                                                     vxDOUBLE_CLASS, vxREAL);
        auto* out = static_cast<double*>(result->data);
        for (std::size_t row = 0; row < rows; ++row)
            out[row] = in[row];
        for (std::size_t slice = 1; slice < slices; ++slice) {
            const double* prev = out + (slice - 1) * rows;
            if (sweep == Sweep::Scalar) {
                sweepSliceScalar(prev, in + slice * rows, out + slice * rows, rows);
            } else {
                sweepSlicePacked(prev, in + slice * rows, out + slice * rows, rows);
            }
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    const std::size_t used = rows * slices;
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(used * 2 * sizeof(double)));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(used));
}

// The strided-view API against std::inclusive_scan, sequential and with std::execution::par
// (oneTBB under libstdc++), on one long vector of 10^7 doubles and a C-ordered 2000-by-5000
// double matrix along each axis, a row or a column at a time for the peers. Every entrant writes
// into the same reused array.
enum class ApiCase { Vector, Rows, Columns };
enum class ApiEntrant { Tzcumfun, StdSeq, StdPar };

constexpr std::size_t kApiRows = 2000;
constexpr std::size_t kApiColumns = 5000;
constexpr std::size_t kApiCount = 10'000'000;

// A column of a C-ordered matrix for the standard algorithms: a random-access iterator that
// steps `stride` elements.
template <class T>
class Strided {
  public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::remove_const_t<T>;
    using difference_type = std::ptrdiff_t;
    using pointer = T*;
    using reference = T&;

    Strided() = default;
    Strided(T* at, std::ptrdiff_t stride) : at_(at), stride_(stride) {}
    T& operator*() const { return *at_; }
    T& operator[](std::ptrdiff_t n) const { return at_[n * stride_]; }
    Strided& operator+=(std::ptrdiff_t n) { return at_ += n * stride_, *this; }
    Strided& operator-=(std::ptrdiff_t n) { return at_ -= n * stride_, *this; }
    Strided& operator++() { return *this += 1; }
    Strided& operator--() { return *this -= 1; }
    Strided operator++(int) { return std::exchange(*this, *this + 1); }
    Strided operator--(int) { return std::exchange(*this, *this - 1); }
    Strided operator+(std::ptrdiff_t n) const { return Strided(*this) += n; }
    Strided operator-(std::ptrdiff_t n) const { return Strided(*this) -= n; }
    friend Strided operator+(std::ptrdiff_t n, Strided it) { return it += n; }
    std::ptrdiff_t operator-(const Strided& other) const { return (at_ - other.at_) / stride_; }
    auto operator<=>(const Strided& other) const { return at_ <=> other.at_; }
    bool operator==(const Strided& other) const { return at_ == other.at_; }

  private:
    T* at_ = nullptr;
    std::ptrdiff_t stride_ = 1;
};

struct ApiArrays {
    std::vector<double> in;
    std::vector<double> out;
};

// The vector, or the matrix that both axes' cases share.
ApiArrays& apiArrays(ApiCase which) {
    static ApiArrays arrays;
    const std::size_t count = which == ApiCase::Vector ? kApiCount : kApiRows * kApiColumns;
    if (arrays.in.size() != count) {
        SplitMix random(0x5eed);
        arrays.in.resize(count);
        fillReal(arrays.in.data(), count, Values::Spread, random);
        arrays.out.assign(count, 0.0);
    }
    return arrays;
}

template <class Policy>
void stdScans(Policy&& policy, ApiCase which, const double* in, double* out) {
    if (which == ApiCase::Vector) {
        std::inclusive_scan(policy, in, in + kApiCount, out);
    } else if (which == ApiCase::Rows) {
        for (std::size_t row = 0; row < kApiRows; ++row)
            std::inclusive_scan(policy, in + row * kApiColumns, in + (row + 1) * kApiColumns,
                                out + row * kApiColumns);
    } else {
        const auto stride = static_cast<std::ptrdiff_t>(kApiColumns);
        for (std::size_t column = 0; column < kApiColumns; ++column) {
            const Strided<const double> first(in + column, stride);
            std::inclusive_scan(policy, first, first + kApiRows,
                                Strided<double>(out + column, stride));
        }
    }
}

void apiScan(ApiEntrant entrant, ApiCase which, const double* in, double* out) {
    if (entrant == ApiEntrant::StdSeq) return stdScans(std::execution::seq, which, in, out);
    if (entrant == ApiEntrant::StdPar) return stdScans(std::execution::par, which, in, out);
    const std::size_t vector[] = {kApiCount};
    const std::size_t matrix[] = {kApiRows, kApiColumns};
    const std::ptrdiff_t vectorStrides[] = {1};
    const std::ptrdiff_t matrixStrides[] = {kApiColumns, 1};
    const bool isVector = which == ApiCase::Vector;
    const std::span<const std::size_t> extents(isVector ? vector : matrix, isVector ? 1 : 2);
    const std::span<const std::ptrdiff_t> strides(isVector ? vectorStrides : matrixStrides,
                                                  isVector ? 1 : 2);
    tzcumfun::scan(tzcumfun::ScanOp::cumsum,
                   {in, tzcumfun::ElementType::float64, false, extents, strides},
                   {out, tzcumfun::ElementType::float64, false, extents, strides},
                   {.axis = which == ApiCase::Rows ? 1 : 0});
}

std::string apiName(ApiCase which, ApiEntrant entrant) {
    static const char* const kCases[] = {"vector-1e7", "c2000x5000-axis1", "c2000x5000-axis0"};
    static const char* const kEntrants[] = {"tzcumfun", "std-seq", "std-par"};
    return std::string("api/cumsum/double/") + kCases[static_cast<int>(which)] + "/" +
           kEntrants[static_cast<int>(entrant)];
}

bool apiRan = false;

void apiBench(benchmark::State& state, ApiCase which, ApiEntrant entrant) {
    apiRan = true;
    ApiArrays& arrays = apiArrays(which);
    apiScan(entrant, which, arrays.in.data(), arrays.out.data());  // warm, outside the timing
    for (auto _ : state) {
        apiScan(entrant, which, arrays.in.data(), arrays.out.data());
        benchmark::DoNotOptimize(arrays.out.data());
        benchmark::ClobberMemory();
    }
    const auto items = static_cast<std::int64_t>(arrays.in.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * items * 16);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * items);
}

// Distance in units in the last place between two finite doubles.
std::uint64_t ulps(double a, double b) {
    const auto ordered = [](double x) {
        const auto bits = std::bit_cast<std::int64_t>(x);
        return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
    };
    const std::int64_t x = ordered(a);
    const std::int64_t y = ordered(b);
    return x > y ? std::uint64_t(x) - std::uint64_t(y) : std::uint64_t(y) - std::uint64_t(x);
}

// Where the peers' bits are not ours, on the bench's own arrays: elements that differ, and by how
// many units in the last place at most; then a saturating against a wrapping int8 sum.
void reportApiBits(std::ostream& report) {
    report << "\nstd::inclusive_scan against tzcumfun::scan (cumsum), elements with other bits:\n";
    for (const ApiCase which : {ApiCase::Vector, ApiCase::Rows, ApiCase::Columns}) {
        ApiArrays& arrays = apiArrays(which);
        std::vector<double> ours(arrays.in.size());
        apiScan(ApiEntrant::Tzcumfun, which, arrays.in.data(), ours.data());
        for (const ApiEntrant peer : {ApiEntrant::StdSeq, ApiEntrant::StdPar}) {
            apiScan(peer, which, arrays.in.data(), arrays.out.data());
            std::size_t differing = 0;
            std::uint64_t most = 0;
            double widest = 0;  // ulps mislead where a running sum passes near zero
            for (std::size_t elem = 0; elem < ours.size(); ++elem) {
                const std::uint64_t apart = ulps(ours[elem], arrays.out[elem]);
                differing += apart != 0;
                most = std::max(most, apart);
                widest = std::max(widest, std::fabs(ours[elem] - arrays.out[elem]));
            }
            report << "  " << std::left << std::setw(40) << apiName(which, peer).substr(18)
                   << differing << " of " << ours.size() << " differ, by at most " << most
                   << " ulp and " << std::scientific << std::setprecision(1) << widest
                   << std::defaultfloat << "\n";
        }
    }
    std::vector<std::int8_t> bytes(kApiCount);
    SplitMix random(0x5eed);
    fillInteger(bytes.data(), bytes.size(), Values::Spread, random);
    std::vector<std::int8_t> saturated(bytes.size());
    std::vector<std::int8_t> wrapped(bytes.size());
    const std::size_t extents[] = {bytes.size()};
    const std::ptrdiff_t strides[] = {1};
    tzcumfun::scan(tzcumfun::ScanOp::cumsum,
                   {bytes.data(), tzcumfun::ElementType::int8, false, extents, strides},
                   {saturated.data(), tzcumfun::ElementType::int8, false, extents, strides});
    std::inclusive_scan(
        bytes.begin(), bytes.end(), wrapped.begin(),
        [](std::int8_t a, std::int8_t b) { return static_cast<std::int8_t>(a + b); });
    const auto differing = std::inner_product(saturated.begin(), saturated.end(), wrapped.begin(),
                                              std::size_t{0}, std::plus<>(), std::not_equal_to<>());
    report << "  int8 cumsum of the same length over the whole range: " << differing << " of "
           << bytes.size() << " differ (tzcumfun saturates, std::inclusive_scan wraps)\n";
}

void registerApi() {
    for (const ApiCase which : {ApiCase::Vector, ApiCase::Rows, ApiCase::Columns}) {
        for (const ApiEntrant entrant :
             {ApiEntrant::Tzcumfun, ApiEntrant::StdSeq, ApiEntrant::StdPar}) {
            benchmark::RegisterBenchmark(
                apiName(which, entrant).c_str(),
                [which, entrant](benchmark::State& state) { apiBench(state, which, entrant); })
                ->UseRealTime()
                ->MinTime(0.1)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

// The usual console output, then one table of medians, each figure also as a fraction of the
// streaming loop over the same bytes in the same cache level, and the vectorisation check.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    SummaryReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single) continue;
            const auto bytes = run.counters.find("bytes_per_second");
            const auto items = run.counters.find("items_per_second");
            if (bytes == run.counters.end() || items == run.counters.end()) continue;
            const std::string& name = run.run_name.function_name;
            if (rates_.find(name) == rates_.end()) order_.push_back(name);
            rates_[name] = {bytes->second.value, items->second.value};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (order_.empty()) return;
        std::ostream& out = GetOutputStream();
        out << "\nMedians. 'stream' divides by the streaming loop out[i] = in[i] + c over the same "
               "bytes at the\nsame size: on all cores into a fresh array, on one core into a fresh "
               "array, and on all cores\ninto a reused array (the stable ceiling). A one-vector "
               "scan "
               "is also divided by the dependent\nchain of its operation on the same input, a "
               "last-dimension scan by the streaming loop\nwalking memory in that layout's order. "
               "Gateway names end in hostcache-off (each result\nfreshly mapped, as with "
               "TZCUMFUN_HOST_CACHE=0) or hostcache-on (the host reuses freed result buffers).\n";
        out << std::left << std::setw(56) << "benchmark" << std::right << std::setw(9) << "GB/s"
            << std::setw(10) << "Gelem/s" << std::setw(12) << "of stream" << std::setw(12)
            << "of 1 core" << std::setw(12) << "of reused" << std::setw(10) << "of chain"
            << std::setw(10) << "of walk"
            << "\n";
        for (const std::string& name : order_) {
            if (name.rfind("sweep/", 0) == 0) continue;  // the sweep is for the pictures
            const Rate& rate = rates_.at(name);
            // The size is the last segment, or the one before the host cache's mode.
            const std::string sized = name.find("/hostcache-") == std::string::npos
                                          ? name
                                          : name.substr(0, name.rfind('/'));
            const std::string size = sized.substr(sized.rfind('/') + 1);
            std::string chain = "-";
            if (name.find("/double/vector/") != std::string::npos) {
                chain =
                    fractionOf(rate, "chain/" + name.substr(0, name.find('/')) + "/double/" + size);
            }
            const std::string walk = name.find("/lastdim/") != std::string::npos
                                         ? fractionOf(rate, kLastDimStream + size)
                                         : "-";
            out << std::left << std::setw(56) << name << std::right << std::fixed
                << std::setprecision(2) << std::setw(9) << rate.bytes * 1e-9 << std::setw(10)
                << std::setprecision(3) << rate.items * 1e-9 << std::setprecision(2)
                << std::setw(12) << fractionOf(rate, "stream/allcores/fresh/" + size)
                << std::setw(12) << fractionOf(rate, "stream/1core/fresh/" + size) << std::setw(12)
                << fractionOf(rate, "stream/allcores/reused/" + size) << std::setw(10) << chain
                << std::setw(10) << walk << "\n";
        }
        reportVectorisation(out);
    }

  private:
    struct Rate {
        double bytes;
        double items;
    };

    std::string fractionOf(const Rate& rate, const std::string& streamName) const {
        const auto stream = rates_.find(streamName);
        if (stream == rates_.end() || stream->second.bytes <= 0) return "-";
        std::ostringstream text;
        text << std::fixed << std::setprecision(2) << rate.bytes / stream->second.bytes;
        return text.str();
    }

    // In cache all of these run serially on one core. The contiguous scan is one chain of
    // dependent adds; the gateway's last-dimension sweep is set against the two reference sweeps
    // and called packed when it lies nearer the packed one (on a ratio scale).
    void reportVectorisation(std::ostream& out) const {
        const auto chain = rates_.find("cumsum/double/contiguous/cache/hostcache-on");
        const auto gateway = rates_.find("cumsum/double/lastdim/cache/hostcache-on");
        const auto scalar = rates_.find(sweepName(Sweep::Scalar));
        const auto packed = rates_.find(sweepName(Sweep::Packed));
        if (chain == rates_.end() || gateway == rates_.end() || scalar == rates_.end() ||
            packed == rates_.end()) {
            return;
        }
        const double rate = gateway->second.items;
        const double low = scalar->second.items;
        const double high = packed->second.items;
        out << std::setprecision(2)
            << "\nIn cache, cumsum of double along the last dimension: " << rate * 1e-9
            << " Gelem/s, " << rate / chain->second.items
            << "x the contiguous scan's chain of dependent adds,\n"
            << rate / low << "x the scalar reference sweep and " << rate / high
            << "x the packed one (packed/scalar = " << high / low << "x): ";
        if (high < 1.2 * low) {
            out << "the references are too close to tell here.\n";
        } else if (rate * rate >= low * high) {
            out << "its slice loop runs several rows per instruction.\n";
        } else {
            out << "its slice loop runs one row per instruction.\n";
        }
    }

    std::map<std::string, Rate> rates_;
    std::vector<std::string> order_;
};

// Real time throughout: the gateways and the parallel stream hand work to oneTBB's workers, whose
// time the calling thread's CPU clock would miss.
void configure(benchmark::internal::Benchmark* bench, const Size& size) {
    bench->UseRealTime()
        ->MinTime(fitsCache(size) ? 0.05 : 0.1)
        ->Unit(size.bytes < 16 * kMiB ? benchmark::kMicrosecond : benchmark::kMillisecond);
}

void registerGateway(const GatewayCase& bench, int repetitions) {
    auto* registered = benchmark::RegisterBenchmark(
        bench.name().c_str(), [bench](benchmark::State& state) { gatewayBench(state, bench); });
    configure(registered, bench.size);
    if (repetitions > 0) registered->Repetitions(repetitions);
}

void registerStream(const StreamCase& bench, int repetitions) {
    auto* registered = benchmark::RegisterBenchmark(
        bench.name().c_str(), [bench](benchmark::State& state) { streamBench(state, bench); });
    configure(registered, bench.size);
    if (repetitions > 0) registered->Repetitions(repetitions);
}

// The named cases: every operation in every layout at the two named sizes, the streams they are
// divided by, one-vector scans beside their chains, and the last-dimension reference sweeps.
void registerNamed() {
    const Layout layouts[] = {Layout::Contiguous, Layout::LastDim, Layout::Page};
    const std::vector<std::pair<Operation, std::vector<Element>>> operations = {
        // int8 and int16 sums are random walks that reach their limits every few steps.
        {kCumsum, {kDouble, kSingle, kInt32, kInt64, kLogical, kInt8, kInt16}},
        {kCumprod, {kDouble, kSingle, kInt32, kInt64, kComplexDouble}},
        {kCummin, {kDouble, kSingle, kInt32, kInt64}},
        {kCummax, {kDouble, kSingle, kInt32, kInt64, kInt8, kLogical, kComplexDouble}},
    };
    for (const Size& size : {kInCache, kBeyondCache}) {
        // Streams first: they share the double matrix of the cumsum runs that follow.
        for (const Output output : {Output::Fresh, Output::Reused}) {
            for (const Cores cores : {Cores::One, Cores::All})
                registerStream({cores, output, size, ""}, 0);
        }
        configure(benchmark::RegisterBenchmark(
                      (kLastDimStream + size.name).c_str(),
                      [size](benchmark::State& state) { lastDimStreamBench(state, size); }),
                  size);
        for (const auto& [op, elements] : operations) {
            for (const Element& element : elements) {
                for (const Layout layout : layouts) {
                    for (const HostCache cache : {HostCache::Off, HostCache::On})
                        registerGateway({op, element, layout, size, "", cache}, 0);
                    // The reference sweeps run right after the sweep they measure, on the same
                    // input, so that a neighbour's load on this shared machine hits all three.
                    const GatewayCase bench{op, element, layout, size, ""};
                    if (bench.name() != "cumsum/double/lastdim/cache/hostcache-on") continue;
                    for (const Sweep sweep : {Sweep::Scalar, Sweep::Packed}) {
                        configure(benchmark::RegisterBenchmark(sweepName(sweep).c_str(),
                                                               [sweep](benchmark::State& state) {
                                                                   sweepBench(state, sweep);
                                                               }),
                                  size);
                    }
                }
            }
            // One long vector both ways, then the chain of the same operation on the same input.
            for (const HostCache cache : {HostCache::Off, HostCache::On})
                registerGateway({op, kDouble, Layout::Vector, size, "", cache}, 0);
            const ChainCase chain{op, size};
            configure(benchmark::RegisterBenchmark(
                          chain.name().c_str(),
                          [chain](benchmark::State& state) { chainBench(state, chain); }),
                      size);
        }
    }
}

// The size sweep behind the pictures: each operation for the 4- and 8-byte classes in the three
// layouts, beside the reused-array stream, from 4 KiB to 512 MiB in steps of four (quick: three
// sizes). Cases sharing an input run next to each other, so each input is built once.
void registerSweep(bool quick) {
    std::vector<std::size_t> sizes;
    if (quick) {
        sizes = {16 * kKiB, kMiB, 64 * kMiB};
    } else {
        for (std::size_t bytes = 4 * kKiB; bytes <= 256 * kMiB; bytes *= 4)
            sizes.push_back(bytes);
        sizes.push_back(512 * kMiB);
    }
    const int repetitions = quick ? 1 : 5;  // medians of 5, so single points do not jump
    for (const std::size_t bytes : sizes) {
        const Size size{bytes, std::to_string(bytes)};
        registerStream({Cores::All, Output::Reused, size, "sweep/"}, repetitions);
        for (const Element& element : {kDouble, kSingle, kInt32, kInt64}) {
            for (const Layout layout : {Layout::Contiguous, Layout::LastDim, Layout::Page}) {
                for (const Operation& op : {kCumsum, kCummin, kCummax, kCumprod})
                    registerGateway({op, element, layout, size, "sweep/"}, repetitions);
            }
        }
    }
}

// Our own option, taken out before the benchmark library reads the rest: --sweep=full (the
// default), --sweep=quick or --sweep=none.
std::string takeSweepOption(int& argc, char** argv) {
    std::string sweep = "full";
    int kept = 1;
    for (int arg = 1; arg < argc; ++arg) {
        const std::string text = argv[arg];
        if (text.rfind("--sweep=", 0) == 0) {
            sweep = text.substr(8);
        } else {
            argv[kept++] = argv[arg];
        }
    }
    argc = kept;
    return sweep;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string sweep = takeSweepOption(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (sweep != "full" && sweep != "quick" && sweep != "none") {
        std::cerr << "--sweep takes full, quick or none\n";
        return 1;
    }
    // The kernels' instruction level (TZCUMFUN_CPU caps it), so that runs at each level compare;
    // the library chooses it by the same rule from the same processor and environment.
    benchmark::AddCustomContext("tzcumfun_cpu_level",
                                tzcumfun::cpuLevelName(tzcumfun::activeCpuLevel()));
    registerNamed();
    registerApi();
    if (sweep != "none") registerSweep(sweep == "quick");
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (apiRan) reportApiBits(std::cout);
    benchmark::Shutdown();
    return 0;
}
