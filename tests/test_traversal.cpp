// The three traversals called directly: serial against parallel, in place against out of place,
// real parallelism, and the caller's floating-point settings reaching the workers.
#include <gtest/gtest.h>

#include <xmmintrin.h>
#include <cfenv>
#include <complex>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "driver/dispatch.hpp"
#include "functors/minmax.hpp"
#include "functors/prod.hpp"
#include "functors/sum.hpp"

namespace {

using namespace tzcumfun;

constexpr TuningPair kSerial{~std::uint64_t{0}, 1};
constexpr TuningPair kParallel{0, 1};  // parallel from the first vector, chunks of one

// The three layouts under one signature, so every property runs on each.
enum class Layout { Contiguous, LastDim, Page };
constexpr Layout kLayouts[] = {Layout::Contiguous, Layout::LastDim, Layout::Page};

struct Geometry {
    std::size_t dimLen;
    std::size_t nvec;   // vectors (contiguous), rows (last dimension), or rows per page
    std::size_t pages;  // page layout only
    [[nodiscard]] std::size_t size() const { return dimLen * nvec * pages; }
};

template <class Ftor, class In, class Out>
void runIn(Layout layout, bool forward, const In* in, Out* out, const Geometry& g,
           const TuningPair& tuning) {
    switch (layout) {
        case Layout::Contiguous:
            return runCumMatrix(forward, in, out, g.dimLen, g.nvec * g.pages, tuning, Ftor{});
        case Layout::LastDim:
            return runCumStrideMatrix(forward, in, out, g.dimLen, g.nvec * g.pages, tuning, Ftor{});
        case Layout::Page:
            return runPageStrideMatrix(forward, in, out, g.nvec, g.dimLen, g.pages, tuning, Ftor{});
    }
}

template <class T>
std::vector<T> randomData(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<T> data(count);
    for (auto& value : data) {
        if constexpr (std::is_floating_point_v<T>) {
            value = std::uniform_real_distribution<T>(-2, 2)(rng);
        } else {
            value = static_cast<T>(rng());
        }
    }
    return data;
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

template <class Ftor, class T>
void expectSerialParallelInPlaceAgree(const Geometry& g) {
    const auto input = randomData<T>(g.size(), g.size());
    for (const Layout layout : kLayouts) {
        for (const bool forward : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "layout " << static_cast<int>(layout)
                                              << (forward ? " forward" : " reverse"));
            std::vector<T> serial(g.size());
            std::vector<T> parallel(g.size());
            runIn<Ftor>(layout, forward, input.data(), serial.data(), g, kSerial);
            runIn<Ftor>(layout, forward, input.data(), parallel.data(), g, kParallel);
            EXPECT_TRUE(sameBits(serial, parallel)) << "serial and parallel differ";
            std::vector<T> inPlace = input;
            runIn<Ftor>(layout, forward, inPlace.data(), inPlace.data(), g, kParallel);
            EXPECT_TRUE(sameBits(serial, inPlace)) << "in place differs";
            std::vector<T> inPlaceSerial = input;
            runIn<Ftor>(layout, forward, inPlaceSerial.data(), inPlaceSerial.data(), g, kSerial);
            EXPECT_TRUE(sameBits(serial, inPlaceSerial)) << "serial in place differs";
        }
    }
}

TEST(Traversal, SerialParallelAndInPlaceAgreeBitForBit) {
    for (const Geometry g :
         {Geometry{1, 37, 3}, Geometry{7, 129, 5}, Geometry{33, 3, 17}, Geometry{2, 300, 1}}) {
        expectSerialParallelInPlaceAgree<SumFtorFloat<double>, double>(g);
        expectSerialParallelInPlaceAgree<SumFtorFloat<float>, float>(g);
        expectSerialParallelInPlaceAgree<SumFtorInt<signed char>, signed char>(g);
        expectSerialParallelInPlaceAgree<ProdFtorInt<long long>, long long>(g);
        expectSerialParallelInPlaceAgree<MaxFtorFloat<double>, double>(g);
        expectSerialParallelInPlaceAgree<MinFtorInt<unsigned short>, unsigned short>(g);
    }
}

TEST(Traversal, ReverseRestartsAtEveryVectorAndPage) {
    // [1 2 3 4] in every vector: forward 1 3 6 10, reverse 10 9 7 4, whatever the layout.
    const Geometry g{4, 3, 2};
    for (const Layout layout : kLayouts) {
        std::vector<double> in(g.size());
        for (std::size_t at = 0; at < in.size(); ++at) {
            const std::size_t rows = layout == Layout::LastDim ? g.nvec * g.pages : g.nvec;
            const std::size_t k = layout == Layout::Contiguous ? at % 4 : (at / rows) % 4;
            in[at] = static_cast<double>(k + 1);
        }
        std::vector<double> out(g.size());
        runIn<SumFtorFloat<double>>(layout, false, in.data(), out.data(), g, kParallel);
        for (std::size_t at = 0; at < in.size(); ++at) {
            const double expected[] = {10, 9, 7, 4};
            ASSERT_EQ(out[at], expected[static_cast<int>(in[at]) - 1]) << "at " << at;
        }
    }
}

// Records which threads ran the element loop; the functor itself stays empty.
std::mutex gThreadsMutex;
std::set<std::thread::id> gThreads;

struct ThreadRecordingSum {
    static void record() {
        const std::lock_guard<std::mutex> lock(gThreadsMutex);
        gThreads.insert(std::this_thread::get_id());
    }
    static double init(double x) {
        record();
        return x;
    }
    static double combine(double prev, double x) { return prev + x; }
};

TEST(Traversal, ParallelPathsRunOnSeveralThreads) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core";
    const Geometry g{64, 4096, 8};
    const std::vector<double> in(g.size(), 1.0);
    std::vector<double> out(g.size());
    for (const Layout layout : kLayouts) {
        std::size_t seen = 0;
        // The pool's second thread may be slow to wake on a loaded machine; a few tries suffice.
        for (int attempt = 0; attempt < 20 && seen < 2; ++attempt) {
            gThreads.clear();
            runIn<ThreadRecordingSum>(layout, true, in.data(), out.data(), g,
                                      layout == Layout::Page      ? kPageTuning
                                      : layout == Layout::LastDim ? kLastDimTuning
                                                                  : kContiguousTuning);
            seen = gThreads.size();
        }
        EXPECT_GE(seen, 2U) << "layout " << static_cast<int>(layout) << " never ran in parallel";
    }
}

