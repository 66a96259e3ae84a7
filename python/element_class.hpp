// The host class a NumPy element type stands for, shared by the package's two extensions.
#pragma once

#include <pybind11/numpy.h>

#include <optional>
#include <string>

#include "host/vx.hpp"

namespace tzcumfun::python {

// The host class of a NumPy element kind and size, when the host has one.
inline std::optional<vxClassID> classOfKind(char kind, pybind11::ssize_t size) {
    switch (kind) {
        case 'b':
            if (size == 1) return vxLOGICAL_CLASS;
            break;
        case 'f':
        case 'c': {
            const auto part = kind == 'c' ? size / 2 : size;
            if (part == 8) return vxDOUBLE_CLASS;
            if (part == 4) return vxSINGLE_CLASS;
            break;
        }
        case 'i':
        case 'u': {
            const bool isSigned = kind == 'i';
            if (size == 1) return isSigned ? vxINT8_CLASS : vxUINT8_CLASS;
            if (size == 2) return isSigned ? vxINT16_CLASS : vxUINT16_CLASS;
            if (size == 4) return isSigned ? vxINT32_CLASS : vxUINT32_CLASS;
            if (size == 8) return isSigned ? vxINT64_CLASS : vxUINT64_CLASS;
            break;
        }
        default:
            break;
    }
    return std::nullopt;
}

inline vxClassID classOfDtype(const pybind11::dtype& dtype) {
    if (const auto classId = classOfKind(dtype.kind(), dtype.itemsize())) return *classId;
    throw pybind11::type_error("tzcumfun does not support dtype " +
                               pybind11::str(pybind11::handle(dtype)).cast<std::string>());
}

}  // namespace tzcumfun::python
