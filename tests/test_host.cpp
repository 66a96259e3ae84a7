// The library's export table, and the stand-in host's own promises that the other suites rely on.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>

#include "host_support.hpp"

namespace {

using namespace testing_support;

std::set<std::string> definedDynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only " + library;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return names;
    std::array<char, 512> line{};
    while (fgets(line.data(), line.size(), pipe.get()) != nullptr) {
        std::string text(line.data());
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const auto space = text.rfind(' ');
        names.insert(text.substr(space + 1));
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
    KXInitialize_libtzmathelem_cumfun();
    KXTerminate_libtzmathelem_cumfun();
    KXTerminate_libtzmathelem_cumfun();
}

TEST(StandIn, ArraysAreCountedSharedOnlyWhenAskedAndShapedByTheHostRule) {
    const long baseline = standin::liveArrays();
    {
        ArrayHandle array = standin::makeArray(vxDOUBLE_CLASS, {4, 6, 1, 1});
        EXPECT_EQ(standin::dimsOf(array.get()), (Dims{4, 6}));
        EXPECT_NE(array->flags & vx_flags::inlineDims, 0U);
        ArrayHandle shared = matrix::detail::do_shared_copy(array.get());
        EXPECT_NE(shared.get(), array.get());
        EXPECT_TRUE(standin::sharesData(shared.get(), array.get()));
        EXPECT_FALSE(standin::ownsDataAlone(array.get()));
        ArrayHandle fresh = matrix::detail::do_create_uninitnumeric(
            3, std::array<std::size_t, 3>{2, 3, 4}.data(), vxINT8_CLASS, vxREAL);
        EXPECT_FALSE(standin::sharesData(fresh.get(), array.get()));
        EXPECT_EQ(standin::dimsOf(fresh.get()), (Dims{2, 3, 4}));
        EXPECT_EQ(standin::liveArrays(), baseline + 3);
        // An intrusive reference keeps the array alive after its owning handle lets go.
        auto extra = matrix::convert_if_needed(array.get(), vxDOUBLE_CLASS);
        EXPECT_EQ(extra.get(), array.get());
        array.reset();
        EXPECT_EQ(standin::liveArrays(), baseline + 3);
    }
    EXPECT_EQ(standin::liveArrays(), baseline);
}

TEST(StandIn, ImaginaryPartsAreDroppedOnlyWhenAllCompareEqualToZero) {
    using C = std::complex<double>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<std::vector<C>, bool> cases[] = {{{{1, 0}, {2, -0.0}}, true},
                                                     {{{1, 0}, {2, 1e-300}}, false},
                                                     {{{1, nan}}, false},
                                                     {{}, true}};
    for (const auto& [values, becomesReal] : cases) {
        ArrayHandle array = makeFilled(vxDOUBLE_CLASS, {1, values.size()}, values, vxCOMPLEX);
        ArrayHandle shared = matrix::detail::do_shared_copy(array.get());
        matrix::detail::noninlined::vx_array_api::vxFreeImagIfZero(shared.get());
        EXPECT_EQ(standin::isComplex(shared.get()), !becomesReal);
        EXPECT_TRUE(standin::isComplex(array.get())) << "the original must not change";
        if (becomesReal && !values.empty()) {
            EXPECT_EQ(valuesOf<double>(shared.get())[1], values[1].real());
        }
    }
}

}  // namespace
