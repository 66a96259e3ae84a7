// Every operation, class, shape, dimension, direction and NaN flag through the gateways, compared
// bit for bit with the scalar reference, in random call forms and header states, on both sides of
// every serial-or-parallel threshold, and each call again through the strided-view API.
// TZCUMFUN_SEED=<n> replays a run.
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <numeric>
#include <optional>
#include <random>

#include "driver/cpu_level.hpp"
#include "host_support.hpp"
#include "reference.hpp"
#include "scan_views.hpp"

namespace {

using namespace testing_support;
using reference::CumOp;

std::uint64_t suiteSeed() {
    static const std::uint64_t seed = [] {
        const char* fixed = std::getenv("TZCUMFUN_SEED");
        const std::uint64_t value =
            fixed ? std::strtoull(fixed, nullptr, 10) : std::random_device{}();
        std::cout << "differential suite seed: TZCUMFUN_SEED=" << value << "\n";
        return value;
    }();
    return seed;
}

// Values that exercise every rule: specials, limits and ordinary numbers, inexact in binary where
// rounding matters. Complex products get finite parts of moderate size: the mending of non-finite
// products has its own exact cases.
template <class T>
T randomValue(std::mt19937_64& rng, CumOp op) {
    const int kind = std::uniform_int_distribution<int>(0, 19)(rng);
    const int small = std::uniform_int_distribution<int>(-4, 4)(rng);
    if constexpr (std::is_same_v<T, bool>) {
        return kind % 2 == 0;
    } else if constexpr (std::is_integral_v<T>) {
        // Each limit with its neighbour, the middle of the range, and for 64 bits neighbours at
        // 2^53, beyond which double no longer tells integers apart: a rule that compared or
        // added through double would take such neighbours for equal.
        using L = std::numeric_limits<T>;
        constexpr T kWide = sizeof(T) == 8 ? T(T(1) << 53) : T(L::max() / 2 + 1);
        const T special[] = {L::min(),
                             T(L::min() + 1),
                             L::max(),
                             T(L::max() - 1),
                             T(0),
                             T(L::max() / 2 + 1),
                             T(L::max() / 2),
                             kWide,
                             T(kWide + 1),
                             T(L::min() / 2 - L::is_signed)};
        const auto pick =
            std::uniform_int_distribution<std::size_t>(0, 2 * std::size(special))(rng);
        return pick < std::size(special) ? special[pick]
                                         : T(L::is_signed ? 2 * small + kind % 2 : small + 4);
    } else if constexpr (reference::IsComplex<T>::value) {
        using R = typename T::value_type;
        if (op == CumOp::Prod)
            return {R(small) / 4, kind < 6 ? R(kind % 2 ? -0.0 : 0) : R(kind - 13) / 4};
        // Subnormal parts would make phases that differ only in the last bit, where the
        // platform's atan2 (used by the reference) and the library's own may round apart.
        auto part = [&] {
            const R value = randomValue<R>(rng, CumOp::Min);  // exact in binary
            return std::fpclassify(value) == FP_SUBNORMAL ? R(0.5) : value;
        };
        const R re = part();
        return {re, kind < 5 ? R(0) : part()};
    } else {
        using L = std::numeric_limits<T>;
        if (kind == 0) {  // NaN with a payload and either sign, so that payloads are compared too
            using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
            const auto sign = small < 0 ? Bits{1} << (8 * sizeof(T) - 1) : 0;
            return std::bit_cast<T>(std::bit_cast<Bits>(L::quiet_NaN()) | sign |
                                    Bits(rng() % 255 + 1));
        }
        const T special[] = {T(0),        L::infinity(), -L::infinity(),
                             T(-0.0),     T(0),          L::denorm_min() * T(small + 5),
                             L::max() / 2};
        return kind < 7 ? special[kind] : T(small) + T(kind - 13) / T(op == CumOp::Min ? 8 : 7);
    }
}

// An option word as a user may write it: any abbreviation, any case, char row or string.
ArrayHandle optionWord(const std::u16string& word, std::mt19937_64& rng) {
    std::u16string typed = word.substr(0, 1 + rng() % word.size());
    for (auto& unit : typed)
        unit = rng() % 2 ? unit : char16_t(unit - u'a' + u'A');
    return rng() % 2 ? standin::makeChar(typed) : standin::makeString({typed});
}

struct Call {
    CumOp op;
    Dims dims;
    std::size_t dim;  // 0: not given
    bool forward, omit;
    bool climbing = false;  // values that mostly rise along the first dimension
};

// One call through the gateway, written in a random form on an input in a random header state,
// checked against the reference: class, shape, complexity, every output bit, and an input left
// as it was unless the host handed it over as a reusable temporary.
template <class In>
void checkCall(const Call& call, std::mt19937_64& rng) {
    reference::Buffer<In> values(
        std::accumulate(call.dims.begin(), call.dims.end(), std::size_t{1}, std::multiplies<>()));
    for (auto& value : values)
        value = randomValue<In>(rng, call.op);
    // Rising with noise, the running maximum (and in reverse the minimum) changes all along a
    // vector, not only near its start; a rare special value still lands anywhere.
    if constexpr (std::is_arithmetic_v<In> && !std::is_same_v<In, bool>) {
        for (std::size_t elem = 0; call.climbing && elem < values.size(); ++elem) {
            const std::size_t step = elem % call.dims[0];
            if (rng() % 32 != 0) values[elem] = In(step * 100 / call.dims[0] + rng() % 5);
        }
    }
    SCOPED_TRACE(::testing::Message()
                 << nameOf(call.op) << " dims " << ::testing::PrintToString(call.dims) << ", dim "
                 << call.dim << (call.forward ? ", forward" : ", reverse")
                 << (call.omit ? ", omit NaN" : ", include NaN") << ", seed " << suiteSeed());
    const vxComplexity complexity = reference::IsComplex<In>::value ? vxCOMPLEX : vxREAL;
    ArrayHandle input = makeFilled(hostClass<In>(), call.dims, values, complexity);
    const Dims dims = standin::dimsOf(input.get());
    // Double and logical matrices may come sparse, storing what is not zero; the reference then
    // scans what they store, where -0 is no longer there.
    reference::Buffer<In> seen = values;
    const bool sparse = hostClass<In>() <= vxDOUBLE_CLASS && dims.size() == 2 && rng() % 3 == 0;
    for (auto& value : seen)
        value = sparse && value == In{} ? In{} : value;
    if (sparse) input = matrix::convert_to_sparse_if_needed(std::move(input));
    const auto* bytes = static_cast<const unsigned char*>(input->data);
    const std::vector<unsigned char> before(bytes,
                                            bytes + (sparse ? 0 : values.size() * sizeof(In)));
    const bool temporary = rng() % 4 == 0;
    if (temporary) standin::markReusableTemporary(input.get());
    if (rng() % 4 == 0) standin::storeClassIdIndirectly(input.get());
    if (rng() % 4 == 0) standin::deferDimensions(input.get());

    const bool minMax = call.op == CumOp::Min || call.op == CumOp::Max;
    const bool toDouble = std::is_same_v<In, bool> && !minMax;

    std::vector<ArrayHandle> args;
    if (call.dim != 0) args.push_back(scalar(double(call.dim)));
    if (!call.forward || rng() % 2)
        args.push_back(optionWord(call.forward ? u"forward" : u"reverse", rng));
    if (call.omit != minMax || rng() % 2)
        args.insert(args.end() - (rng() % 2 && args.size() > (call.dim != 0)),  // either order
                    optionWord(call.omit ? u"omitnan" : u"includemissing", rng));
    std::vector<const vxArray_tag*> prhs{input.get()};
    for (const auto& array : args)
        prhs.push_back(array.get());
    matrix::ArrayHandle slot;  // an output count of 0 still fills the slot
    ASSERT_NO_THROW(gatewayOf(call.op)(int(rng() % 2), &slot, int(prhs.size()), prhs.data()));
    EXPECT_TRUE(temporary || std::equal(before.begin(), before.end(), bytes)) << "input written";

    std::size_t workDim = call.dim == 0 ? 0 : call.dim - 1;
    while (call.dim == 0 && workDim + 1 < dims.size() && dims[workDim] == 1)
        ++workDim;
    if (call.dim == 0 && dims[workDim] == 1) workDim = 0;
    EXPECT_EQ(standin::dimsOf(slot.get()), dims);
    EXPECT_EQ(standin::isSparse(slot.get()), sparse);
    const auto full = matrix::convert_to_full_if_needed(slot.get());
    const vxArray_tag* result = full.get();
    EXPECT_EQ(standin::classOf(result), toDouble ? vxDOUBLE_CLASS : hostClass<In>());
    ASSERT_EQ(standin::numel(result), values.size());

    auto compare = [&](const auto& expected) {
        using E = typename std::decay_t<decltype(expected)>::value_type;
        // A complex result whose imaginary parts are all zero comes back real.
        bool real = true;
        if constexpr (reference::IsComplex<E>::value) {
            real = std::all_of(expected.begin(), expected.end(), [](E z) { return z.imag() == 0; });
            EXPECT_EQ(standin::isComplex(result), !real);
        }
        EXPECT_EQ(reference::firstDifference(expected, result->data, real, !minMax, sparse),
                  expected.size())
            << "first differing element";
        checkScanViews<In, E>(call.op, seen, dims, call.dim, call.forward, call.omit, result->data,
                              real, sparse, rng);
    };
    if constexpr (std::is_same_v<In, bool>) {
        if (toDouble)
            return compare(
                reference::scan<In, double>(call.op, seen, dims, workDim, call.forward, call.omit));
    }
    compare(reference::scan<In, In>(call.op, seen, dims, workDim, call.forward, call.omit));
}

using ElementTypes =
    ::testing::Types<bool, double, float, std::complex<double>, std::complex<float>, signed char,
                     unsigned char, short, unsigned short, int, unsigned int, long long,
                     unsigned long long>;
// ctest runs the suite once per instruction level, TZCUMFUN_CPU naming it; a level this
// processor lacks is skipped.
template <class T>
class Differential : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* level = std::getenv("TZCUMFUN_CPU");
        if (level != nullptr && tzcumfun::parseCpuLevel(level) > tzcumfun::supportedCpuLevel())
            GTEST_SKIP() << "this processor lacks " << level;
    }
};
TYPED_TEST_SUITE(Differential, ElementTypes);

