// What the _tzcumfun extension's files share: NumPy's C interface, a call's keywords, the
// package's errors and the helpers every path of a call uses.
#pragma once

#include <pybind11/pybind11.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL tzcumfun_ARRAY_API
#ifndef TZCUMFUN_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "driver/plan.hpp"
#include "host/tzfl.hpp"

namespace tzcumfun::python {

namespace py = pybind11;

// Below this many elements a scan takes less time than letting the GIL go and taking it back
// under contention, so small calls keep it.
inline constexpr std::size_t kReleaseGilFrom = 16384;

inline constexpr const char* kMaskedRefusal =
    "tzcumfun does not take masked arrays: the mask would be lost. Pass A.filled(np.nan) with "
    "nan=\"omit\" to pass over the masked elements, or A.filled(value) with a value of your choice";

// The keywords of a call in NumPy's terms; each is null when not given or None. `out` goes with
// either call form, so it alone does not make a call one in NumPy's terms.
struct NumpyTerms {
    PyObject* axis = nullptr;
    PyObject* reverse = nullptr;
    PyObject* nan = nullptr;
    PyObject* out = nullptr;
    PyObject* dtype = nullptr;

    bool given() const {
        return axis != nullptr || reverse != nullptr || nan != nullptr || dtype != nullptr;
    }
};

// The operation of a number the package passes, refusing any other.
CumOp operationOf(int op);

// The operation's name, as the package exports it.
const char* nameOf(CumOp op);

// Raises a host or library error as the package's KorvexError (or KorvexTypeError).
[[noreturn]] void raiseKorvexError(const foundation::core::except::IMsgIDException& error);

// How many array inputs were copied so far; written with the GIL held.
long& inputCopies();

// Whether `value` is a NumPy masked array.
bool isMasked(PyObject* value);

// The destructor of a capsule that owns a host array lent to NumPy.
void releaseHostArray(PyObject* capsule);

// NumPy's type number of a plan's result.
int resultTypeOf(const CumPlan& plan);

// Lets the GIL go for the scope when `release` is set.
class GilRelease {
  public:
    explicit GilRelease(bool release) : state_(release ? PyEval_SaveThread() : nullptr) {}
    ~GilRelease() {
        if (state_ != nullptr) PyEval_RestoreThread(state_);
    }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

  private:
    PyThreadState* state_;
};

// ---- planning.cpp: the settings of a call, from NumPy's arguments and keywords --------------

// A call's settings in the caller's terms: `dim` counts from 1 on the caller's host dimensions
// (A.shape, a 1-D array a 1-by-n row), 0 for the default.
struct CallSettings {
    CumSettings settings;
    bool hostForm = true;  // the host's call form: an all-zero imaginary part is dropped
};

// The settings of a call on data of `ndim` NumPy axes, from the arguments after the data and the
// keywords, read with the core's own readers; nothing when an argument is one only the host
// reads (text arrays, SciPy data, dimensions that are not numbers): the host path takes the call.
std::optional<CallSettings> settleCall(CumOp op, std::size_t ndim, std::span<PyObject* const> rest,
                                       const NumpyTerms& terms);

// The caller's host dimensions of a NumPy shape (a 0-d array 1-by-1, a 1-D array a 1-by-n row),
// in `storage`.
std::span<const std::size_t> callerDims(std::span<const npy_intp> shape,
                                        std::span<std::size_t, NPY_MAXDIMS + 1> storage);

// The 0-based working dimension on the caller's dimensions.
std::size_t workingDim(const CumSettings& settings, std::span<const std::size_t> dims);

// ---- out.cpp: results written into the caller's array ----------------------------------------

// Refuses an `out` that cannot take a result of NumPy type `resultType` and shape `shape` of the
// call on `source`, before anything runs; true when out lies in the order `cOrder` names, so that
// the scan writes into it directly. `out` may be the input itself: the scan then runs in place.
bool checkOut(CumOp op, PyObject* out, PyObject* source, std::span<const npy_intp> shape,
              int resultType, bool cOrder);

// ---- dense.cpp: calls on NumPy data, with no host array -------------------------------------

// The data of a call as the scan reads it: an ndarray of a dtype the host has a class for, and,
// once made readable, aligned, native, C- or Fortran-contiguous and of logical bytes 0 and 1.
struct DenseData {
    py::object owner;  // a reference held when the array is not the caller's own
    PyArrayObject* array = nullptr;
    vxClassID classId = vxDOUBLE_CLASS;
    bool complex = false;
    bool cOrder = false;  // C-contiguous only: the host's dimensions are the shape reversed
};

// The data of an ndarray or NumPy scalar argument, or nothing when the host has no class for its
// dtype or it is not NumPy data; refuses masked arrays.
std::optional<DenseData> denseDataOf(PyObject* value);

// Copies data that cannot be scanned where it lies, once, into a native, aligned buffer,
// Fortran-ordered unless `cOrder`; logical bytes other than 0 and 1 become 0 or 1.
void makeReadable(DenseData& data, bool cOrder);

// Runs `plan` from `in` (dense, in the order `cOrder` names) into `out`, an ndarray that passed
// checkOut: directly when `direct`, else through a staging array copied into it.
void scanInto(const CumPlan& plan, const void* in, PyObject* out, bool direct, bool cOrder);

// Runs a call whose data is an ndarray or a NumPy scalar of a dtype the host has a class for,
// from its settings, into `out`, into the input or into a new ndarray; an empty object when the
// host path must take the call.
py::object denseCall(CumOp op, std::span<PyObject* const> args, const NumpyTerms& terms);

// tzcumfun.dask's question, answered from the same planning: (axis or None, forward, NaN flag,
// dtype) of a call on an array of `shape` and `prototype`'s dtype; nothing for the host path.
std::optional<py::tuple> planLazy(CumOp op, PyObject* prototype, std::span<const npy_intp> shape,
                                  std::span<PyObject* const> rest, const NumpyTerms& terms);

}  // namespace tzcumfun::python
