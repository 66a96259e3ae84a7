// Every operation, class, shape, dimension, direction and NaN flag through the gateways, compared
// bit for bit with the scalar reference. TZCUMFUN_SEED=<n> replays a run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <tuple>

#include "host_support.hpp"
#include "reference.hpp"

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

// The host class of an element type. The integer classes run int8, uint8, int16, ... uint64.
template <class T>
constexpr vxClassID hostClass() {
    if constexpr (reference::IsComplex<T>::value) {
        return hostClass<typename T::value_type>();
    } else if constexpr (std::is_same_v<T, bool>) {
        return vxLOGICAL_CLASS;
    } else if constexpr (std::is_same_v<T, double>) {
        return vxDOUBLE_CLASS;
    } else if constexpr (std::is_same_v<T, float>) {
        return vxSINGLE_CLASS;
    } else {
        constexpr int sizeRank = sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : sizeof(T) == 4 ? 2 : 3;
        return static_cast<vxClassID>(vxINT8_CLASS + 2 * sizeRank +
                                      (std::is_unsigned_v<T> ? 1 : 0));
    }
}
static_assert(hostClass<unsigned short>() == vxUINT16_CLASS &&
              hostClass<long long>() == vxINT64_CLASS);

// Values that exercise every rule: specials, limits and ordinary numbers. Complex products get
// finite parts of moderate size: the mending of non-finite products has its own table test.
template <class T>
T randomValue(std::mt19937_64& rng, CumOp op) {
    std::uniform_int_distribution<int> pick(0, 19);
    const int kind = pick(rng);
    if constexpr (std::is_same_v<T, bool>) {
        return kind % 2 == 0;
    } else if constexpr (std::is_integral_v<T>) {
        using L = std::numeric_limits<T>;
        switch (kind) {
            case 0:
                return L::min();
            case 1:
                return L::max();
            case 2:
                return T(0);
            case 3:
                return T(L::max() / 2 + 1);
            case 4:
                return T(L::min() / 2 - (L::is_signed ? 1 : 0));
            default:
                return T(std::uniform_int_distribution<int>(L::is_signed ? -9 : 0, 9)(rng));
        }
    } else if constexpr (reference::IsComplex<T>::value) {
        using R = typename T::value_type;
        if (op == CumOp::Prod) {
            std::uniform_int_distribution<int> part(-6, 6);
            const R im = kind < 6 ? (kind % 2 ? R(-0.0) : R(0)) : R(part(rng)) / 4;
            return {R(part(rng)) / 4, im};
        }
        // Minima and maxima rank equal magnitudes by phase; subnormal parts would make phases
        // that differ only in the last bit, where the platform's atan2 (used by the reference)
        // and the library's own may round apart. The magnitude and phase routines have their
        // own comparison with the platform's.
        auto part = [&] {
            R value = randomValue<R>(rng, CumOp::Min);
            return std::fpclassify(value) == FP_SUBNORMAL ? R(0.5) : value;
        };
        const R re = part();
        const R im = kind < 5 ? R(0) : part();
        return {re, im};
    } else {
        using L = std::numeric_limits<T>;
        std::uniform_int_distribution<int> small(-4, 4);
        switch (kind) {
            case 0: {  // NaN with a payload, so that payloads are compared too
                std::uint64_t bits = 0;
                T value = L::quiet_NaN();
                std::memcpy(&bits, &value, sizeof(T));
                bits |= std::uniform_int_distribution<std::uint64_t>(1, 255)(rng);
                if (kind % 2 == 0 && pick(rng) < 10)
                    bits |= std::uint64_t{1} << (8 * sizeof(T) - 1);
                std::memcpy(&value, &bits, sizeof(T));
                return value;
            }
            case 1:
                return L::infinity();
            case 2:
                return -L::infinity();
            case 3:
                return T(-0.0);
            case 4:
                return T(0);
            case 5:
                return L::denorm_min() * T(small(rng) + 5);
            case 6:
                return L::max() / T(2);
            default:
                return T(small(rng)) + T(small(rng)) / T(8);
        }
    }
}

