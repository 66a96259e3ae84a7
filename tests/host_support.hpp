// Helpers the gateway suites share: typed host arrays in and out, and gateway calls.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/cpu_level.hpp"
#include "driver/types.hpp"
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
    static const char* const kNames[] = {"cumsum", "cumprod", "cummin", "cummax"};
    return kNames[static_cast<int>(op)];
}

// The host class of an element type (complex types by their parts).
template <class T>
constexpr vxClassID hostClass() {
    if constexpr (requires { typename T::value_type; }) {
        return hostClass<typename T::value_type>();
    } else if constexpr (std::is_same_v<T, bool>) {
        return vxLOGICAL_CLASS;
    } else if constexpr (std::is_floating_point_v<T>) {
        return sizeof(T) == sizeof(double) ? vxDOUBLE_CLASS : vxSINGLE_CLASS;
    } else {  // the integer classes run int8, uint8, int16, ... uint64
        const int sizeRank = sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : sizeof(T) == 4 ? 2 : 3;
        return static_cast<vxClassID>(vxINT8_CLASS + 2 * sizeRank + std::is_unsigned_v<T>);
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

// Has the library scan at `level` from now on; false, changing nothing, where this processor
// lacks the level.
inline bool forceLibraryLevel(tzcumfun::CpuLevel level) {
    static const char* const kWords[] = {"baseline", "v3", "v4"};
    try {
        tzcumfunForceCpuLevel(kWords[static_cast<int>(level)]);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

inline ArrayHandle scalar(double value) {
    return makeFilled(vxDOUBLE_CLASS, {1, 1}, std::vector<double>{value});
}

}  // namespace testing_support
