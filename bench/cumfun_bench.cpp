// Gateway throughput in every layout, beside a streaming loop over the same bytes.
#include <benchmark/benchmark.h>
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gateways/cumfun.hpp"
#include "standin/standin.hpp"

namespace {

using standin::ArrayHandle;
using standin::Dims;
using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);

constexpr std::size_t kKiB = std::size_t{1} << 10;
constexpr std::size_t kMiB = std::size_t{1} << 20;

// Input plus output bytes of one call. The small size fits the second-level cache of one core;
// the large one is several times the last-level cache, so every byte comes from memory.
enum class Size { InCache, BeyondCache };

constexpr std::size_t totalBytes(Size size) {
    return size == Size::InCache ? 256 * kKiB : 256 * kMiB;
}

const char* nameOf(Size size) {
    return size == Size::InCache ? "cache" : "memory";
}

// Contiguous: a column-major matrix along its first dimension. LastDim: the same matrix along its
// second, so each slice is a column and the rows run side by side. Page: a three-dimensional
// array along its second dimension, one rows-by-columns page after another.
enum class Layout { Contiguous, LastDim, Page };

const char* nameOf(Layout layout) {
    switch (layout) {
        case Layout::Contiguous:
            return "contiguous";
        case Layout::LastDim:
            return "lastdim";
        case Layout::Page:
            return "page";
    }
    return "?";
}

