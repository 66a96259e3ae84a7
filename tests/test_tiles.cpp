// Tiles of every width any instruction level uses, against the one-vector loop, on any processor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "functors/prod.hpp"
#include "functors/sum.hpp"
#include "traversal/contiguous.hpp"

namespace {

using namespace tzcumfun;

// One tile of `kRowBytes` registers over lengths on both sides of whole tiles, in place and into
// another buffer, bit for bit against the vectors scanned one at a time. The inputs are fractions,
// so that any regrouping of a sum or product shows in the last bits; NaN-omitting rules also get
// NaNs to pass over.
template <class T, class Ftor, std::size_t kRowBytes, bool kForward>
void checkTile(std::mt19937_64& rng) {
    constexpr std::size_t kLanes = kRowBytes / sizeof(T);
    constexpr bool kOmits =
        std::is_same_v<Ftor, SumNaNFtor<T>> || std::is_same_v<Ftor, ProdNaNFtor<T>>;
    std::uniform_real_distribution<T> value(T(-2), T(2));
    for (const std::size_t dimLen : {std::size_t{1}, std::size_t{2}, kLanes, kLanes + 1, kLanes + 2,
                                     2 * kLanes + 1, 3 * kLanes + 5}) {
        std::vector<T> in(kLanes * dimLen);
        for (T& x : in)
            x = kOmits && rng() % 5 == 0 ? std::numeric_limits<T>::quiet_NaN() : value(rng);
        std::vector<T> expected(in.size());
        std::vector<T> tiled(in.size());
        std::vector<T> inPlace = in;
        scanVectors(kForward, in.data(), expected.data(), dimLen, kLanes, Ftor{});
        scanTileGroup<kForward, Ftor, T, kRowBytes>(in.data(), tiled.data(), dimLen, Ftor{});
        scanTileGroup<kForward, Ftor, T, kRowBytes>(inPlace.data(), inPlace.data(), dimLen, Ftor{});
        const std::size_t bytes = in.size() * sizeof(T);
        EXPECT_EQ(std::memcmp(expected.data(), tiled.data(), bytes), 0)
            << kLanes << " lanes, length " << dimLen << (kForward ? ", forward" : ", reverse");
        EXPECT_EQ(std::memcmp(expected.data(), inPlace.data(), bytes), 0)
            << kLanes << " lanes, length " << dimLen << (kForward ? ", forward" : ", reverse")
            << ", in place";
    }
}

template <class T, template <class> class... Ftors>
void checkEveryWidth(std::mt19937_64& rng) {
    // 16 bytes: the baseline and arm64; 32: x86-64-v3; 64: x86-64-v4.
    (checkTile<T, Ftors<T>, 16, true>(rng), ...);
    (checkTile<T, Ftors<T>, 16, false>(rng), ...);
    (checkTile<T, Ftors<T>, 32, true>(rng), ...);
    (checkTile<T, Ftors<T>, 32, false>(rng), ...);
    (checkTile<T, Ftors<T>, 64, true>(rng), ...);
    (checkTile<T, Ftors<T>, 64, false>(rng), ...);
}

TEST(Tiles, EveryWidthMatchesTheOneVectorLoop) {
    constexpr std::uint64_t kSeed = 0x7113;
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937_64 rng(kSeed);
    checkEveryWidth<float, SumFtorFloat, SumNaNFtor, ProdFtorFloat, ProdNaNFtor>(rng);
    checkEveryWidth<double, SumFtorFloat, SumNaNFtor, ProdFtorFloat, ProdNaNFtor>(rng);
}

}  // namespace
