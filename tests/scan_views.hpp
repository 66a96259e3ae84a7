// The gateway's call again through tzcumfun::scan, input and output each column-major, row-major,
// in any order of the axes, every other element, or in place: each must give the gateway's bits.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "gateways/scan.hpp"
#include "host_support.hpp"
#include "reference.hpp"

namespace testing_support {

// Strides of a random layout of `dims`, and the elements its span holds.
inline std::vector<std::ptrdiff_t> randomStrides(const Dims& dims, std::size_t& span,
                                                 std::mt19937_64& rng) {
    const auto kind = rng() % 4;  // column-major, row-major, any order, every other element
    std::vector<std::size_t> order(dims.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (kind == 1) std::reverse(order.begin(), order.end());
    if (kind >= 2) std::shuffle(order.begin(), order.end(), rng);
    std::vector<std::ptrdiff_t> strides(dims.size());
    span = kind == 3 ? 2 : 1;
    for (const std::size_t axis : order) {
        strides[axis] = static_cast<std::ptrdiff_t>(span);
        span *= dims[axis];
    }
    return strides;
}

inline std::ptrdiff_t offsetOf(std::size_t at, const Dims& dims,
                               const std::vector<std::ptrdiff_t>& strides) {
    std::ptrdiff_t offset = 0;
    for (std::size_t axis = 0; axis < dims.size(); at /= dims[axis++])
        offset += static_cast<std::ptrdiff_t>(at % dims[axis]) * strides[axis];
    return offset;
}

// `values` (column-major in `dims`) scanned through the API; `gateway` is the gateway's result,
// real where the host dropped all-zero imaginary parts.
template <class In, class Out>
void checkScanViews(tzcumfun::CumOp op, const reference::Buffer<In>& values, const Dims& dims,
                    std::size_t dim, bool forward, bool omit, const void* gateway, bool real,
                    bool sparse, std::mt19937_64& rng) {
    const bool minMax = op == tzcumfun::CumOp::Min || op == tzcumfun::CumOp::Max;
    std::size_t inSpan = 0, outSpan = 0;
    const auto inStrides = randomStrides(dims, inSpan, rng);
    const std::unique_ptr<In[]> in(new In[inSpan]());
    for (std::size_t at = 0; at < values.size(); ++at)
        in[offsetOf(at, dims, inStrides)] = values[at];
    const bool inPlace = std::is_same_v<In, Out> && rng() % 4 == 0;
    const auto outStrides = inPlace ? inStrides : randomStrides(dims, outSpan, rng);
    const std::unique_ptr<Out[]> outBuffer(new Out[outSpan]);
    std::fill_n(outBuffer.get(), outSpan, Out(7));
    Out* out = inPlace ? reinterpret_cast<Out*>(in.get()) : outBuffer.get();
    const bool byDefault = omit == minMax && rng() % 2;
    const tzcumfun::ScanOptions options{
        dim == 0 ? std::nullopt : std::optional<std::size_t>(dim - 1), !forward,
        byDefault ? tzcumfun::NaNRule::byDefault
                  : (omit ? tzcumfun::NaNRule::omit : tzcumfun::NaNRule::include)};
    constexpr bool kComplex = reference::IsComplex<In>::value;
    const auto type = [](vxClassID id) {  // logical, then double ... uint64 in the host's order
        return tzcumfun::ElementType(id == vxLOGICAL_CLASS ? 0 : 1 + id - vxDOUBLE_CLASS);
    };
    tzcumfun::scan(static_cast<tzcumfun::ScanOp>(op),
                   {in.get(), type(hostClass<In>()), kComplex, dims, inStrides},
                   {out, type(hostClass<Out>()), kComplex, dims, outStrides}, options);
    reference::Buffer<Out> scanned(values.size());
    for (std::size_t at = 0; at < values.size(); ++at)
        scanned[at] = std::exchange(out[offsetOf(at, dims, outStrides)], Out(7));
    EXPECT_TRUE(std::all_of(outBuffer.get(), outBuffer.get() + outSpan, [](Out x) {
        return reference::same(x, Out(7), false, false);
    })) << "written outside the output's elements";
    EXPECT_EQ(reference::firstDifference(scanned, gateway, real, !minMax, sparse), scanned.size())
        << "the API's first element differing from the gateway's, strides "
        << ::testing::PrintToString(inStrides) << " into " << ::testing::PrintToString(outStrides);
}

}  // namespace testing_support
