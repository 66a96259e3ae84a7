// The host-array path of a call, for arguments only the host reads.
#pragma once

#include <pybind11/numpy.h>

#include <optional>
#include <span>
#include <vector>

#include "host/vx.hpp"
#include "module.hpp"

namespace tzcumfun::python {

// One host array built for a gateway call (text, SciPy sparse data); it lives as long as its
// Python object.
struct HostArray {
    matrix::ArrayHandle handle;
};

HostArray makeStringArray(const std::vector<std::optional<py::bytes>>& values,
                          const std::vector<py::ssize_t>& shape);

HostArray makeSparseArray(std::size_t rows, std::size_t cols,
                          const py::array_t<std::int64_t, py::array::c_style>& colStarts,
                          const py::array_t<std::int64_t, py::array::c_style>& rowIndices,
                          const py::array& values);

NumpyTerms termsOf(const py::object& axis, const py::object& reverse, const py::object& nan,
                   const py::object& out, const py::object& dtype);

// Resolves the call into host arrays and runs it through the gateway (or, with `out`, runs its
// plan into out). With `defer`, an empty object when an argument is one only the package's Python
// code converts.
py::object hostCall(CumOp op, int nargout, std::span<PyObject* const> args, const NumpyTerms& terms,
                    bool defer);

// The package's Python path: every argument already one the module converts.
py::object runCall(int op, int nargout, const py::sequence& args, const NumpyTerms& terms);

// tzcumfun.dask's question: the scan a call on an array of `shape` makes, with `prototype` (an
// ndarray of the array's dtype, of any shape) standing for the data: the NumPy axis scanned (None
// when every vector has one element), whether it runs forward, the NaN flag and the result's
// dtype, or what the in-memory call raises.
py::tuple resolveLazy(int op, const py::object& prototype, const std::vector<npy_intp>& shape,
                      const py::sequence& args, const NumpyTerms& terms);

}  // namespace tzcumfun::python
