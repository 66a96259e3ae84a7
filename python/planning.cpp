// The settings of a call from NumPy's arguments and keywords: the core's option-word matcher and
// the host's dimension reader, with no host array unless a dimension must be read by the host.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "driver/array_header.hpp"
#include "element_class.hpp"
#include "gateways/arguments.hpp"
#include "host/mathcore.hpp"
#include "module.hpp"
#include "standin/standin.hpp"

namespace tzcumfun::python {
namespace {

// Python ints up to here are exact as the double the host would read them as.
constexpr long long kLargestExactDimension = 1LL << 53;

[[noreturn]] void raiseAxisError(PyObject* axis, std::size_t ndim) {
    auto numpy = py::module_::import("numpy");
    const py::object module = py::hasattr(numpy, "exceptions") ? numpy.attr("exceptions") : numpy;
    const py::object error = module.attr("AxisError")(py::handle(axis), ndim);
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

// The host dimension, 1-based, that `axis` names on a NumPy shape of `ndim` axes: negative axes
// count from the end, and the only axis of a 1-D array, a 1-by-n row for the host, is dimension
// 2. A 0-d array, 1-by-1 for the host, has axis 0 (or -1) like a 1-element vector.
std::size_t dimensionOfAxis(PyObject* axis, std::size_t ndim) {
    if (PyBool_Check(axis) || PyArray_IsScalar(axis, Bool)) {
        throw py::type_error("axis must be an integer, not bool");
    }
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(axis));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    const auto count = static_cast<long long>(std::max<std::size_t>(ndim, 1));
    if (overflow != 0 || value < -count || value >= count) raiseAxisError(index.ptr(), ndim);
    if (value < 0) value += count;
    return ndim == 1 && value == 0 ? 2 : static_cast<std::size_t>(value) + 1;
}

std::uint8_t directionOf(PyObject* reverse) {
    if (!PyBool_Check(reverse) && !PyArray_IsScalar(reverse, Bool)) {
        throw py::type_error(std::string("reverse must be a bool, not ") +
                             Py_TYPE(reverse)->tp_name);
    }
    return PyObject_IsTrue(reverse) != 0 ? 0 : 1;
}

std::uint8_t nanFlagOf(PyObject* nan) {
    if (PyUnicode_Check(nan)) {
        if (PyUnicode_CompareWithASCIIString(nan, "omit") == 0) return 1;
        if (PyUnicode_CompareWithASCIIString(nan, "include") == 0) return 0;
    }
    throw py::value_error("nan must be 'include' or 'omit', not " +
                          py::repr(nan).cast<std::string>());
}

// A non-empty str is an option word the module reads; an empty one is left to the host, whose
// text reader decides what it is.
bool isWord(PyObject* value) {
    return PyUnicode_Check(value) && PyUnicode_GET_LENGTH(value) > 0;
}

bool isInteger(PyObject* value) {
    return (PyLong_Check(value) && !PyBool_Check(value)) || PyArray_IsScalar(value, Integer);
}

// A dimension the host reads from a scalar it makes: a number that is not a positive int.
bool isHostNumber(PyObject* value) {
    return PyFloat_Check(value) || PyLong_Check(value) ||
           (PyArray_IsScalar(value, Generic) &&
            (PyArray_IsScalar(value, Number) || PyArray_IsScalar(value, Bool)));
}

// The 0-based dimension a dimension argument names, read by the host from a scalar unless it is
// a positive integer that the host would read exactly.
std::size_t dimensionOf(PyObject* value) {
    if (isInteger(value)) {
        const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value));
        if (!index) throw py::error_already_set();
        int overflow = 0;
        const long long dim = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow == 0 && dim >= 1 && dim <= kLargestExactDimension) {
            return static_cast<std::size_t>(dim - 1);
        }
    }
    matrix::ArrayHandle scalar;
    if (PyBool_Check(value)) {
        scalar = standin::makeArray(vxLOGICAL_CLASS, {1, 1});
        *static_cast<bool*>(scalar->data) = value == Py_True;
    } else if (PyFloat_Check(value) || PyLong_Check(value)) {
        double number = PyFloat_Check(value) ? PyFloat_AsDouble(value) : PyLong_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) {
            // Beyond every double: the host refuses it as it refuses an infinite dimension.
            PyErr_Clear();
            number = -std::numeric_limits<double>::infinity();
        }
        scalar = standin::makeArray(vxDOUBLE_CLASS, {1, 1});
        *static_cast<double*>(scalar->data) = number;
    } else {
        const auto array = py::reinterpret_steal<py::object>(PyArray_FromScalar(value, nullptr));
        if (!array) throw py::error_already_set();
        auto* data = reinterpret_cast<PyArrayObject*>(array.ptr());
        const PyArray_Descr* descr = PyArray_DESCR(data);
        const auto classId = classOfKind(descr->kind, descr->elsize);
        if (!classId || !PyArray_ISNOTSWAPPED(data)) return SIZE_MAX;
        scalar = standin::makeArray(*classId, {1, 1}, descr->kind == 'c' ? vxCOMPLEX : vxREAL);
        std::memcpy(scalar->data, PyArray_DATA(data), static_cast<std::size_t>(descr->elsize));
    }
    try {
        return mathcoreGetDimArg(scalar.get());
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
}

