// Helpers the gateway suites share: typed host arrays in and out, and gateway calls.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/classes.hpp"
#include "driver/operations.hpp"
#include "gateways/cumfun.hpp"
#include "host/tzfl.hpp"
#include "standin/standin.hpp"

namespace testing_support {

using standin::ArrayHandle;
using standin::Dims;
using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);

constexpr tzcumfun::CumOp kAllOps[] = {tzcumfun::CumOp::Sum, tzcumfun::CumOp::Prod,
                                       tzcumfun::CumOp::Min, tzcumfun::CumOp::Max};

inline Gateway gatewayOf(tzcumfun::CumOp op) {
    static const Gateway kGateways[] = {mathelemCumsumFcn, mathelemCumprodFcn, mathelemCumminFcn,
                                        mathelemCummaxFcn};
    return kGateways[static_cast<int>(op)];
}

inline const char* nameOf(tzcumfun::CumOp op) {
    return tzcumfun::operationOf(op).name.data();
}

// The host class of an element type (complex types by their parts).
template <class T>
constexpr vxClassID hostClass() {
    if constexpr (requires { typename T::value_type; }) {
        return tzcumfun::classOfElement<typename T::value_type>();
    } else {
        return tzcumfun::classOfElement<T>();
    }
}

// A full array holding `values` (complex values interleaved by the caller's element type).
template <class Container, class T = typename Container::value_type>
ArrayHandle makeFilled(vxClassID classId, const Dims& dims, const Container& values,
                       vxComplexity complexity = vxREAL) {
    ArrayHandle array = standin::makeArray(classId, dims, complexity);
    if (values.size() != standin::numel(array.get())) throw std::invalid_argument("size");
    std::copy(values.begin(), values.end(), static_cast<T*>(array->data));
    return array;
}

inline ArrayHandle scalar(double value) {
    return makeFilled(vxDOUBLE_CLASS, {1, 1}, std::vector<double>{value});
}

}  // namespace testing_support
