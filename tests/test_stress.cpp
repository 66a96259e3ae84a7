// Sixteen host threads making mixed calls at once, each of which must give exactly what the same
// call gives alone on one thread; a call whose host step fails keeps the output slot and leaks
// nothing. TZCUMFUN_STRESS_CALLS=<n> sets the calls per thread (2000, or
// 400 under a sanitizer).
#include <gtest/gtest.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>

#include "host_support.hpp"

namespace {

using namespace testing_support;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kDefaultCalls = 400;  // each call runs several times slower
#else
constexpr std::size_t kDefaultCalls = 2000;
#endif

// An outcome's kind is in the low two bits of its digest.
enum Kind : std::uint64_t { kResult, kRefused, kFaulted };

// Shape, class, complexity, sparsity and every element of a result.
std::uint64_t digestOf(const vxArray_tag* result) {
    Dims header = standin::dimsOf(result);
    const vxComplexity complexity = standin::isComplex(result) ? vxCOMPLEX : vxREAL;
    header.insert(header.end(), {std::size_t(standin::classOf(result)), std::size_t(complexity),
                                 std::size_t(standin::isSparse(result))});
    const auto full = matrix::convert_to_full_if_needed(result);
    std::string bytes(reinterpret_cast<const char*>(header.data()),
                      header.size() * sizeof(Dims::value_type));
    bytes.append(
        static_cast<const char*>(full->data),
        standin::numel(result) * standin::elementBytes(standin::classOf(result), complexity));
    return std::hash<std::string>{}(bytes);
}

// Extents and dimension argument on either side of a layout's parallel threshold: 300 vectors for
// a contiguous scan, 200 rows for the last dimension, 5000 elements for inner pages; or a small
// array with a random working dimension, possibly past the last.
std::pair<Dims, double> shapeOf(std::mt19937_64& rng) {
    const std::size_t edge = rng() % 2;
    const std::pair<Dims, double> shapes[] = {
        {{3, 299 + edge}, 0},
        {{199 + edge, 3}, 2},
        {{10, 5, 99 + edge}, 2},
        {{rng() % 4, rng() % 4, 1 + rng() % 3}, double(rng() % 5)}};
    return shapes[rng() % 4];
}

// An input the threads share, whose header the first reader has the host complete.
const vxArray_tag* gShared = nullptr;

// One mixed call, all of it drawn from `seed`: the digest of its result, of the refusal's
// identifier, or of an injected failure.
std::uint64_t runCall(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const tzcumfun::CumOp op = kAllOps[rng() % 4];
    const bool badClass = rng() % 16 == 0;
    const int code = static_cast<int>(rng() % 11);  // logical, then double ... uint64
    const auto classId = static_cast<vxClassID>(
        badClass ? vxINT16_CLASS : vxLOGICAL_CLASS + code + (code > 0 ? 2 : 0));
    const bool floating = classId == vxDOUBLE_CLASS || classId == vxSINGLE_CLASS;
    const vxComplexity complexity = badClass || (floating && rng() % 3 == 0) ? vxCOMPLEX : vxREAL;
    const auto [dims, dim] = shapeOf(rng);
    ArrayHandle input = standin::makeArray(classId, dims, complexity);
    auto* bytes = static_cast<unsigned char*>(input->data);
    const std::size_t count =
        standin::numel(input.get()) * standin::elementBytes(classId, complexity);
    for (std::size_t at = 0; at < count; ++at)
        bytes[at] = classId == vxLOGICAL_CLASS ? rng() % 2 : rng() % 256;
    if (dims.size() == 2 && (classId == vxDOUBLE_CLASS || classId == vxLOGICAL_CLASS) &&
        rng() % 4 == 0)
        input = matrix::convert_to_sparse_if_needed(std::move(input));
    if (rng() % 8 == 0) standin::storeClassIdIndirectly(input.get());
    if (rng() % 8 == 0) standin::deferDimensions(input.get());
    if (rng() % 8 == 0) standin::markReusableTemporary(input.get());

    std::vector<ArrayHandle> extra;
    if (dim != 0 || rng() % 32 == 0) extra.push_back(scalar(dim));  // 0 is refused by the host
    const char16_t* const words[] = {u"forward",    u"r",           u"omitnan",
                                     u"includeNaN", u"OmitMissing", u"sideways"};
    for (std::size_t option = rng() % 3; option > 0; --option) {
        const std::u16string word = words[rng() % (rng() % 8 == 0 ? 6 : 5)];
        extra.push_back(rng() % 2 ? standin::makeChar(word) : standin::makeString({word}));
    }
    std::vector<const vxArray_tag*> prhs{rng() % 16 == 0 ? gShared : input.get()};
    for (const auto& array : extra)
        prhs.push_back(array.get());

    matrix::ArrayHandle slot = scalar(-1);
    const vxArray_tag* const before = slot.get();
    standin::failAfter(rng() % 8 == 0 ? 1 + long(rng() % 8) : 0);
    std::uint64_t digest = kFaulted;
    try {
        gatewayOf(op)(1, &slot, static_cast<int>(prhs.size()), prhs.data());
        standin::failAfter(0);
        digest = digestOf(slot.get()) << 2 | kResult;
    } catch (const foundation::core::except::IMsgIDException& error) {
        digest = std::hash<std::string>{}(std::string(error.GetIdentifier())) << 2 | kRefused;
    } catch (const std::bad_alloc&) {
    }
    standin::failAfter(0);
    if ((digest & 3) != kResult) {
        EXPECT_TRUE(slot.get() == before && *static_cast<const double*>(before->data) == -1)
            << "seed " << seed << " changed the slot";
    }
    return digest;
}

TEST(Stress, SixteenHostThreadsGetWhatEachCallGetsAlone) {
    const char* fixed = std::getenv("TZCUMFUN_STRESS_CALLS");
    const std::size_t calls = fixed ? std::strtoull(fixed, nullptr, 10) : kDefaultCalls;
    const std::uint64_t base = std::random_device{}();
    SCOPED_TRACE("seeds from " + std::to_string(base));
    const ArrayHandle shared = makeFilled(vxDOUBLE_CLASS, {300, 40}, std::vector<double>(12000, 3));
    standin::storeClassIdIndirectly(shared.get());
    standin::deferDimensions(shared.get());
    gShared = shared.get();
    const long liveBefore = standin::liveArrays();
    std::vector<std::uint64_t> together(16 * calls);
    std::vector<std::thread> threads;
    for (std::size_t first = 0; first < together.size(); first += calls) {
        threads.emplace_back([&, first] {
            for (std::size_t call = first; call < first + calls; ++call)
                together[call] = runCall(base + call);
        });
    }
    for (auto& thread : threads)
        thread.join();

    // The same calls again, one at a time, on a pool of one thread.
    std::size_t kinds[3] = {};
    tbb::task_arena(1).execute([&] {
        for (std::size_t call = 0; call < together.size(); ++call) {
            const std::uint64_t digest = runCall(base + call);
            ASSERT_EQ(digest, together[call]) << "seed " << base + call;
            ++kinds[digest & 3];
        }
    });
    EXPECT_EQ(standin::liveArrays(), liveBefore);
    // Enough calls meet results, refusals and injected failures alike.
    EXPECT_TRUE(calls < 100 || (kinds[kResult] && kinds[kRefused] && kinds[kFaulted]));
}

// Sixteen threads making and freeing large results at once, with the host keeping freed buffers
// and without: every result is the plain loop's. These one-vector scans are long enough that
// another core maps their result's pages while the chain runs.
TEST(Stress, LargeResultsWithTheHostCacheOnAndOff) {
    constexpr std::size_t kCount = (std::size_t{9} << 20) / sizeof(double);
    std::vector<double> values(kCount);
    for (std::size_t at = 0; at < kCount; ++at)
        values[at] = double(at % 1009) / 7 - 50;
    const ArrayHandle input = makeFilled(vxDOUBLE_CLASS, {kCount, 1}, values);
    std::vector<double> want = values;
    for (std::size_t at = 1; at < kCount; ++at)
        want[at] = want[at - 1] + values[at];
    for (const bool cache : {false, true}) {
        standin::setHostCache(cache);
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 16; ++thread) {
            threads.emplace_back([&] {
                for (int call = 0; call < 4; ++call) {
                    matrix::ArrayHandle slot;
                    const vxArray_tag* prhs[] = {input.get()};
                    mathelemCumsumFcn(1, &slot, 1, prhs);
                    wrong += std::memcmp(slot->data, want.data(), kCount * sizeof(double)) != 0;
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(wrong.load(), 0) << (cache ? "cache on" : "cache off");
        EXPECT_EQ(standin::hostCacheBytes() != 0, cache) << "buffers kept";
    }
}

// Large results of mixed sizes, some kept while others are freed, so that a kept block goes to
// a result that needs from half of it to all of it: every live result and input keeps its values.
TEST(Stress, KeptBuffersOfMixedSizesServeSmallerResults) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    constexpr std::size_t kSizes[] = {16 * kMiB, 6 * kMiB,  9 * kMiB,  20 * kMiB,    10 * kMiB + 8,
                                      5 * kMiB,  12 * kMiB, 17 * kMiB, 8 * kMiB + 8, 9 * kMiB};
    const std::size_t most = *std::max_element(std::begin(kSizes), std::end(kSizes)) / 8;
    std::vector<double> values(most), want(most);
    for (std::size_t at = 0; at < most; ++at) {
        values[at] = double(at % 1009) / 7 - 50;
        want[at] = at == 0 ? values[0] : want[at - 1] + values[at];
    }
    const auto holds = [](const vxArray_tag* array, const std::vector<double>& expected) {
        return std::memcmp(array->data, expected.data(), standin::numel(array) * 8) == 0;
    };
    standin::setHostCache(false);  // empties it
    standin::setHostCache(true);
    std::vector<std::pair<ArrayHandle, matrix::ArrayHandle>> live;  // input and result
    std::size_t largerTaken = 0;
    for (const std::size_t bytes : kSizes) {
        const std::size_t count = bytes / 8;
        ArrayHandle input =
            makeFilled(vxDOUBLE_CLASS, {count, 1}, std::span<const double>(values.data(), count));
        matrix::ArrayHandle result;
        const vxArray_tag* prhs[] = {input.get()};
        const std::size_t heldBefore = standin::hostCacheBytes();
        mathelemCumsumFcn(1, &result, 1, prhs);
        // Whether the result took a kept block larger than its own need in whole huge pages.
        const std::size_t heldAfter = standin::hostCacheBytes();
        const std::size_t need = (bytes + 2 * kMiB - 1) / (2 * kMiB) * (2 * kMiB);
        largerTaken += heldAfter < heldBefore && heldBefore - heldAfter > need;
        live.emplace_back(std::move(input), std::move(result));
        for (const auto& [in, out] : live) {
            ASSERT_TRUE(holds(in.get(), values)) << bytes << " bytes";
            ASSERT_TRUE(holds(out.get(), want)) << bytes << " bytes";
        }
        if (live.size() == 3) live.erase(live.begin());
    }
    EXPECT_GE(largerTaken, 2U);
}

#if defined(__SANITIZE_ADDRESS__)
// A buffer the host keeps after its array is freed is still caught when used.
TEST(StressDeathTest, KeptBuffersArePoisoned) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    standin::setHostCache(true);
    const volatile double* stale = nullptr;
    {
        const ArrayHandle array = standin::makeArray(vxDOUBLE_CLASS, {std::size_t{1} << 20, 1});
        stale = static_cast<const double*>(array->data);
    }
    EXPECT_DEATH((void)stale[0], "use-after-poison");
}
#endif

}  // namespace