std::string hexBytes(const void* bytes, std::size_t count) {
    std::string text;
    char digits[3];
    for (std::size_t at = count; at-- > 0;) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<const unsigned char*>(bytes)[at]);
        text += digits;
    }
    return text;
}

bool isNaNBits(const unsigned char* bytes, std::size_t size) {
    if (size == sizeof(double)) {
        double value = 0;
        std::memcpy(&value, bytes, size);
        return std::isnan(value);
    }
    if (size == sizeof(float)) {
        float value = 0;
        std::memcpy(&value, bytes, size);
        return std::isnan(value);
    }
    return false;
}

// One call through the gateway, checked against the reference: class, shape, sparsity, and
// every output bit. A complex result whose imaginary parts are all zero comes back real.
template <class In>
void checkCall(CumOp op, const Dims& dims, std::size_t dimArg, bool forward, bool omit,
               std::mt19937_64& rng) {
    std::size_t count = 1;
    for (std::size_t d : dims)
        count *= d;
    reference::Buffer<In> values(count);
    for (auto& value : values)
        value = randomValue<In>(rng, op);
    const bool complexIn = reference::IsComplex<In>::value;
    const ArrayHandle input =
        makeFilled(hostClass<In>(), dims, values, complexIn ? vxCOMPLEX : vxREAL);
    const Dims hostDims = standin::dimsOf(input.get());

    const CallOutcome outcome =
        callWith(op, input.get(), static_cast<double>(dimArg),
                 {forward ? u"forward" : u"reverse", omit ? u"omitnan" : u"includenan"});
    ASSERT_FALSE(outcome.threw) << outcome.identifier;
    const vxArray_tag* result = outcome.result.get();

    std::size_t workDim = dimArg == 0 ? 0 : dimArg - 1;
    if (dimArg == 0) {
        while (workDim < hostDims.size() && hostDims[workDim] == 1)
            ++workDim;
        if (workDim == hostDims.size()) workDim = 0;
    }
    const bool toDouble = std::is_same_v<In, bool> && (op == CumOp::Sum || op == CumOp::Prod);
    EXPECT_EQ(standin::dimsOf(result), hostDims);
    EXPECT_FALSE(standin::isSparse(result));

    auto compare = [&](const auto& expected) {
        using E = typename std::decay_t<decltype(expected)>::value_type;
        bool realResult = true;
        if constexpr (reference::IsComplex<E>::value) {
            for (const auto& z : expected)
                realResult = realResult && z.imag() == 0;
            EXPECT_EQ(standin::isComplex(result), !realResult);
        }
        ASSERT_EQ(standin::numel(result), expected.size());
        // When two NaNs meet in a sum or product the hardware picks which payload survives (the
        // compiler may order the operands either way), so there any NaN matches any NaN. Minima
        // and maxima return one of their inputs whole, so their NaNs must match to the bit.
        const bool anyNaN = op == CumOp::Sum || op == CumOp::Prod;
        for (std::size_t elem = 0; elem < expected.size(); ++elem) {
            const auto* want = reinterpret_cast<const unsigned char*>(&expected[elem]);
            std::size_t partBytes = sizeof(E);
            std::size_t parts = 1;
            if constexpr (reference::IsComplex<E>::value) {
                partBytes = sizeof(typename E::value_type);
                parts = realResult ? 1 : 2;
            }
            const auto* got =
                static_cast<const unsigned char*>(result->data) + elem * parts * partBytes;
            for (std::size_t part = 0; part < parts; ++part) {
                const unsigned char* w = want + part * partBytes;
                const unsigned char* g = got + part * partBytes;
                if (std::memcmp(w, g, partBytes) == 0) continue;
                if (anyNaN && isNaNBits(w, partBytes) && isNaNBits(g, partBytes)) continue;
                ADD_FAILURE() << "first differing element " << elem << " of " << expected.size()
                              << ": expected " << hexBytes(w, partBytes) << ", got "
                              << hexBytes(g, partBytes);
                return;
            }
        }
    };
    EXPECT_EQ(standin::classOf(result), toDouble ? vxDOUBLE_CLASS : hostClass<In>());
    if constexpr (std::is_same_v<In, bool>) {
        if (toDouble) {
            compare(reference::scan<In, double>(op, values, hostDims, workDim, forward, omit));
            return;
        }
    }
    compare(reference::scan<In, In>(op, values, hostDims, workDim, forward, omit));
}

