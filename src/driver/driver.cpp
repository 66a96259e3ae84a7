// The cumulative driver: the host's call planned, then run into a fresh host result.
#include "driver/driver.hpp"

#include "driver/array_header.hpp"
#include "host/mathcore.hpp"

namespace tzcumfun {
namespace {

using matrix::ArrayHandle;
using matrix::detail::noninlined::vx_array_api::vxFreeImagIfZero;
using matrix::detail::noninlined::vx_array_api::vxIsEmpty;

ArrayHandle adopt(tzboost::intrusive_ptr<vxArray_tag> array) {
    return ArrayHandle(array.detach());
}

}  // namespace

CumInput describeHostArray(const vxArray_tag* array) {
    return {classOf(array), isComplex(array), hasFlags(array, vx_flags::sparse), vxIsEmpty(array),
            dimensionsOf(array)};
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
    executeCumPlan(scan, scanIn->data, result->data);
    vxFreeImagIfZero(result.get());
    if (plan.sparse) result = matrix::convert_to_sparse_if_needed(std::move(result));
    plhs[0] = std::move(result);
}

void cumDriver(CumOp op, matrix::ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag) {
    const CumPlan plan = planCumCall(op, {dim, direction, nanFlag}, describeHostArray(input),
                                     mathcoreFindFirstNonSingleton);
    dim = plan.workDim;
    executeToHost(plan, input, plhs);
}

}  // namespace tzcumfun