// Reads one option word with the core's matcher, its text in UTF-16 code units: a text longer
// than the longest word is cut where it can no longer match any.
void readWord(CumOp op, PyObject* word, CumSettings& settings, std::uint8_t& directionSeen,
              std::uint8_t& nanSeen) {
    std::array<char16_t, kLongestCumOption + 2> units{};
    std::size_t count = 0;
    const int kind = PyUnicode_KIND(word);
    const void* data = PyUnicode_DATA(word);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(word);
    for (Py_ssize_t at = 0; at < length && count + 2 <= units.size(); ++at) {
        const Py_UCS4 point = PyUnicode_READ(kind, data, at);
        if (point > 0xFFFF) {
            units[count++] = static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            units[count++] = static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            units[count++] = static_cast<char16_t>(point);
        }
    }
    try {
        applyCumOptionText(op, {units.data(), count}, settings.direction, settings.nanFlag,
                           directionSeen, nanSeen);
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
}

}  // namespace

std::optional<CallSettings> settleCall(CumOp op, std::size_t ndim, std::span<PyObject* const> rest,
                                       const NumpyTerms& terms) {
    CallSettings call{defaultSettings(op), !terms.given()};
    CumSettings& settings = call.settings;
    if (terms.given()) {
        if (!rest.empty()) return std::nullopt;  // the host path refuses the mix
        if (terms.axis != nullptr) settings.dim = dimensionOfAxis(terms.axis, ndim);
        if (terms.reverse != nullptr) settings.direction = directionOf(terms.reverse);
        if (terms.nan != nullptr) settings.nanFlag = nanFlagOf(terms.nan);
        return call;
    }
    // Every argument is checked first, so that the host path, when it takes the call, reports
    // the first error the host would.
    if (rest.size() > 3) return std::nullopt;
    const bool dimGiven = !rest.empty() && !isWord(rest[0]);
    if (dimGiven && !isHostNumber(rest[0])) return std::nullopt;
    for (std::size_t at = dimGiven ? 1 : 0; at < rest.size(); ++at) {
        if (!isWord(rest[at])) return std::nullopt;
    }
    if (dimGiven) {
        const std::size_t dim = dimensionOf(rest[0]);
        if (dim == SIZE_MAX) return std::nullopt;
        settings.dim = dim + 1;
    }
    std::uint8_t directionSeen = 0;
    std::uint8_t nanSeen = 0;
    for (std::size_t at = dimGiven ? 1 : 0; at < rest.size(); ++at) {
        readWord(op, rest[at], settings, directionSeen, nanSeen);
    }
    return call;
}

std::span<const std::size_t> callerDims(std::span<const npy_intp> shape,
                                        std::span<std::size_t, NPY_MAXDIMS + 1> storage) {
    if (shape.size() >= 2) {
        std::copy(shape.begin(), shape.end(), storage.begin());
        return storage.first(shape.size());
    }
    storage[0] = 1;
    storage[1] = shape.empty() ? 1 : static_cast<std::size_t>(shape[0]);
    return storage.first(2);
}

std::size_t workingDim(const CumSettings& settings, std::span<const std::size_t> dims) {
    return settings.dim == 0 ? mathcoreFindFirstNonSingleton(dims.size(), dims.data())
                             : settings.dim - 1;
}

}  // namespace tzcumfun::python
