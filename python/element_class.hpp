// NumPy dtypes of the host's element classes, read off the core's one class table, for the
// package's two extensions.
#pragma once

#include <pybind11/numpy.h>

#include <complex>
#include <optional>
#include <string>
#include <type_traits>

#include "driver/classes.hpp"
#include "host/vx.hpp"

namespace tzcumfun::python {

// NumPy's kind letter of an element type: logical 'b', floating 'f' ('c' when complex), integers
// 'i' or 'u'.
template <class T>
constexpr char kindOf(bool complex) {
    if constexpr (std::is_same_v<T, bool>) return 'b';
    if constexpr (std::is_floating_point_v<T>) return complex ? 'c' : 'f';
    return std::is_signed_v<T> ? 'i' : 'u';
}

// The host class of a NumPy element kind and size, when the host has one.
inline std::optional<vxClassID> classOfKind(char kind, pybind11::ssize_t size) {
    const bool complex = kind == 'c';
    for (const vxClassID classId : kElementClasses) {
        const bool holds = visitElementClass(
            classId,
            [&]<class T>(ElementClass<T>) {
                return kindOf<T>(complex) == kind &&
                       static_cast<pybind11::ssize_t>(sizeof(T) * (complex ? 2 : 1)) == size;
            },
            [] { return false; });
        if (holds) return classId;
    }
    return std::nullopt;
}

inline vxClassID classOfDtype(const pybind11::dtype& dtype) {
    if (const auto classId = classOfKind(dtype.kind(), dtype.itemsize())) return *classId;
    throw pybind11::type_error("tzcumfun does not support dtype " +
                               pybind11::str(pybind11::handle(dtype)).cast<std::string>());
}

// The dtype of a host class's elements, complex or real.
inline pybind11::dtype dtypeOfClass(vxClassID classId, bool complex) {
    return visitElementClass(
        classId,
        [complex]<class T>(ElementClass<T>) {
            if constexpr (std::is_floating_point_v<T>) {
                if (complex) return pybind11::dtype::of<std::complex<T>>();
            }
            return pybind11::dtype::of<T>();
        },
        [classId]() -> pybind11::dtype {
            throw pybind11::type_error("the host returned an array of class " +
                                       std::to_string(static_cast<int>(classId)));
        });
}

// NumPy's type number of a host class's elements.
inline int typeOfClass(vxClassID classId, bool complex) {
    return dtypeOfClass(classId, complex).num();
}

}  // namespace tzcumfun::python
