// Planning a call from its settings and input, and running a plan over element buffers.
#include "driver/plan.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "driver/classes.hpp"

namespace tzcumfun {
namespace {

std::size_t product(std::span<const std::size_t> extents) {
    return std::accumulate(extents.begin(), extents.end(), std::size_t{1}, std::multiplies<>());
}

void runScan(const CumPlan& plan, const void* in, void* out) {
    visitOperation(plan.op, [&]<CumOp Op>() { cumDispatch<Op>(plan, in, out); });
}

}  // namespace

CumPlan planCumCall(CumOp op, const CumSettings& settings, const CumInput& input,
                    FirstNonSingleton firstNonSingleton) {
    const Operation& operation = operationOf(op);
    const std::size_t ndims = input.dims.size();
    CumPlan plan{};
    plan.op = op;
    plan.classId = input.classId;
    plan.resultClass = operation.logicalBecomesDouble && input.classId == vxLOGICAL_CLASS
                           ? vxDOUBLE_CLASS
                           : input.classId;
    plan.complex = input.complex;
    plan.sparse = input.sparse;
    plan.forward = settings.direction != 0;
    plan.nanFlag = settings.nanFlag;
    plan.workDim =
        settings.dim == 0 ? firstNonSingleton(ndims, input.dims.data()) : settings.dim - 1;
    plan.dimLen = plan.workDim < ndims ? input.dims[plan.workDim] : 1;
    plan.numel = product(input.dims);
    // Sums and products that omit NaN must still turn a lone NaN into their omission value.
    const bool oneElementIsCopy = !operation.logicalBecomesDouble || settings.nanFlag == 0;
    plan.scan = !input.empty && !(plan.dimLen == 1 && oneElementIsCopy);
    plan.stride = product(input.dims.first(std::min(plan.workDim, ndims)));
    plan.nvec = plan.dimLen == 0 ? 0 : plan.numel / plan.dimLen;
    plan.layout = plan.stride <= 1            ? LayoutMode::Contiguous
                  : plan.workDim + 1 == ndims ? LayoutMode::LastDim
                                              : LayoutMode::Page;
    return plan;
}

void executeCumPlan(const CumPlan& plan, const void* in, void* out) {
    if (plan.scan) return runScan(plan, in, out);
    if (in == out || plan.numel == 0) return;
    if (plan.resultClass != plan.classId) {
        const auto* logical = static_cast<const bool*>(in);
        std::transform(logical, logical + plan.numel, static_cast<double*>(out),
                       [](bool value) { return value ? 1.0 : 0.0; });
        return;
    }
    std::memcpy(out, in, plan.numel * elementBytes(plan.classId, plan.complex));
}

}  // namespace tzcumfun
