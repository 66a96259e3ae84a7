// The cumulative driver: geometry, result preparation, dispatch and hand-off.
#include "driver/driver.hpp"

#include <algorithm>
#include <functional>
#include <numeric>

#include "driver/array_header.hpp"
#include "host/mathcore.hpp"

namespace tzcumfun {
namespace {

using matrix::ArrayHandle;
using matrix::detail::noninlined::vx_array_api::vxFreeImagIfZero;
using matrix::detail::noninlined::vx_array_api::vxIsEmpty;

// Sums and products of logical data are double; minima and maxima keep logical.
constexpr bool logicalBecomesDouble(CumOp op) {
    return op == CumOp::Sum || op == CumOp::Prod;
}

ArrayHandle adopt(tzboost::intrusive_ptr<vxArray_tag> array) {
    return ArrayHandle(array.detach());
}

void dispatch(CumOp op, std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
              std::size_t dimLen, std::size_t nvec, std::size_t stride, LayoutMode layout,
              std::uint8_t nanFlag) {
    switch (op) {
        case CumOp::Sum:
            return cumDispatch<CumOp::Sum>(direction, scanIn, result, dimLen, nvec, stride, layout,
                                           nanFlag);
        case CumOp::Prod:
            return cumDispatch<CumOp::Prod>(direction, scanIn, result, dimLen, nvec, stride, layout,
                                            nanFlag);
        case CumOp::Min:
            return cumDispatch<CumOp::Min>(direction, scanIn, result, dimLen, nvec, stride, layout,
                                           nanFlag);
        case CumOp::Max:
            return cumDispatch<CumOp::Max>(direction, scanIn, result, dimLen, nvec, stride, layout,
                                           nanFlag);
    }
}

}  // namespace

void cumDriver(CumOp op, ArrayHandle* plhs, const vxArray_tag* input, std::size_t& dim,
               std::uint8_t direction, std::uint8_t nanFlag) {
    const auto dims = dimensionsOf(input);
    const std::size_t ndims = dims.size();
    const std::size_t workDim =
        dim == 0 ? mathcoreFindFirstNonSingleton(ndims, dims.data()) : dim - 1;
    dim = workDim;
    const std::size_t dimLen = workDim < ndims ? dims[workDim] : 1;
    const bool toDouble = logicalBecomesDouble(op) && classOf(input) == vxLOGICAL_CLASS;

    // Nothing to scan: an empty array, or vectors of one element where `init` would copy them.
    // Sums and products that omit NaN must still turn a lone NaN into 0 or 1.
    const bool oneElementIsCopy = !logicalBecomesDouble(op) || nanFlag == 0;
    if (vxIsEmpty(input) || (dimLen == 1 && oneElementIsCopy)) {
        ArrayHandle result = toDouble ? adopt(matrix::convert_if_needed(input, vxDOUBLE_CLASS))
                                      : matrix::detail::do_shared_copy(input);
        vxFreeImagIfZero(result.get());
        plhs[0] = std::move(result);
        return;
    }

    const auto before = dims.first(std::min(workDim, ndims));
    const std::size_t stride =
        std::accumulate(before.begin(), before.end(), std::size_t{1}, std::multiplies<>());
    ArrayHandle result;
    const vxArray_tag* scanIn = input;
    const bool sparse = hasFlags(input, vx_flags::sparse);
    if (sparse) {
        // Sparse data is scanned in place on a full copy, which goes back to sparse at the end.
        if (toDouble) {
            auto asDouble = matrix::convert_if_needed(input, vxDOUBLE_CLASS);
            result = adopt(matrix::convert_to_full_if_needed(asDouble.get()));
        } else {
            result = adopt(matrix::convert_to_full_if_needed(input));
        }
        scanIn = result.get();
    } else if (toDouble) {
        result =
            matrix::detail::do_create_uninitnumeric(ndims, dims.data(), vxDOUBLE_CLASS, vxREAL);
    } else if (hasFlags(input, vx_flags::reusableTemp)) {
        // The host no longer needs this temporary: scanning into its shared data saves a buffer.
        result = matrix::detail::do_shared_copy(input);
    } else {
        result = matrix::detail::do_create_uninitnumeric(ndims, dims.data(), classOf(input),
                                                         isComplex(input) ? vxCOMPLEX : vxREAL);
    }

    const std::size_t numel =
        std::accumulate(dims.begin(), dims.end(), std::size_t{1}, std::multiplies<>());
    const std::size_t nvec = numel / dimLen;
    const LayoutMode layout = stride <= 1            ? LayoutMode::Contiguous
                              : workDim + 1 == ndims ? LayoutMode::LastDim
                                                     : LayoutMode::Page;
    dispatch(op, direction, scanIn, result.get(), dimLen, nvec, stride, layout, nanFlag);
    vxFreeImagIfZero(result.get());
    if (sparse) result = matrix::convert_to_sparse_if_needed(std::move(result));
    plhs[0] = std::move(result);
}

}  // namespace tzcumfun
