// The library's export table: the gateways, its life-cycle and level functions, nothing more.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

TEST(Exports, ExactlyTheGatewaysLifeCycleAndLevelFunctions) {
    const std::string signature =
        "iPSt10unique_ptrI11vxArray_tagN6matrix6detail17vxDestroy_deleterEEiPPKS0_";
    const std::set<std::string> expected{"_Z17mathelemCumsumFcn" + signature,
                                         "_Z18mathelemCumprodFcn" + signature,
                                         "_Z17mathelemCumminFcn" + signature,
                                         "_Z17mathelemCummaxFcn" + signature,
                                         "KXInitialize_libtzmathelem_cumfun",
                                         "KXTerminate_libtzmathelem_cumfun",
                                         "tzcumfunCpuLevel",
                                         "tzcumfunForceCpuLevel"};
    std::set<std::string> names;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        popen("nm -D --defined-only " TZCUMFUN_LIBRARY_FILE, "r"), pclose);
    std::array<char, 512> line{};
    while (pipe && fgets(line.data(), line.size(), pipe.get()) != nullptr) {
        const std::string text(line.data());
        names.insert(text.substr(text.rfind(' ') + 1, text.size() - text.rfind(' ') - 2));
    }
    EXPECT_EQ(names, expected);
}

}  // namespace
