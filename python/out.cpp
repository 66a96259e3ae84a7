// Results written into the caller's array: the checks an `out` passes before anything runs.
#include <algorithm>
#include <string>
#include <utility>

#include "module.hpp"

namespace tzcumfun::python {
namespace {

// The bytes an ndarray's elements reach, as [first, last).
std::pair<const char*, const char*> extentOf(PyArrayObject* array) {
    const char* first = PyArray_BYTES(array);
    const char* last = first;
    for (int axis = 0; axis < PyArray_NDIM(array); ++axis) {
        const npy_intp length = PyArray_DIM(array, axis);
        if (length == 0) return {first, first};
        const npy_intp reach = (length - 1) * PyArray_STRIDE(array, axis);
        (reach < 0 ? first : last) += reach;
    }
    return {first, last + PyArray_ITEMSIZE(array)};
}

std::string shapeText(std::span<const npy_intp> shape) {
    std::string text = "(";
    for (std::size_t axis = 0; axis < shape.size(); ++axis)
        text += (axis == 0 ? "" : ", ") + std::to_string(shape[axis]);
    return text + (shape.size() == 1 ? ",)" : ")");
}

std::string dtypeText(PyArray_Descr* descr) {
    return py::str(reinterpret_cast<PyObject*>(descr)).cast<std::string>();
}

// Whether `out` holds the very elements of `input`: the same start, dtype and strides (the shapes
// already agree; the stride of an axis of length 1 is never used).
bool sameElements(PyArrayObject* input, PyArrayObject* out) {
    bool same = PyArray_BYTES(input) == PyArray_BYTES(out) &&
                PyArray_EquivTypes(PyArray_DESCR(input), PyArray_DESCR(out)) &&
                PyArray_NDIM(input) == PyArray_NDIM(out);
    for (int axis = 0; same && axis < PyArray_NDIM(out); ++axis) {
        same =
            PyArray_DIM(out, axis) < 2 || PyArray_STRIDE(input, axis) == PyArray_STRIDE(out, axis);
    }
    return same;
}

}  // namespace

bool checkOut(CumOp op, PyObject* out, PyObject* source, std::span<const npy_intp> shape,
              int resultType, bool cOrder) {
    const std::string name = std::string(nameOf(op)) + "(): out ";
    if (!PyArray_Check(out) || isMasked(out)) {
        throw py::type_error(name + "must be a NumPy ndarray, not " + Py_TYPE(out)->tp_name);
    }
    auto* target = reinterpret_cast<PyArrayObject*>(out);
    if (!PyArray_EquivTypenums(PyArray_TYPE(target), resultType)) {
        const auto expected = py::reinterpret_steal<py::object>(
            reinterpret_cast<PyObject*>(PyArray_DescrFromType(resultType)));
        throw py::type_error(name + "has dtype " + dtypeText(PyArray_DESCR(target)) +
                             ", and the result's is " +
                             dtypeText(reinterpret_cast<PyArray_Descr*>(expected.ptr())));
    }
    const std::span<const npy_intp> outShape{PyArray_DIMS(target),
                                             static_cast<std::size_t>(PyArray_NDIM(target))};
    if (!std::equal(outShape.begin(), outShape.end(), shape.begin(), shape.end())) {
        throw py::value_error(name + "has shape " + shapeText(outShape) + ", and the result's is " +
                              shapeText(shape));
    }
    const int flags = PyArray_FLAGS(target);
    if ((flags & NPY_ARRAY_WRITEABLE) == 0) throw py::value_error(name + "is read-only");
    if ((flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) == 0) {
        throw py::value_error(name + "must be C- or Fortran-contiguous");
    }
    if ((flags & NPY_ARRAY_ALIGNED) == 0 || !PyArray_ISNOTSWAPPED(target)) {
        throw py::value_error(name + "must be aligned and in native byte order");
    }
    if (source != nullptr && PyArray_Check(source)) {
        auto* input = reinterpret_cast<PyArrayObject*>(source);
        const auto [first, last] = extentOf(input);
        const auto [outFirst, outLast] = extentOf(target);
        if (first < outLast && outFirst < last && !sameElements(input, target)) {
            throw py::value_error(name + "shares memory with the input without being it");
        }
    }
    return (flags & (cOrder ? NPY_ARRAY_C_CONTIGUOUS : NPY_ARRAY_F_CONTIGUOUS)) != 0;
}

}  // namespace tzcumfun::python
