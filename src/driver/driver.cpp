// The cumulative driver: the host's call planned, then run into a fresh host result.
#include "driver/driver.hpp"

#include "host/mathcore.hpp"

namespace tzcumfun {

void cumDriver(CumOp op, matrix::ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag) {
    const CumPlan plan = planCumCall(op, {dim, direction, nanFlag}, describeHostArray(input),
                                     mathcoreFindFirstNonSingleton);
    dim = plan.workDim;
    executeToHost(plan, input, plhs);
}

}  // namespace tzcumfun