// Random shapes of one to four dimensions, every working dimension (one past the last too).
TYPED_TEST(Differential, RandomShapesMatchTheReference) {
    std::mt19937_64 rng(suiteSeed() ^ hostClass<TypeParam>());
    const std::size_t lengths[] = {0, 1, 1, 2, 3, 4, 5, 7, 8, 9, 13, 17};
    for (int shape = 0; shape < 40 && !::testing::Test::HasFailure(); ++shape) {
        Dims dims(1 + rng() % 4);
        for (auto& length : dims)
            length = lengths[shape < 3 ? rng() % 12 : 1 + rng() % 11];
        if (dims.size() == 1) dims.insert(dims.begin() + (shape % 2), 1);
        for (const CumOp op : kAllOps) {
            for (std::size_t dim = 0; dim <= dims.size() + 1; ++dim) {
                for (const int flags : {0, 1, 2, 3})
                    checkCall<TypeParam>({op, dims, dim, flags < 2, flags % 2 == 1}, rng);
            }
        }
    }
}

// Long contiguous vectors, whose extremes are scanned a block at a time where a block leaves the
// running value alone: lengths on both sides of whole blocks of every element width. 35 vectors
// fill two groups of tiles of 16 lanes and leave three over.
TYPED_TEST(Differential, LongVectorsChangingAllAlong) {
    std::mt19937_64 rng(suiteSeed() + 3 * hostClass<TypeParam>());
    for (const std::size_t length : {16, 17, 31, 33, 64, 65, 127, 129, 130, 257, 300}) {
        for (const CumOp op : kAllOps) {
            for (const int flags : {0, 1, 2, 3})
                checkCall<TypeParam>({op, {length, 35}, 1, flags < 2, flags % 2 == 1, true}, rng);
        }
    }
}