// Large enough that the pool's other thread surely takes part.
constexpr Geometry kSettingsGeometry{16, 4096, 8};

// Runs the parallel scan under the given settings and compares it with the serial scan under
// the same settings; the data is chosen so the settings change the result.
template <class T>
void expectSettingsReachWorkers(const std::vector<T>& input, void (*apply)(), void (*restore)()) {
    const Geometry g = kSettingsGeometry;
    ASSERT_EQ(input.size(), g.size());
    for (const Layout layout : kLayouts) {
        std::vector<T> nearest(g.size());
        runIn<SumFtorFloat<T>>(layout, true, input.data(), nearest.data(), g, kSerial);
        apply();
        std::vector<T> serial(g.size());
        std::vector<T> parallel(g.size());
        runIn<SumFtorFloat<T>>(layout, true, input.data(), serial.data(), g, kSerial);
        runIn<SumFtorFloat<T>>(layout, true, input.data(), parallel.data(), g, kParallel);
        restore();
        EXPECT_FALSE(sameBits(nearest, serial)) << "the settings change nothing on this data";
        EXPECT_TRUE(sameBits(serial, parallel)) << "layout " << static_cast<int>(layout);
    }
}

TEST(Traversal, RoundingModeReachesTheWorkers) {
    expectSettingsReachWorkers<double>(
        randomData<double>(kSettingsGeometry.size(), 11), [] { std::fesetround(FE_UPWARD); },
        [] { std::fesetround(FE_TONEAREST); });
}

unsigned gSavedCsr = 0;

TEST(Traversal, FlushToZeroAndDenormalsAreZeroReachTheWorkers) {
    std::vector<float> tiny(kSettingsGeometry.size());
    std::mt19937 rng(5);
    for (auto& value : tiny) {
        value = std::numeric_limits<float>::denorm_min() *
                static_cast<float>(std::uniform_int_distribution<int>(-900, 900)(rng));
    }
    expectSettingsReachWorkers<float>(
        tiny,
        [] {
            gSavedCsr = _mm_getcsr();
            _mm_setcsr(gSavedCsr | 0x8040);  // flush-to-zero and denormals-are-zero
        },
        [] { _mm_setcsr(gSavedCsr); });
}

}  // namespace
