// Helpers the gateway suites share: typed host arrays in and out, and gateway calls.
#pragma once

#include <complex>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/types.hpp"
#include "gateways/cumfun.hpp"
#include "host/tzfl.hpp"
#include "standin/standin.hpp"

namespace testing_support {

using standin::ArrayHandle;
using standin::Dims;
using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);

inline Gateway gatewayOf(tzcumfun::CumOp op) {
    switch (op) {
        case tzcumfun::CumOp::Sum:
            return mathelemCumsumFcn;
        case tzcumfun::CumOp::Prod:
            return mathelemCumprodFcn;
        case tzcumfun::CumOp::Min:
            return mathelemCumminFcn;
        case tzcumfun::CumOp::Max:
            return mathelemCummaxFcn;
    }
    return mathelemCumsumFcn;
}

inline const char* nameOf(tzcumfun::CumOp op) {
    static const char* const kNames[] = {"cumsum", "cumprod", "cummin", "cummax"};
    return kNames[static_cast<int>(op)];
}

constexpr tzcumfun::CumOp kAllOps[] = {tzcumfun::CumOp::Sum, tzcumfun::CumOp::Prod,
                                       tzcumfun::CumOp::Min, tzcumfun::CumOp::Max};

// A full array holding `values` (complex values interleaved by the caller's element type).
template <class Container, class T = typename Container::value_type>
ArrayHandle makeFilled(vxClassID classId, const Dims& dims, const Container& values,
                       vxComplexity complexity = vxREAL) {
    ArrayHandle array = standin::makeArray(classId, dims, complexity);
    if (values.size() != standin::numel(array.get())) throw std::invalid_argument("size");
    auto* out = static_cast<T*>(array->data);
    for (std::size_t elem = 0; elem < values.size(); ++elem)
        out[elem] = values[elem];
    return array;
}

inline ArrayHandle scalar(double value) {
    return makeFilled(vxDOUBLE_CLASS, {1, 1}, std::vector<double>{value});
}
inline ArrayHandle text(const std::u16string& value) {
    return standin::makeChar(value);
}

template <class T>
std::vector<T> valuesOf(const vxArray_tag* array) {
    const std::size_t count = standin::numel(array);
    const auto* in = static_cast<const T*>(array->data);
    return std::vector<T>(in, in + count);
}

// What one gateway call gave: the result, or the error's identifier and message id.
struct CallOutcome {
    ArrayHandle result;
    bool threw = false;
    std::string identifier;
    std::string catalog;
    std::string key;
    std::string message;
};

inline CallOutcome callGateway(Gateway gateway, int nlhs,
                               const std::vector<const vxArray_tag*>& args) {
    CallOutcome outcome;
    try {
        std::vector<const vxArray_tag*> prhs = args;
        gateway(nlhs, &outcome.result, static_cast<int>(prhs.size()), prhs.data());
    } catch (const foundation::core::except::IMsgIDException& error) {
        outcome.threw = true;
        outcome.identifier = error.GetIdentifier();
        outcome.catalog = error.GetMsgID().catalog;
        outcome.key = error.GetMsgID().key;
        outcome.message = error.what();
    }
    return outcome;
}

// One call as a user writes it: data, an optional dimension (0: not given), then option words.
inline CallOutcome callWith(tzcumfun::CumOp op, const vxArray_tag* data, double dim,
                            const std::vector<std::u16string>& options) {
    std::vector<ArrayHandle> extra;
    if (dim != 0) extra.push_back(scalar(dim));
    for (const auto& option : options)
        extra.push_back(text(option));
    std::vector<const vxArray_tag*> args{data};
    for (const auto& array : extra)
        args.push_back(array.get());
    return callGateway(gatewayOf(op), 1, args);
}

}  // namespace testing_support
