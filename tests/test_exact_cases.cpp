// Rules that random data does not reach, checked on the functors and traversals directly: the
// cases of tests/exact_cases.txt, and real parallelism.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "driver/carried.hpp"
#include "driver/cpu_level.hpp"
#include "driver/dispatch.hpp"
#include "functors/complex_order.hpp"
#include "host_support.hpp"
#include "reference.hpp"

namespace tzcumfun {
namespace {

// Bit for bit, except that an expected NaN matches any NaN.
template <class T>
bool same(T actual, T expected) {
    return reference::same(expected, actual, true, false);
}

// combine(prev, x) of the functor the gateways pick for `op` and `nanFlag`, as the carried scan
// runs it at the level in use: one element continued from the running value prev.
template <class E>
E combined(CumOp op, std::uint8_t nanFlag, E prev, E x) {
    E out{};
    carriedScan(op, testing_support::hostClass<E>(), reference::IsComplex<E>::value, nanFlag,
                {{true, 1, 1, 1}, &x, &out, &prev});
    return out;
}

// One line of the table after its kind and type: numbers up to a comment.
template <class T>
void checkRow(const std::string& kind, std::istringstream& line) {
    std::vector<T> v;
    for (std::string word; line >> word && word[0] != '#';)
        v.push_back(static_cast<T>(std::strtold(word.c_str(), nullptr)));
    if constexpr (std::is_floating_point_v<T>) {
        using C = std::complex<T>;
        if (kind == "product") {
            ASSERT_EQ(v.size(), 6U);
            const C a(v[0], v[1]), b(v[2], v[3]), expected(v[4], v[5]);
            for (const std::uint8_t nanFlag : {0, 1})  // NaN included, omitted
                EXPECT_TRUE(same(combined(CumOp::Prod, nanFlag, a, b), expected)) << +nanFlag;
        } else if (kind == "polar") {
            ASSERT_EQ(v.size(), 4U);
            EXPECT_TRUE(same(complexMagnitude(C(v[0], v[1])), v[2]));
            EXPECT_TRUE(same(complexPhase(C(v[0], v[1])), v[3]));
        } else {
            ASSERT_EQ(v.size(), 4U);
            const C lower(v[0], v[1]), upper(v[2], v[3]);
            for (const CumOp op : {CumOp::Max, CumOp::Min}) {
                const C kept = op == CumOp::Max ? upper : lower;
                for (const std::uint8_t nanFlag : {0, 1}) {  // NaN carried, passed over
                    EXPECT_TRUE(same(combined(op, nanFlag, lower, upper), kept)) << +nanFlag;
                    EXPECT_TRUE(same(combined(op, nanFlag, upper, lower), kept)) << +nanFlag;
                }
            }
        }
    } else {
        ASSERT_EQ(v.size(), 3U);
        EXPECT_EQ(combined(CumOp::Prod, 0, v[0], v[1]), v[2]);
    }
}

// The table at every instruction level, each forced in turn; levels this processor lacks are
// skipped.
class ExactCases : public ::testing::TestWithParam<CpuLevel> {
  protected:
    void SetUp() override {
        if (GetParam() > supportedCpuLevel()) GTEST_SKIP() << "a level this processor lacks";
        forceCpuLevel(GetParam());
    }
    void TearDown() override { forceCpuLevel(std::nullopt); }
};
INSTANTIATE_TEST_SUITE_P(Levels, ExactCases,
                         ::testing::Values(CpuLevel::Baseline, CpuLevel::V3, CpuLevel::V4),
                         [](const auto& info) { return std::string(cpuLevelName(info.param)); });

TEST_P(ExactCases, EveryCaseOfTheTableHolds) {
    EXPECT_EQ(cpuLevelName(activeCpuLevel()), cpuLevelName(GetParam()));
    std::ifstream file(TZCUMFUN_TESTS_DIR "/exact_cases.txt");
    int cases = 0;
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        std::istringstream line(text);
        std::string kind, type;
        if (!(line >> kind >> type) || kind[0] == '#') continue;
        SCOPED_TRACE("exact_cases.txt line " + std::to_string(number) + ": " + text);
        ++cases;
        if (type == "double") checkRow<double>(kind, line);
        if (type == "single") checkRow<float>(kind, line);
        if (type == "int64") checkRow<long long>(kind, line);
        if (type == "uint64") checkRow<unsigned long long>(kind, line);
    }
    EXPECT_GT(cases, 100);
}

// A level is forced only where the processor has it, and TZCUMFUN_CPU takes only the level words.
TEST(CpuLevels, RefusedAboveTheProcessorAndUnknownWords) {
    for (const CpuLevel level : {CpuLevel::Baseline, CpuLevel::V3, CpuLevel::V4}) {
        EXPECT_EQ(parseCpuLevel(cpuLevelName(level)), level);
        if (level > supportedCpuLevel()) {
            EXPECT_THROW(forceCpuLevel(level), CpuLevelError);
        }
    }
    for (const char* word : {"", "V3", "avx2", "v4 ", "x86-64-v3"})
        EXPECT_THROW(parseCpuLevel(word), CpuLevelError) << word;
}

// Records which threads ran the element loop; the functor itself stays empty.
std::mutex gThreadsMutex;
std::set<std::thread::id> gThreads;
struct ThreadRecordingSum {
    static double init(double x) {
        const std::lock_guard<std::mutex> lock(gThreadsMutex);
        gThreads.insert(std::this_thread::get_id());
        return x;
    }
    static double combine(double prev, double x) { return prev + x; }
};

// Each layout at its own tuning, far above its threshold. The pool's second thread may be slow
// to wake on a loaded machine; a few tries suffice.
TEST(Traversal, ParallelPathsRunOnSeveralThreads) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core";
    constexpr std::size_t kLen = 64, kRows = 4096, kPages = 8;
    const std::vector<double> in(kLen * kRows * kPages, 1.0);
    std::vector<double> out(in.size());
    const ThreadRecordingSum sum;
    for (int layout = 0; layout < 3; ++layout) {
        gThreads.clear();
        for (int attempt = 0; attempt < 20 && gThreads.size() < 2; ++attempt) {
            layout == 0   ? runCumMatrix(true, in.data(), out.data(), kLen, kRows * kPages,
                                         kContiguousTuning, sum)
            : layout == 1 ? runCumStrideMatrix(true, in.data(), out.data(), kLen, kRows * kPages,
                                               kLastDimTuning, sum)
                          : runPageStrideMatrix(true, in.data(), out.data(), kRows, kLen, kPages,
                                                kPageTuning, sum);
        }
        EXPECT_GE(gThreads.size(), 2U) << "layout " << layout << " never ran in parallel";
    }
}

}  // namespace
}  // namespace tzcumfun
