// Calls the strided-view API refuses: the identifier, and the output left as it was.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "gateways/scan.hpp"

namespace {

using tzcumfun::ElementType;
using tzcumfun::ScanOp;

TEST(ScanApi, RefusalsLeaveTheOutputAlone) {
    std::array<double, 16> buffer{};
    buffer.fill(5.0);
    std::array<double, 8> other{};
    std::array<float, 8> single{};
    std::array<std::int32_t, 16> integers{};
    const std::array<std::size_t, 2> extents{2, 3};
    const std::array<std::size_t, 2> wider{2, 4};
    const std::array<std::ptrdiff_t, 2> strides{1, 2};
    const std::array<std::ptrdiff_t, 1> oneStride{1};
    const auto f64 = ElementType::float64;
    void* const odd = reinterpret_cast<char*>(other.data()) + 4;
    const tzcumfun::ConstView in{buffer.data(), f64, false, extents, strides};
    const tzcumfun::View out{other.data(), f64, false, extents, strides};
    const struct {
        ScanOp op;
        tzcumfun::ConstView in;
        tzcumfun::View out;
        const char* identifier;
    } cases[] = {
        {ScanOp::cumsum,
         {integers.data(), ElementType::int32, true, extents, strides},
         {other.data(), ElementType::int32, true, extents, strides},
         "Korvex:cumsum:complexIntegers"},
        {ScanOp::cummax,
         {buffer.data(), ElementType{42}, false, extents, strides},
         out,
         "Korvex:cummax:wrongInput"},
        {ScanOp::cumprod,
         in,
         {single.data(), ElementType::float32, false, extents, strides},
         "Korvex:cumprod:wrongOutput"},
        {ScanOp::cumsum,
         in,
         {other.data(), f64, true, extents, strides},
         "Korvex:cumsum:wrongOutput"},
        {ScanOp::cummin,
         in,
         {other.data(), f64, false, wider, strides},
         "Korvex:cummin:wrongOutput"},
        {ScanOp::cumsum,
         in,
         {buffer.data() + 1, f64, false, extents, strides},
         "Korvex:cumsum:wrongOutput"},
        // A logical sum is double: the input's bytes cannot take it in place.
        {ScanOp::cumsum,
         {buffer.data(), ElementType::logical, false, extents, strides},
         {buffer.data(), f64, false, extents, strides},
         "Korvex:cumsum:wrongOutput"},
        {ScanOp::cumsum,
         in,
         {other.data(), f64, false, extents, oneStride},
         "Korvex:cumsum:wrongView"},
        {ScanOp::cumsum, in, {odd, f64, false, extents, strides}, "Korvex:cumsum:wrongView"},
        {ScanOp::cumsum, in, {nullptr, f64, false, extents, strides}, "Korvex:cumsum:wrongView"},
    };
    for (const auto& refused : cases) {
        const std::vector<double> before(buffer.begin(), buffer.end());
        try {
            tzcumfun::scan(refused.op, refused.in, refused.out);
            ADD_FAILURE() << refused.identifier << ": not refused";
        } catch (const tzcumfun::ScanError& error) {
            EXPECT_EQ(error.identifier(), refused.identifier);
        }
        EXPECT_EQ(std::vector<double>(buffer.begin(), buffer.end()), before) << refused.identifier;
        EXPECT_EQ(other, decltype(other){}) << refused.identifier;
        EXPECT_EQ(single, decltype(single){}) << refused.identifier;
    }
}

}  // namespace