using ElementTypes =
    ::testing::Types<bool, double, float, std::complex<double>, std::complex<float>, signed char,
                     unsigned char, short, unsigned short, int, unsigned int, long long,
                     unsigned long long>;

template <class T>
class Differential : public ::testing::Test {};
TYPED_TEST_SUITE(Differential, ElementTypes);

std::string describe(CumOp op, const Dims& dims, std::size_t dimArg, bool forward, bool omit) {
    std::string text = std::string(nameOf(op)) + " dims [";
    for (std::size_t d : dims)
        text += std::to_string(d) + " ";
    return text + "] dim " + std::to_string(dimArg) + (forward ? " forward" : " reverse") +
           (omit ? " omitnan" : " includenan") + " seed " + std::to_string(suiteSeed());
}

// Random shapes of one to four dimensions, every working dimension (one past the last too).
TYPED_TEST(Differential, RandomShapesMatchTheReference) {
    std::mt19937_64 rng(suiteSeed() ^ hostClass<TypeParam>());
    const std::size_t lengths[] = {0, 1, 1, 2, 3, 4, 5, 7, 8, 9, 13, 17};
    for (int shape = 0; shape < 40; ++shape) {
        const int ndims = std::uniform_int_distribution<int>(1, 4)(rng);
        Dims dims;
        for (int d = 0; d < ndims; ++d) {
            dims.push_back(
                lengths[std::uniform_int_distribution<std::size_t>(shape < 3 ? 0 : 1, 11)(rng)]);
        }
        if (ndims == 1) dims.insert(dims.begin() + (shape % 2), 1);
        for (const CumOp op : kAllOps) {
            for (std::size_t dimArg = 0; dimArg <= dims.size() + 1; ++dimArg) {
                for (const bool forward : {true, false}) {
                    for (const bool omit : {false, true}) {
                        SCOPED_TRACE(describe(op, dims, dimArg, forward, omit));
                        checkCall<TypeParam>(op, dims, dimArg, forward, omit, rng);
                        if (::testing::Test::HasFailure()) return;
                    }
                }
            }
        }
    }
}

// Both sides of each serial-or-parallel threshold: 299/300 vectors in the contiguous layout,
// 199/200 rows in the last-dimension layout, 4998/5000 elements in the page layout, and a
// single page of 4999/5000 elements (a dimension past the last, with NaN omitted).
TYPED_TEST(Differential, BothSidesOfEveryThreshold) {
    std::mt19937_64 rng(suiteSeed() + 7 * hostClass<TypeParam>());
    const std::tuple<Dims, std::size_t> cases[] = {
        {{3, 299}, 1},    {{3, 300}, 1},    {{199, 3}, 2},  {{200, 3}, 2},  {{200, 1, 2}, 2},
        {{2, 3, 833}, 2}, {{2, 4, 625}, 2}, {{4999, 1}, 3}, {{5000, 1}, 3}, {{3, 5000}, 0},
    };
    for (const auto& [dims, dimArg] : cases) {
        for (const CumOp op : kAllOps) {
            for (const bool forward : {true, false}) {
                for (const bool omit : {false, true}) {
                    SCOPED_TRACE(describe(op, dims, dimArg, forward, omit));
                    checkCall<TypeParam>(op, dims, dimArg, forward, omit, rng);
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
    }
}

}  // namespace
