// The driver's paths that the differential suite does not take: host threads on a shared input,
// failure of every host allocation or conversion, and the library's export table.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <thread>

#include "host_support.hpp"

namespace {

using namespace testing_support;
using tzcumfun::CumOp;

// Host threads calling at once on one shared input, whose header the first reader has the host
// complete, all get the single-threaded result.
TEST(DriverPaths, ConcurrentCallsOnASharedInputAgree) {
    std::vector<double> values(300 * 40);
    for (std::size_t at = 0; at < values.size(); ++at)
        values[at] = static_cast<double>(at % 7);
    const ArrayHandle plain = makeFilled(vxDOUBLE_CLASS, {300, 40}, values);
    const ArrayHandle shared = makeFilled(vxDOUBLE_CLASS, {300, 40}, values);
    standin::storeClassIdIndirectly(shared.get());
    standin::deferDimensions(shared.get());
    for (const CumOp op : kAllOps) {
        const auto expected =
            valuesOf<double>(callGateway(gatewayOf(op), 1, {plain.get()}).result.get());
        std::vector<std::vector<double>> results(4);
        std::vector<std::thread> threads;
        for (auto& result : results) {
            threads.emplace_back([&] {
                result =
                    valuesOf<double>(callGateway(gatewayOf(op), 1, {shared.get()}).result.get());
            });
        }
        for (auto& thread : threads)
            thread.join();
        for (const auto& result : results)
            EXPECT_EQ(result, expected);
    }
}

// Every driver path, with each of its host allocations and conversions failing in turn: the
// failure surfaces, the output slot keeps what it held, and no array is left behind.
TEST(DriverPaths, AFailingHostStepLeaksNothingAndKeepsTheSlot) {
    using C = std::complex<double>;
    const std::vector<double> square{1, 2, 3, 4};
    const C diagonal[] = {{1, 0}, {2, 1}};
    const bool flags[] = {true, true};
    const std::function<ArrayHandle()> inputs[] = {
        [] { return scalar(2); },
        [] {
            return makeFilled(vxLOGICAL_CLASS, {3, 1}, std::deque<bool>{true, false, true});
        },
        [] {
            return makeFilled(vxDOUBLE_CLASS, {1, 1}, std::vector<C>{{1, 0}}, vxCOMPLEX);
        },
        [&] {
            return makeFilled(vxDOUBLE_CLASS, {2, 2}, square);
        },
        [] {
            return makeFilled(vxSINGLE_CLASS, {2, 1},
                              std::vector<std::complex<float>>{{1, 1}, {2, -1}}, vxCOMPLEX);
        },
        [&] {
            ArrayHandle array = makeFilled(vxDOUBLE_CLASS, {2, 2}, square);
            standin::markReusableTemporary(array.get());
            return array;
        },
        [&] {
            return standin::makeSparse(vxDOUBLE_CLASS, vxCOMPLEX, 2, 2, {0, 1, 2}, {0, 1},
                                       diagonal);
        },
        [&] {
            return standin::makeSparse(vxLOGICAL_CLASS, vxREAL, 2, 2, {0, 1, 2}, {0, 1}, flags);
        },
    };
    for (const auto& input : inputs) {
        for (const CumOp op : kAllOps) {
            SCOPED_TRACE(testing::Message() << "input " << &input - inputs << ", " << nameOf(op));
            long step = 1;
            for (bool failed = true; failed; ++step) {
                const long liveBefore = standin::liveArrays();
                {
                    const ArrayHandle data = input();
                    const vxArray_tag* args[] = {data.get()};
                    matrix::ArrayHandle slot = scalar(-1);
                    vxArray_tag* const before = slot.get();
                    standin::failAfter(step);
                    try {
                        gatewayOf(op)(1, &slot, 1, args);
                        failed = false;
                        EXPECT_NE(standin::faultCountdown(), 0)
                            << "step " << step << " fired unseen";
                    } catch (const std::bad_alloc&) {
                        EXPECT_EQ(slot.get(), before) << "step " << step << " changed the slot";
                        EXPECT_EQ(valuesOf<double>(slot.get()), std::vector<double>{-1});
                    }
                    standin::failAfter(0);
                }
                EXPECT_EQ(standin::liveArrays(), liveBefore) << "step " << step << " leaked";
            }
            EXPECT_GT(step, 2) << "no host step on this path";
        }
    }
}

std::set<std::string> definedDynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only " + library;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 512> line{};
    while (pipe && fgets(line.data(), line.size(), pipe.get()) != nullptr) {
        const std::string text(line.data());
        names.insert(text.substr(text.rfind(' ') + 1, text.size() - text.rfind(' ') - 2));
    }
    return names;
}

TEST(Exports, ExactlyTheGatewaysAndLifeCycleFunctions) {
    const std::string signature =
        "iPSt10unique_ptrI11vxArray_tagN6matrix6detail17vxDestroy_deleterEEiPPKS0_";
    const std::set<std::string> expected{
        "_Z17mathelemCumsumFcn" + signature, "_Z18mathelemCumprodFcn" + signature,
        "_Z17mathelemCumminFcn" + signature, "_Z17mathelemCummaxFcn" + signature,
        "KXInitialize_libtzmathelem_cumfun", "KXTerminate_libtzmathelem_cumfun"};
    EXPECT_EQ(definedDynamicSymbols(TZCUMFUN_LIBRARY_FILE), expected);
}

}  // namespace