// Dimensions holding about `count` elements in `layout`. The matrix has 128 rows in cache and
// 4096 beyond it, so a contiguous vector is long enough that the scan itself, not the loop
// set-up, is measured; pages are square.
Dims shapeOf(Layout layout, Size size, std::size_t count) {
    if (layout == Layout::Page) {
        const std::size_t side = size == Size::InCache ? 32 : 256;
        return {side, side, count / (side * side)};
    }
    const std::size_t rows = size == Size::InCache ? 128 : 4096;
    return {rows, count / rows};
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
        } else if constexpr (sizeof(T) == 1) {
            data[elem] = static_cast<T>(bits >> 56);  // the whole range
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
// input is far too long to be learnt.
constexpr std::size_t variantsOf(Size size) {
    return size == Size::InCache ? 4 : 1;
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
constexpr Operation kCummax{"cummax", mathelemCummaxFcn, Values::Spread, false};

struct GatewayCase {
    Operation op;
    Element element;
    Layout layout;
    Size size;

    std::size_t outBytes() const {
        return element.classId == vxLOGICAL_CLASS && op.logicalBecomesDouble ? 8 : element.inBytes;
    }
    std::size_t count() const { return totalBytes(size) / (element.inBytes + outBytes()); }
    Dims dims() const { return shapeOf(layout, size, count()); }
    double dimArgument() const { return layout == Layout::Contiguous ? 1.0 : 2.0; }
    std::string name() const {
        return std::string(op.name) + "/" + element.name + "/" + nameOf(layout) + "/" +
               nameOf(size);
    }
};

// One user call per iteration: a fresh output slot, the result freed at the end of the
// iteration. A real call allocates and first-touches its result too, so that cost is counted.
void gatewayBench(benchmark::State& state, const GatewayCase& bench) {
    const Dims dims = bench.dims();
    const auto& inputs = cachedInputs(bench.element.classId, bench.element.complexity, dims,
                                      bench.op.values, variantsOf(bench.size));
    const ArrayHandle dimArg = scalarArray(bench.dimArgument());
    const vxArray_tag* prhs[] = {nullptr, dimArg.get()};
    const std::size_t count = standin::numel(inputs.front().get());
    std::size_t turn = 0;
    for (auto _ : state) {
        prhs[0] = inputs[turn++ % inputs.size()].get();
        ArrayHandle result;
        try {
            bench.op.gateway(1, &result, 2, prhs);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
        benchmark::DoNotOptimize(result->data);
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

    std::string name() const {
        return std::string("stream/") + (cores == Cores::One ? "1core" : "allcores") + "/" +
               (output == Output::Fresh ? "fresh" : "reused") + "/" + nameOf(size);
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
    const std::size_t count = totalBytes(bench.size) / (2 * sizeof(double));
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
           (sweep == Sweep::Scalar ? "scalar" : "packed") + "/" + nameOf(Size::InCache);
}

void sweepBench(benchmark::State& state, Sweep sweep) {
    const std::size_t count = totalBytes(Size::InCache) / (2 * sizeof(double));
    const Dims dims = shapeOf(Layout::LastDim, Size::InCache, count);
    const auto& inputs =
        cachedInputs(vxDOUBLE_CLASS, vxREAL, dims, Values::Spread, variantsOf(Size::InCache));
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
        out << "\nMedians. 'of stream' divides by the streaming loop out[i] = in[i] + c into a "
               "fresh"
               " array\nover the same bytes at the same size, on all cores and on one core.\n";
        out << std::left << std::setw(40) << "benchmark" << std::right << std::setw(9) << "GB/s"
            << std::setw(10) << "Gelem/s" << std::setw(12) << "of stream" << std::setw(12)
            << "of 1 core"
            << "\n";
        for (const std::string& name : order_) {
            const Rate& rate = rates_.at(name);
            const std::string size = name.substr(name.rfind('/') + 1);
            out << std::left << std::setw(40) << name << std::right << std::fixed
                << std::setprecision(2) << std::setw(9) << rate.bytes * 1e-9 << std::setw(10)
                << std::setprecision(3) << rate.items * 1e-9 << std::setprecision(2)
                << std::setw(12) << fractionOf(rate, "stream/allcores/fresh/" + size)
                << std::setw(12) << fractionOf(rate, "stream/1core/fresh/" + size) << "\n";
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
        const auto chain = rates_.find("cumsum/double/contiguous/cache");
        const auto gateway = rates_.find("cumsum/double/lastdim/cache");
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
void configure(benchmark::internal::Benchmark* bench, Size size) {
    bench->UseRealTime()
        ->MinTime(size == Size::InCache ? 0.05 : 0.1)
        ->Unit(size == Size::InCache ? benchmark::kMicrosecond : benchmark::kMillisecond);
}

void registerAll() {
    const Layout layouts[] = {Layout::Contiguous, Layout::LastDim, Layout::Page};
    const std::vector<std::pair<Operation, std::vector<Element>>> operations = {
        {kCumsum, {kDouble, kSingle, kInt32, kLogical}},
        {kCumprod, {kDouble, kSingle, kComplexDouble, kInt64}},
        {kCummax, {kDouble, kInt8, kLogical, kComplexDouble}},
    };
    for (const Size size : {Size::InCache, Size::BeyondCache}) {
        // Streams first: they share the double matrix of the cumsum runs that follow.
        for (const Output output : {Output::Fresh, Output::Reused}) {
            for (const Cores cores : {Cores::One, Cores::All}) {
                const StreamCase bench{cores, output, size};
                configure(benchmark::RegisterBenchmark(
                              bench.name().c_str(),
                              [bench](benchmark::State& state) { streamBench(state, bench); }),
                          size);
            }
        }
        for (const auto& [op, elements] : operations) {
            for (const Element& element : elements) {
                for (const Layout layout : layouts) {
                    const GatewayCase bench{op, element, layout, size};
                    configure(benchmark::RegisterBenchmark(
                                  bench.name().c_str(),
                                  [bench](benchmark::State& state) { gatewayBench(state, bench); }),
                              size);
                    // The reference sweeps run right after the sweep they measure, on the same
                    // input, so that a neighbour's load on this shared machine hits all three.
                    if (bench.name() != "cumsum/double/lastdim/cache") continue;
                    for (const Sweep sweep : {Sweep::Scalar, Sweep::Packed}) {
                        configure(benchmark::RegisterBenchmark(sweepName(sweep).c_str(),
                                                               [sweep](benchmark::State& state) {
                                                                   sweepBench(state, sweep);
                                                               }),
                                  size);
                    }
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerAll();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
