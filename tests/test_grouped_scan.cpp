// Vectors scanned side by side in groups give the bits of the same vectors scanned one at a time.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <random>
#include "functors/minmax.hpp"
#include "functors/prod.hpp"
#include "functors/sum.hpp"
#include "traversal/contiguous.hpp"
using namespace tzcumfun;

// Fewer vectors than a group, whole groups, left-over vectors, short and long vectors, NaNs, signed
// zeros, integers of every bit pattern (so sums and products saturate); forward runs in place.
template <class Ftor, class T>
void expectGroupsMatchSingleVectors() {
    std::mt19937_64 rng(7);
    const double specials[] = {NAN, -0.0, 0.0, 1e300, -1e300, 3.0, -2.5};
    const std::size_t shapes[][2] = {{1, 5}, {3, 4}, {4, 3}, {4, 4}, {5, 11}, {33, 5}, {33, 9}};
    for (const auto& [dimLen, count] : shapes) {
        std::vector<T> in(dimLen * count);
        for (T& value : in)
            value = std::is_floating_point_v<T> ? T(specials[rng() % 7]) : T(rng());
        for (const bool forward : {true, false}) {
            std::vector<T> single(in.size()), grouped = forward ? in : std::vector<T>(in.size());
            for (std::size_t vec = 0; vec < count; ++vec)
                scanCumMatrix(forward, &in[vec * dimLen], &single[vec * dimLen], dimLen, 1, Ftor{});
            const T* source = forward ? grouped.data() : in.data();
            scanCumMatrix(forward, source, grouped.data(), dimLen, count, Ftor{});
            EXPECT_EQ(std::memcmp(single.data(), grouped.data(), in.size() * sizeof(T)), 0)
                << dimLen << " x " << count << (forward ? " forward" : " reverse");
        }
    }
}

TEST(GroupedScan, MatchesSingleVectors) {
    expectGroupsMatchSingleVectors<SumNaNFtor<double>, double>();
    expectGroupsMatchSingleVectors<MaxNaNFtor<float>, float>();
    expectGroupsMatchSingleVectors<SumFtorInt<signed char>, signed char>();
    expectGroupsMatchSingleVectors<ProdFtorInt<long long>, long long>();
}
