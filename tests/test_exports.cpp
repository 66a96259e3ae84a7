// The library's export table: the four gateways and its life-cycle functions, nothing more.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

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