// Both sides of each serial-or-parallel threshold: 299/300 vectors in the contiguous layout,
// 199/200 rows in the last-dimension layout, 4998/5000 elements in the page layout, and a
// single page of 4999/5000 elements (a dimension past the last, with NaN omitted). Sums and
// products run under upward rounding, which the workers must use as the calling thread does.
TYPED_TEST(Differential, BothSidesOfEveryThreshold) {
    std::mt19937_64 rng(suiteSeed() + 7 * hostClass<TypeParam>());
    const std::pair<Dims, std::size_t> cases[] = {
        {{3, 299}, 1},    {{3, 300}, 1},    {{199, 3}, 2},  {{200, 3}, 2},  {{200, 1, 2}, 2},
        {{2, 3, 833}, 2}, {{2, 4, 625}, 2}, {{4999, 1}, 3}, {{5000, 1}, 3}, {{3, 5000}, 0},
    };
    for (const auto& [dims, dim] : cases) {
        for (const CumOp op : kAllOps) {
            std::fesetround(op == CumOp::Sum || op == CumOp::Prod ? FE_UPWARD : FE_TONEAREST);
            for (const int flags : {0, 1, 2, 3})
                checkCall<TypeParam>({op, dims, dim, flags < 2, flags % 2 == 1}, rng);
        }
    }
    // Large enough that the pool's other threads surely take part.
    for (const auto& [dims, dim] :
         {std::pair<Dims, std::size_t>{{8, 20000}, 1}, {{20000, 8}, 2}, {{8, 8, 2500}, 2}}) {
        if (std::is_floating_point_v<TypeParam>)
            checkCall<TypeParam>({CumOp::Sum, dims, dim, true, false}, rng);
    }
    std::fesetround(FE_TONEAREST);
}

}  // namespace
