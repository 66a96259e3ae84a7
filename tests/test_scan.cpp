// Calls the strided-view API refuses: the identifier, and the output left as it was.
#include <gtest/gtest.h>

#include <array>
#include <span>

#include "gateways/scan.hpp"

namespace {

using tzcumfun::ElementType;
using tzcumfun::ScanOp;

TEST(ScanApi, RefusalsLeaveTheOutputAlone) {
    std::array<double, 16> input{};
    input.fill(1.0);
    const auto kept = input;
    std::array<double, 8> other{};
    const std::array<std::size_t, 2> extents{2, 3};
    const std::array<std::size_t, 2> wider{2, 4};
    const std::array<std::ptrdiff_t, 2> strides{1, 2};
    const auto f64 = ElementType::float64;
    void* const odd = reinterpret_cast<char*>(other.data()) + 4;
    const tzcumfun::ConstView in{input.data(), f64, false, extents, strides};
    const tzcumfun::View out{other.data(), f64, false, extents, strides};
    const auto i32 = ElementType::int32;
    const std::span<const std::ptrdiff_t> oneStride = std::span(strides).first(1);
    // clang-format off
    const struct {
        ScanOp op;
        tzcumfun::ConstView in;
        tzcumfun::View out;
        const char* identifier;
    } cases[] = {
        {ScanOp::cumsum, {input.data(), i32, true, extents, strides},
            {other.data(), i32, true, extents, strides}, "Korvex:cumsum:complexIntegers"},
        {ScanOp::cummax, {input.data(), ElementType{42}, false, extents, strides}, out,
            "Korvex:cummax:wrongInput"},
        {ScanOp::cumprod, in, {other.data(), ElementType::float32, false, extents, strides},
            "Korvex:cumprod:wrongOutput"},
        {ScanOp::cummin, in, {other.data(), f64, false, wider, strides},
            "Korvex:cummin:wrongOutput"},
        {ScanOp::cumsum, in, {input.data() + 1, f64, false, extents, strides},
            "Korvex:cumsum:wrongOutput"},
        // A logical sum is double: the input's bytes cannot take it in place.
        {ScanOp::cumsum, {input.data(), ElementType::logical, false, extents, strides},
            {input.data(), f64, false, extents, strides}, "Korvex:cumsum:wrongOutput"},
        {ScanOp::cumsum, in, {other.data(), f64, false, extents, oneStride},
            "Korvex:cumsum:wrongView"},
        {ScanOp::cumsum, in, {odd, f64, false, extents, strides}, "Korvex:cumsum:wrongView"},
        {ScanOp::cumsum, in, {nullptr, f64, false, extents, strides}, "Korvex:cumsum:wrongView"},
    };
    // clang-format on
    for (const auto& refused : cases) {
        try {
            tzcumfun::scan(refused.op, refused.in, refused.out);
            ADD_FAILURE() << refused.identifier << ": not refused";
        } catch (const tzcumfun::ScanError& error) {
            EXPECT_EQ(error.identifier(), refused.identifier);
        }
        EXPECT_EQ(input, kept) << refused.identifier;
        EXPECT_EQ(other, decltype(other){}) << refused.identifier;
    }
}

}  // namespace
