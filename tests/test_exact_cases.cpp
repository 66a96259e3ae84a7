// Rules that random data does not reach, checked on the functors and traversals directly: the
// cases of tests/exact_cases.txt, and real parallelism.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "driver/dispatch.hpp"
#include "functors/minmax.hpp"
#include "functors/prod.hpp"
#include "functors/sum.hpp"
#include "reference.hpp"

namespace tzcumfun {
namespace {

// Bit for bit, except that an expected NaN matches any NaN.
template <class T>
bool same(T actual, T expected) {
    return reference::same(expected, actual, true, false);
}

// Functors in the order maximum, maximum carrying NaN, minimum, minimum carrying NaN.
template <class T>
using Combine = std::complex<T> (*)(std::complex<T>, std::complex<T>);
template <class T>
constexpr Combine<T> kExtremes[] = {MaxFtorFloat<T>::combine, MaxNaNFtor<T>::combine,
                                    MinFtorFloat<T>::combine, MinNaNFtor<T>::combine};

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
            EXPECT_TRUE(same(ProdFtorFloat<T>::combine(a, b), expected));
            EXPECT_TRUE(same(ProdNaNFtor<T>::combine(a, b), expected));
        } else if (kind == "polar") {
            ASSERT_EQ(v.size(), 4U);
            EXPECT_TRUE(same(complexMagnitude(C(v[0], v[1])), v[2]));
            EXPECT_TRUE(same(complexPhase(C(v[0], v[1])), v[3]));
        } else {
            ASSERT_EQ(v.size(), 4U);
            const C lower(v[0], v[1]), upper(v[2], v[3]);
            for (int which = 0; which < 4; ++which) {
                const C kept = which < 2 ? upper : lower;
                EXPECT_TRUE(same(kExtremes<T>[which](lower, upper), kept)) << "functor " << which;
                EXPECT_TRUE(same(kExtremes<T>[which](upper, lower), kept)) << "functor " << which;
            }
        }
    } else {
        ASSERT_EQ(v.size(), 3U);
        EXPECT_EQ(ProdFtorInt<T>::combine(v[0], v[1]), v[2]);
    }
}

TEST(ExactCases, EveryCaseOfTheTableHolds) {
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
