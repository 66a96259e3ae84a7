// Planning a call from its settings and input, and running a plan into a buffer or a host array.
#include "driver/plan.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "driver/array_header.hpp"
#include "driver/classes.hpp"

namespace tzcumfun {
namespace {

using matrix::ArrayHandle;
using matrix::detail::noninlined::vx_array_api::vxFreeImagIfZero;
using matrix::detail::noninlined::vx_array_api::vxIsEmpty;

ArrayHandle adopt(tzboost::intrusive_ptr<vxArray_tag> array) {
    return ArrayHandle(array.detach());
}

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

CumInput describeHostArray(const vxArray_tag* array) {
    return {classOf(array), isComplex(array), hasFlags(array, vx_flags::sparse), vxIsEmpty(array),
            dimensionsOf(array)};
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

void executeToHost(const CumPlan& plan, const vxArray_tag* input, ArrayHandle* plhs) {
    const bool toDouble = plan.resultClass != plan.classId;
    if (!plan.scan) {
        // The host's own copy: it shares the input's data, or converts logical data to double.
        ArrayHandle result = toDouble ? adopt(matrix::convert_if_needed(input, vxDOUBLE_CLASS))
                                      : matrix::detail::do_shared_copy(input);
        vxFreeImagIfZero(result.get());
        plhs[0] = std::move(result);
        return;
    }
    const auto dims = dimensionsOf(input);
    ArrayHandle result;
    const vxArray_tag* scanIn = input;
    CumPlan scan = plan;
    if (plan.sparse) {
        // Sparse data is scanned in place on a full copy, which goes back to sparse at the end.
        if (toDouble) {
            auto asDouble = matrix::convert_if_needed(input, vxDOUBLE_CLASS);
            result = adopt(matrix::convert_to_full_if_needed(asDouble.get()));
        } else {
            result = adopt(matrix::convert_to_full_if_needed(input));
        }
        scanIn = result.get();
        scan.classId = plan.resultClass;  // logical data was made double before the scan
    } else if (toDouble) {
        result = matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(), vxDOUBLE_CLASS,
                                                         vxREAL);
    } else if (hasFlags(input, vx_flags::reusableTemp)) {
        // The host no longer needs this temporary: scanning into its shared data saves a buffer.
        result = matrix::detail::do_shared_copy(input);
    } else {
        result = matrix::detail::do_create_uninitnumeric(dims.size(), dims.data(), plan.classId,
                                                         plan.complex ? vxCOMPLEX : vxREAL);
    }
    runScan(scan, scanIn->data, result->data);
    vxFreeImagIfZero(result.get());
    if (plan.sparse) result = matrix::convert_to_sparse_if_needed(std::move(result));
    plhs[0] = std::move(result);
}

}  // namespace tzcumfun
