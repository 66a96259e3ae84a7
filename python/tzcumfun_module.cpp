// The _tzcumfun extension: the call resolver, host arrays over NumPy buffers, gateway calls and
// results handed to NumPy without a copy.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <boost/container/small_vector.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "driver/array_header.hpp"
#include "element_class.hpp"
#include "gateways/arguments.hpp"
#include "gateways/cumfun.hpp"
#include "host/mathcore.hpp"
#include "host/string_matrix.hpp"
#include "host/tzfl.hpp"
#include "host/vx.hpp"
#include "standin/standin.hpp"

namespace py = pybind11;

namespace {

using tzcumfun::CumOp;
using tzcumfun::python::classOfDtype;
using tzcumfun::python::classOfKind;

using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);
using Arguments = std::span<const vxArray_tag* const>;

// Indexed by the operation number the Python package passes.
constexpr std::array<Gateway, 4> kGateways{mathelemCumsumFcn, mathelemCumprodFcn, mathelemCumminFcn,
                                           mathelemCummaxFcn};
constexpr std::array<const char*, 4> kNames{"cumsum", "cumprod", "cummin", "cummax"};

// Below this many elements a scan takes less time than letting the GIL go and taking it back
// under contention, so small calls keep it.
constexpr std::size_t kReleaseGilFrom = 16384;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr const char* kMaskedRefusal =
    "tzcumfun does not take masked arrays: the mask would be lost. Pass A.filled(np.nan) with "
    "nan=\"omit\" to pass over the masked elements, or A.filled(value) with a value of your choice";

// A host array the package built in Python (text, SciPy sparse data), handed to the resolver.
struct HostArray {
    matrix::ArrayHandle handle;
};

// The caller's view of the first argument: its NumPy shape when it has one, and whether the host
// holds it in C order, that is with the shape reversed.
struct UserShape {
    std::span<const npy_intp> dims;
    bool known = false;
    bool reversed = false;
};

// The package's error classes, registered once at import: KorvexError, and its subclass that is
// also a TypeError, for refusals of the data's type.
struct ErrorTypes {
    py::object korvex;
    py::object dataType;
};

ErrorTypes& errorTypes() {
    static auto* types = new ErrorTypes();  // never destroyed: interpreter shutdown order varies
    return *types;
}

long& inputCopies() {
    static long copies = 0;  // written with the GIL held
    return copies;
}

// NumPy shapes become host dimensions: a 0-d array is 1-by-1 and a 1-D array a 1-by-n row.
standin::Dims hostDims(std::span<const npy_intp> shape) {
    if (shape.empty()) return {1, 1};
    if (shape.size() == 1) return {1, static_cast<std::size_t>(shape[0])};
    return {shape.begin(), shape.end()};
}

int typeOfClass(vxClassID classId, bool complex) {
    switch (classId) {
        case vxLOGICAL_CLASS:
            return NPY_BOOL;
        case vxDOUBLE_CLASS:
            return complex ? NPY_CDOUBLE : NPY_DOUBLE;
        case vxSINGLE_CLASS:
            return complex ? NPY_CFLOAT : NPY_FLOAT;
        case vxINT8_CLASS:
            return NPY_INT8;
        case vxUINT8_CLASS:
            return NPY_UINT8;
        case vxINT16_CLASS:
            return NPY_INT16;
        case vxUINT16_CLASS:
            return NPY_UINT16;
        case vxINT32_CLASS:
            return NPY_INT32;
        case vxUINT32_CLASS:
            return NPY_UINT32;
        case vxINT64_CLASS:
            return NPY_INT64;
        case vxUINT64_CLASS:
            return NPY_UINT64;
        default:
            throw py::type_error("the host returned an array of class " +
                                 std::to_string(static_cast<int>(classId)));
    }
}

// The host array over an ndarray's own elements, or nothing when its buffer cannot be lent as it
// is: it must be aligned, in native byte order and contiguous. A Fortran-ordered buffer is the
// host array of the same shape; a C-ordered one of shape (d1, ..., dn) is, element for element,
// the host array of dimensions (dn, ..., d1).
matrix::ArrayHandle lendBuffer(PyArrayObject* array, vxClassID classId, bool& reversed) {
    const int flags = PyArray_FLAGS(array);
    const bool fortran = (flags & NPY_ARRAY_F_CONTIGUOUS) != 0;
    if ((flags & NPY_ARRAY_ALIGNED) == 0 || !PyArray_ISNOTSWAPPED(array) ||
        (!fortran && (flags & NPY_ARRAY_C_CONTIGUOUS) == 0)) {
        return {};
    }
    standin::Dims dims =
        hostDims({PyArray_DIMS(array), static_cast<std::size_t>(PyArray_NDIM(array))});
    reversed = !fortran;
    if (reversed) std::reverse(dims.begin(), dims.end());
    const vxComplexity complexity = PyArray_ISCOMPLEX(array) ? vxCOMPLEX : vxREAL;
    // The host never writes a borrowed buffer, so a read-only array may lend its memory too.
    return standin::makeBorrowed(classId, dims, complexity, PyArray_DATA(array));
}

// The host's logical bytes hold 0 or 1; a NumPy bool array made from a buffer or a view may hold
// any byte. Reads a contiguous buffer as one run.
bool holdsOddBools(PyArrayObject* array) {
    const auto* bytes = static_cast<const unsigned char*>(PyArray_DATA(array));
    return std::any_of(bytes, bytes + PyArray_NBYTES(array),
                       [](unsigned char byte) { return byte > 1; });
}

// A masked array can exist only once numpy.ma is loaded, so an unloaded module means no mask.
bool isMasked(PyObject* value) {
    if (PyArray_CheckExact(value)) return false;
    const auto ma =
        py::reinterpret_steal<py::object>(PyImport_GetModule(py::str("numpy.ma").ptr()));
    if (!ma) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return false;
    }
    return py::isinstance(value, ma.attr("MaskedArray"));
}

std::u16string utf16Of(const py::bytes& units) {
    const std::string raw = units;
    std::u16string text(raw.size() / 2, u'\0');
    std::memcpy(text.data(), raw.data(), text.size() * 2);
    return text;
}

// Any str, lone surrogates included: the host's text is UTF-16 code units.
std::u16string utf16Of(PyObject* text) {
    if (PyUnicode_IS_ASCII(text)) {
        const auto* ascii = static_cast<const char*>(PyUnicode_DATA(text));
        return {ascii, ascii + PyUnicode_GET_LENGTH(text)};
    }
    const auto units = py::reinterpret_steal<py::bytes>(
        PyUnicode_AsEncodedString(text, "utf-16-le", "surrogatepass"));
    if (!units) throw py::error_already_set();
    return utf16Of(units);
}

template <class T>
matrix::ArrayHandle scalar(vxClassID classId, T value) {
    matrix::ArrayHandle array = standin::makeArray(classId, {1, 1});
    *static_cast<T*>(array->data) = value;
    return array;
}

matrix::ArrayHandle asciiRow(std::string_view text) {
    return standin::makeChar(std::u16string(text.begin(), text.end()));
}

HostArray makeStringArray(const std::vector<std::optional<py::bytes>>& values,
                          const std::vector<py::ssize_t>& shape) {
    std::vector<std::optional<std::u16string>> elements;
    elements.reserve(values.size());
    for (const auto& value : values) {
        elements.push_back(value ? std::optional(utf16Of(*value)) : std::nullopt);
    }
    return {standin::makeString(elements, hostDims(shape))};
}

HostArray makeSparseArray(std::size_t rows, std::size_t cols,
                          const py::array_t<std::int64_t, py::array::c_style>& colStarts,
                          const py::array_t<std::int64_t, py::array::c_style>& rowIndices,
                          const py::array& values) {
    const vxClassID classId = classOfDtype(values.dtype());
    if (classId != vxDOUBLE_CLASS && classId != vxLOGICAL_CLASS) {
        throw py::type_error("the host stores only double and logical data sparsely");
    }
    if (!(values.flags() & py::array::c_style) ||
        static_cast<std::size_t>(values.size()) != static_cast<std::size_t>(rowIndices.size()) ||
        static_cast<std::size_t>(colStarts.size()) != cols + 1) {
        throw py::value_error("inconsistent compressed-column parts");
    }
    const std::vector<std::size_t> starts(colStarts.data(), colStarts.data() + colStarts.size());
    const std::vector<std::size_t> indices(rowIndices.data(),
                                           rowIndices.data() + rowIndices.size());
    const vxComplexity complexity = values.dtype().kind() == 'c' ? vxCOMPLEX : vxREAL;
    return {standin::makeSparse(classId, complexity, rows, cols, starts, indices, values.data())};
}

// A sparse result as its compressed-column parts, its values of NumPy type `type`; the package
// builds the SciPy object.
py::tuple sparseResult(const vxArray_tag* result, int type) {
    const standin::SparseParts parts = standin::sparseOf(result);
    const py::dtype dtype(typeOfClass(standin::classOf(result), standin::isComplex(result)));
    py::array_t<std::int64_t> colStarts(static_cast<py::ssize_t>(parts.colStarts.size()));
    py::array_t<std::int64_t> rowIndices(static_cast<py::ssize_t>(parts.rowIndices.size()));
    std::copy(parts.colStarts.begin(), parts.colStarts.end(), colStarts.mutable_data());
    std::copy(parts.rowIndices.begin(), parts.rowIndices.end(), rowIndices.mutable_data());
    py::array values(dtype,
                     std::vector<py::ssize_t>{static_cast<py::ssize_t>(parts.rowIndices.size())});
    if (values.nbytes() != 0) std::memcpy(values.mutable_data(), parts.values, values.nbytes());
    if (dtype.num() != type) values = values.attr("astype")(py::dtype(type));
    return py::make_tuple(parts.rows, parts.cols, colStarts, rowIndices, values);
}

void destroyHostArray(PyObject* capsule) {
    const matrix::ArrayHandle array(
        static_cast<vxArray_tag*>(PyCapsule_GetPointer(capsule, nullptr)));
}

// A full result in the caller's shape and order when its element count allows, else in the
// host's dimensions in Fortran order, of NumPy type `type`. The array takes over the host's
// buffer unless another array may still reach it, since a result must never alias the caller's
// input, or unless the host's real result must become complex.
py::object denseResult(matrix::ArrayHandle result, Arguments inputs, const UserShape& user,
                       int type) {
    const int hostType =
        typeOfClass(standin::classOf(result.get()), standin::isComplex(result.get()));
    const std::size_t count = standin::numel(result.get());
    std::array<npy_intp, NPY_MAXDIMS> shape{};
    std::size_t ndim = user.dims.size();
    const bool callersShape =
        user.known && std::accumulate(user.dims.begin(), user.dims.end(), std::size_t{1},
                                      std::multiplies<>()) == count;
    if (callersShape) {
        std::copy(user.dims.begin(), user.dims.end(), shape.begin());
    } else {
        const standin::Dims dims = standin::dimsOf(result.get());
        if (dims.size() > shape.size()) throw py::value_error("too many dimensions for NumPy");
        ndim = dims.size();
        std::copy(dims.begin(), dims.end(), shape.begin());
    }
    py::object descr = py::reinterpret_steal<py::object>(
        reinterpret_cast<PyObject*>(PyArray_DescrFromType(hostType)));
    std::array<npy_intp, NPY_MAXDIMS> strides{};
    npy_intp step = reinterpret_cast<PyArray_Descr*>(descr.ptr())->elsize;
    const bool cOrder = callersShape && user.reversed;
    for (std::size_t axis = 0; axis < ndim; ++axis) {
        const std::size_t at = cOrder ? ndim - 1 - axis : axis;
        strides[at] = step;
        step *= std::max<npy_intp>(shape[at], 1);
    }

    bool shared = !standin::ownsDataAlone(result.get());
    for (const vxArray_tag* input : inputs)
        shared = shared || standin::sharesData(result.get(), input);
    const bool adopt = count != 0 && !shared;
    void* const data = adopt ? result->data : nullptr;
    py::object owner;
    if (adopt) {
        // The capsule takes the array over only once it exists, so a failure to make it loses
        // nothing.
        owner = py::reinterpret_steal<py::object>(
            PyCapsule_New(result.get(), nullptr, destroyHostArray));
        if (!owner) throw py::error_already_set();
        (void)result.release();
    }
    auto made = py::reinterpret_steal<py::object>(
        PyArray_NewFromDescr(&PyArray_Type, reinterpret_cast<PyArray_Descr*>(descr.release().ptr()),
                             static_cast<int>(ndim), shape.data(), strides.data(), data,
                             adopt ? NPY_ARRAY_WRITEABLE : 0, nullptr));
    if (!made) throw py::error_already_set();
    auto* array = reinterpret_cast<PyArrayObject*>(made.ptr());
    if (adopt) {
        if (PyArray_SetBaseObject(array, owner.release().ptr()) < 0) throw py::error_already_set();
    } else if (count != 0) {
        std::memcpy(PyArray_DATA(array), result->data, PyArray_NBYTES(array));
    }
    if (type == hostType) return made;
    auto widened = py::reinterpret_steal<py::object>(
        PyArray_CastToType(array, PyArray_DescrFromType(type), cOrder ? 0 : 1));
    if (!widened) throw py::error_already_set();
    return widened;
}

[[noreturn]] void raiseKorvexError(const foundation::core::except::IMsgIDException& error) {
    const auto& msgId = error.GetMsgID();
    // The data's type refused: a TypeError too, for callers who catch NumPy's errors.
    const bool dataType = msgId.catalog == "Korvex:cumfun" &&
                          (msgId.key == "wrongInput" || msgId.key == "complexIntegers");
    const py::object& type = dataType ? errorTypes().dataType : errorTypes().korvex;
    py::object instance =
        type(py::str(error.what()), error.GetIdentifier(), msgId.catalog, msgId.key);
    PyErr_SetObject(type.ptr(), instance.ptr());
    throw py::error_already_set();
}

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

// ---- The call resolver -----------------------------------------------------------------------
//
// Every Python entry point resolves a call here: its arguments become host arrays, and the
// gateways' own argument reader settles the working dimension, the direction and the NaN flag,
// refusing what a gateway would refuse, before anything runs. A call made in NumPy's terms (the
// keywords axis, reverse and nan, or any call through tzcumfun.dask) also keeps NumPy's rules:
// an axis must lie within -ndim..ndim-1, and the result's dtype follows the input's dtype alone.

// The keywords of a call in NumPy's terms; each is null when not given or None. `out` goes with
// either call form, so it alone does not make a call one in NumPy's terms.
struct NumpyTerms {
    PyObject* axis = nullptr;
    PyObject* reverse = nullptr;
    PyObject* nan = nullptr;
    PyObject* out = nullptr;

    bool given() const { return axis != nullptr || reverse != nullptr || nan != nullptr; }
};

// One argument as the gateway receives it.
struct Argument {
    matrix::ArrayHandle made;  // built for this call, or null when `array` is the caller's
    const vxArray_tag* array = nullptr;
    py::object owner;  // keeps a lent buffer or a HostArray alive
    bool reversed = false;
    std::span<const npy_intp> shape;  // the NumPy shape a result takes, when `known`; borrowed
    bool known = false;
};

Argument madeArgument(matrix::ArrayHandle made, bool scalarShape) {
    Argument arg;
    arg.array = made.get();
    arg.made = std::move(made);
    arg.known = scalarShape;
    return arg;
}

// The host array over an ndarray's buffer, or over a native, aligned copy when the buffer cannot
// be lent, Fortran-ordered unless `cOrder`; logical bytes other than 0 and 1 are made 0 or 1 in a
// copy.
std::optional<Argument> ndarrayArgument(PyObject* value, bool defer, bool cOrder = false) {
    if (isMasked(value)) throw py::type_error(kMaskedRefusal);
    auto* array = reinterpret_cast<PyArrayObject*>(value);
    const PyArray_Descr* descr = PyArray_DESCR(array);
    // Text arrays become host string arrays in the package.
    if (defer && (descr->kind == 'U' || descr->kind == 'O')) return std::nullopt;
    const auto classId = classOfKind(descr->kind, descr->elsize);
    if (!classId || PyDataType_HASFIELDS(descr)) {
        throw py::type_error(
            "tzcumfun does not support dtype " +
            py::str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))).cast<std::string>());
    }
    Argument arg;
    arg.shape = {PyArray_DIMS(array), static_cast<std::size_t>(PyArray_NDIM(array))};
    arg.known = true;
    arg.made = lendBuffer(array, *classId, arg.reversed);
    const bool logical = *classId == vxLOGICAL_CLASS;
    if (arg.made && !(logical && holdsOddBools(array))) {
        arg.array = arg.made.get();
        arg.owner = py::reinterpret_borrow<py::object>(value);
        return arg;
    }
    ++inputCopies();
    PyArray_Descr* native = PyArray_DescrNewByteorder(PyArray_DESCR(array), NPY_NATIVE);
    if (native == nullptr) throw py::error_already_set();
    auto copy = py::reinterpret_steal<py::object>(
        PyArray_FromAny(value, native, 0, 0,
                        (cOrder ? NPY_ARRAY_C_CONTIGUOUS : NPY_ARRAY_F_CONTIGUOUS) |
                            NPY_ARRAY_ALIGNED | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_ENSUREARRAY,
                        nullptr));
    if (!copy) throw py::error_already_set();
    auto* owned = reinterpret_cast<PyArrayObject*>(copy.ptr());
    if (logical) {
        auto* bytes = static_cast<unsigned char*>(PyArray_DATA(owned));
        std::transform(bytes, bytes + PyArray_NBYTES(owned), bytes,
                       [](unsigned char byte) { return byte != 0 ? 1 : 0; });
    }
    arg.made = lendBuffer(owned, *classId, arg.reversed);
    arg.shape = {PyArray_DIMS(owned), arg.shape.size()};
    arg.array = arg.made.get();
    arg.owner = std::move(copy);
    return arg;
}

// The host array one Python argument stands for. With `defer`, nothing for an argument that only
// the package's Python code converts (text arrays, SciPy sparse data, sequences); without it,
// such an argument is refused. An ndarray that must be copied is copied in C order if `cOrder`.
std::optional<Argument> hostArgument(PyObject* value, bool defer, bool cOrder = false) {
    if (PyArray_Check(value)) return ndarrayArgument(value, defer, cOrder);
    if (PyUnicode_Check(value)) return madeArgument(standin::makeChar(utf16Of(value)), false);
    if (PyBool_Check(value)) return madeArgument(scalar(vxLOGICAL_CLASS, value == Py_True), true);
    if (PyFloat_Check(value)) {
        return madeArgument(scalar(vxDOUBLE_CLASS, PyFloat_AsDouble(value)), true);
    }
    if (PyLong_Check(value)) {
        double number = PyLong_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) {
            // Beyond every double: the host refuses it as it refuses an infinite dimension.
            PyErr_Clear();
            const int positive = PyObject_RichCompareBool(value, py::int_(0).ptr(), Py_GT);
            if (positive < 0) throw py::error_already_set();
            number = positive != 0 ? kInfinity : -kInfinity;
        }
        return madeArgument(scalar(vxDOUBLE_CLASS, number), true);
    }
    if (PyArray_IsScalar(value, Generic)) {
        const auto array = py::reinterpret_steal<py::object>(PyArray_FromScalar(value, nullptr));
        if (!array) throw py::error_already_set();
        return ndarrayArgument(array.ptr(), defer);
    }
    if (py::isinstance<HostArray>(value)) {
        Argument arg;
        arg.array = py::handle(value).cast<HostArray&>().handle.get();
        arg.owner = py::reinterpret_borrow<py::object>(value);
        return arg;
    }
    if (defer) return std::nullopt;
    throw py::type_error(std::string("tzcumfun cannot pass a ") + Py_TYPE(value)->tp_name +
                         " to the host");
}

// Room for a gateway's four inputs without an allocation.
template <class T>
using Inputs = boost::container::small_vector<T, 4>;

// A call resolved: what the gateway receives and what the call asks for.
struct Resolved {
    CumOp op = CumOp::Sum;
    int nargout = 1;
    Inputs<Argument> args;
    Inputs<const vxArray_tag*> prhs;  // the gateway's inputs
    matrix::ArrayHandle dimension;    // made for `prhs` when the call's own cannot go as is
    std::array<matrix::ArrayHandle, 2> words;
    // False when the argument counts are the host's to refuse: the gateway reports them and
    // nothing below is set.
    bool checked = false;
    bool numpyTerms = false;
    std::size_t workDim = 0;  // 0-based, counted on the caller's shape
    bool forward = true;
    std::uint8_t nanFlag = 0;
    int resultType = NPY_NOTYPE;  // NumPy's type of the result before the host's rules apply
    PyObject* source = nullptr;   // the caller's first argument, as given

    // Built in place and never moved: `prhs` and the shape point into what its arguments own.
    Resolved() = default;
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;

    UserShape user() const {
        if (args.empty() || !args[0].known) return {};
        return {args[0].shape, true, args[0].reversed};
    }
};

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

// Runs the gateways' argument reader on the call, turning its refusals into the package's errors.
void readArguments(CumOp op, Arguments prhs, std::size_t& dim, std::uint8_t& direction,
                   std::uint8_t& nanFlag) {
    try {
        tzcumfun::parseCumArgs(op, static_cast<int>(prhs.size()),
                               const_cast<const vxArray_tag**>(prhs.data()), dim, direction,
                               nanFlag);
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
}

// The host dimensions of the caller's view of the data, made in `storage` from a NumPy shape.
std::span<const std::size_t> callerDims(const Argument& data,
                                        std::array<std::size_t, NPY_MAXDIMS>& storage) {
    if (!data.known) return tzcumfun::dimensionsOf(data.array);
    if (data.shape.size() >= 2) {
        std::copy(data.shape.begin(), data.shape.end(), storage.begin());
        return {storage.data(), data.shape.size()};
    }
    storage = {1, data.shape.empty() ? 1 : static_cast<std::size_t>(data.shape[0])};
    return {storage.data(), 2};
}

// Settles the call's working dimension, direction, NaN flag and result dtype, and what the
// gateway receives, from `call.args` and the keywords.
void settle(Resolved& call, const NumpyTerms& terms) {
    const std::size_t nargs = call.args.size();
    call.prhs.clear();
    for (const Argument& arg : call.args)
        call.prhs.push_back(arg.array);
    if (call.nargout > 1 || nargs < 1 || nargs > 4) return;
    call.checked = true;
    const Argument& data = call.args[0];
    std::array<std::size_t, NPY_MAXDIMS> storage{};
    const std::span<const std::size_t> dims = callerDims(data, storage);
    const std::size_t ndim = data.known ? data.shape.size() : dims.size();

    std::size_t dim = 0;
    std::uint8_t direction = 1;
    std::uint8_t nanFlag = call.op == CumOp::Min || call.op == CumOp::Max ? 1 : 0;
    call.numpyTerms = call.numpyTerms || terms.given();
    if (terms.given()) {
        if (terms.axis != nullptr) dim = dimensionOfAxis(terms.axis, ndim);
        if (terms.reverse != nullptr) direction = directionOf(terms.reverse);
        if (terms.nan != nullptr) nanFlag = nanFlagOf(terms.nan);
        std::size_t unused = 0;
        std::uint8_t unusedDirection = 1;
        std::uint8_t unusedNaN = 0;
        readArguments(call.op, {call.prhs.data(), 1}, unused, unusedDirection, unusedNaN);
    } else {
        readArguments(call.op, {call.prhs.data(), call.prhs.size()}, dim, direction, nanFlag);
    }
    call.workDim = dim == 0 ? mathcoreFindFirstNonSingleton(dims.size(), dims.data()) : dim - 1;
    call.forward = direction != 0;
    call.nanFlag = nanFlag;
    const vxClassID classId = tzcumfun::classOf(data.array);
    const bool toDouble =
        classId == vxLOGICAL_CLASS && (call.op == CumOp::Sum || call.op == CumOp::Prod);
    call.resultType =
        typeOfClass(toDouble ? vxDOUBLE_CLASS : classId, tzcumfun::isComplex(data.array));

    // The gateway reads a C-ordered buffer's dimensions from the other end, so a dimension within
    // the shape is passed counted from there; one past the last is a singleton either way.
    const bool reversed = data.reversed && call.workDim < dims.size();
    if (!terms.given() && !reversed) return;
    const std::size_t firstOption = dim != 0 ? 2 : 1;
    while (call.prhs.size() > 1)
        call.prhs.pop_back();
    if (reversed) {
        call.dimension = scalar(vxDOUBLE_CLASS, static_cast<double>(dims.size() - call.workDim));
        call.prhs.push_back(call.dimension.get());
    } else if (dim != 0) {
        call.dimension = scalar(vxDOUBLE_CLASS, static_cast<double>(dim));
        call.prhs.push_back(call.dimension.get());
    }
    if (!terms.given()) {
        for (std::size_t option = firstOption; option < nargs; ++option)
            call.prhs.push_back(call.args[option].array);
        return;
    }
    if (terms.reverse != nullptr) {
        call.words[0] = asciiRow(call.forward ? "forward" : "reverse");
        call.prhs.push_back(call.words[0].get());
    }
    if (terms.nan != nullptr) {
        call.words[1] = asciiRow(nanFlag != 0 ? "omitnan" : "includenan");
        call.prhs.push_back(call.words[1].get());
    }
}

CumOp operationOf(int op) {
    if (op < 0 || op >= static_cast<int>(kGateways.size())) {
        throw py::value_error("no such operation");
    }
    return static_cast<CumOp>(op);
}

// Starts `call` with nothing converted yet; refuses host arguments mixed with keywords.
void start(Resolved& call, int op, int nargout, std::size_t nargs, const NumpyTerms& terms) {
    call.op = operationOf(op);
    call.nargout = nargout;
    if (terms.given() && nargs > 1) {
        throw py::type_error(std::string(kNames[op]) +
                             "() takes either the host's arguments (dim, option words) or the "
                             "keywords axis, reverse and nan, not both");
    }
    call.args.reserve(nargs);
}

// Converts the arguments and settles the call; false when, with `defer`, an argument is the
// package's Python code to convert.
bool resolve(Resolved& call, int op, int nargout, std::span<PyObject* const> args,
             const NumpyTerms& terms, bool defer) {
    start(call, op, nargout, args.size(), terms);
    call.source = args.empty() ? nullptr : args[0];
    // Data that must be copied is copied in the order of a C-ordered out, so that the scan still
    // writes straight into it.
    auto* out = reinterpret_cast<PyArrayObject*>(terms.out);
    const bool cOrder = out != nullptr && PyArray_Check(terms.out) &&
                        PyArray_IS_C_CONTIGUOUS(out) && !PyArray_IS_F_CONTIGUOUS(out);
    for (PyObject* value : args) {
        std::optional<Argument> arg = hostArgument(value, defer, cOrder);
        if (!arg) return false;
        call.args.push_back(std::move(*arg));
    }
    settle(call, terms);
    return true;
}

// ---- Results written into the caller's array -------------------------------------------------
//
// With `out`, the host is offered out's buffer for the result array it is about to make, so the
// scan writes there and nothing is allocated or copied. The offer is made only when out's element
// order is the order the host lays the result out in (the input's); otherwise, and where the host
// returns without making a fresh result (a singleton dimension, an empty array), the finished
// result is copied into out.

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

// Whether the call may write into `out`, refusing it with the reason before anything runs; true
// when the scan can write into out's buffer itself. `out` may be the input: the scan then runs
// in place.
bool checkOut(const Resolved& call, PyObject* out) {
    const std::string name = std::string(kNames[static_cast<int>(call.op)]) + "(): out ";
    if (!PyArray_Check(out) || isMasked(out)) {
        throw py::type_error(name + "must be a NumPy ndarray, not " + Py_TYPE(out)->tp_name);
    }
    const Argument& data = call.args[0];
    if (!data.known || standin::isSparse(data.array)) {
        throw py::type_error(name +
                             "takes dense results only, and sparse input gives a sparse "
                             "one");
    }
    auto* target = reinterpret_cast<PyArrayObject*>(out);
    py::object expected = py::reinterpret_steal<py::object>(
        reinterpret_cast<PyObject*>(PyArray_DescrFromType(call.resultType)));
    auto* descr = reinterpret_cast<PyArray_Descr*>(expected.ptr());
    if (!PyArray_EquivTypenums(PyArray_TYPE(target), call.resultType)) {
        throw py::type_error(name + "has dtype " + dtypeText(PyArray_DESCR(target)) +
                             ", and the result's is " + dtypeText(descr));
    }
    const std::span<const npy_intp> shape{PyArray_DIMS(target),
                                          static_cast<std::size_t>(PyArray_NDIM(target))};
    if (!std::equal(shape.begin(), shape.end(), data.shape.begin(), data.shape.end())) {
        throw py::value_error(name + "has shape " + shapeText(shape) + ", and the result's is " +
                              shapeText(data.shape));
    }
    const int flags = PyArray_FLAGS(target);
    if ((flags & NPY_ARRAY_WRITEABLE) == 0) throw py::value_error(name + "is read-only");
    if ((flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) == 0) {
        throw py::value_error(name + "must be C- or Fortran-contiguous");
    }
    if ((flags & NPY_ARRAY_ALIGNED) == 0 || !PyArray_ISNOTSWAPPED(target)) {
        throw py::value_error(name + "must be aligned and in native byte order");
    }
    if (call.source != nullptr && PyArray_Check(call.source)) {
        auto* input = reinterpret_cast<PyArrayObject*>(call.source);
        const auto [first, last] = extentOf(input);
        const auto [outFirst, outLast] = extentOf(target);
        // The shapes already agree, so the same start, dtype and strides make the same elements;
        // the stride of an axis of length 1 is never used.
        bool same = PyArray_BYTES(input) == PyArray_BYTES(target) &&
                    PyArray_EquivTypes(PyArray_DESCR(input), PyArray_DESCR(target)) &&
                    PyArray_NDIM(input) == PyArray_NDIM(target);
        for (int axis = 0; same && axis < PyArray_NDIM(target); ++axis) {
            same = shape[axis] < 2 || PyArray_STRIDE(input, axis) == PyArray_STRIDE(target, axis);
        }
        if (!same && first < outLast && outFirst < last) {
            throw py::value_error(name + "shares memory with the input without being it");
        }
    }
    return (flags & (data.reversed ? NPY_ARRAY_C_CONTIGUOUS : NPY_ARRAY_F_CONTIGUOUS)) != 0;
}

// The array a call scans into for `out`: out itself when `direct`, else a new one of out's dtype
// in the host's order, copied into out afterwards; nothing for an empty out.
py::object scanTarget(const Resolved& call, PyObject* out, bool direct) {
    auto* target = reinterpret_cast<PyArrayObject*>(out);
    if (PyArray_SIZE(target) == 0 || direct) {
        return py::reinterpret_borrow<py::object>(PyArray_SIZE(target) == 0 ? Py_None : out);
    }
    Py_INCREF(PyArray_DESCR(target));
    auto staging = py::reinterpret_steal<py::object>(
        PyArray_Empty(PyArray_NDIM(target), PyArray_DIMS(target), PyArray_DESCR(target),
                      call.args[0].reversed ? 0 : 1));
    if (!staging) throw py::error_already_set();
    return staging;
}

py::object run(Resolved& call, PyObject* out = nullptr) {
    const bool intoOut = out != nullptr && call.checked;
    const bool direct = intoOut && checkOut(call, out);
    const py::object scanned = intoOut ? scanTarget(call, out, direct) : py::none();
    matrix::ArrayHandle result;
    bool taken = false;
    try {
        std::optional<standin::BufferOffer> offer;
        if (!scanned.is_none()) {
            auto* buffer = reinterpret_cast<PyArrayObject*>(scanned.ptr());
            const PyArray_Descr* descr = PyArray_DESCR(buffer);
            offer.emplace(*classOfKind(descr->kind, descr->elsize),
                          PyArray_ISCOMPLEX(buffer) ? vxCOMPLEX : vxREAL,
                          static_cast<std::size_t>(PyArray_SIZE(buffer)), PyArray_DATA(buffer));
        }
        const GilRelease unlocked(!call.prhs.empty() &&
                                  standin::numel(call.prhs[0]) >= kReleaseGilFrom);
        kGateways[static_cast<int>(call.op)](call.nargout, &result,
                                             static_cast<int>(call.prhs.size()), call.prhs.data());
        taken = offer && offer->taken();
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
    if (out != nullptr && !intoOut)
        throw py::value_error("the host accepted a call it must refuse");
    if (call.nargout == 0 || !result) return py::none();
    // In the host's terms a complex result whose imaginary parts are all zero comes back real.
    const int hostType =
        typeOfClass(standin::classOf(result.get()), standin::isComplex(result.get()));
    const int type = call.numpyTerms || intoOut ? call.resultType : hostType;
    if (!intoOut) {
        if (standin::isSparse(result.get())) return sparseResult(result.get(), type);
        return denseResult(std::move(result), {call.prhs.data(), call.prhs.size()}, call.user(),
                           type);
    }
    auto* target = reinterpret_cast<PyArrayObject*>(out);
    py::object written = py::reinterpret_borrow<py::object>(out);
    // Without a fresh result the host handed back its input (a singleton dimension) or nothing.
    const bool inOut =
        taken ? direct : PyArray_SIZE(target) == 0 || result->data == PyArray_DATA(target);
    if (inOut) return written;
    if (!taken && direct && hostType == type) {
        std::memcpy(PyArray_DATA(target), result->data,
                    static_cast<std::size_t>(PyArray_NBYTES(target)));
        return written;
    }
    const py::object source =
        taken ? scanned
              : denseResult(std::move(result), {call.prhs.data(), call.prhs.size()}, call.user(),
                            type);
    if (PyArray_CopyInto(target, reinterpret_cast<PyArrayObject*>(source.ptr())) < 0) {
        throw py::error_already_set();
    }
    return written;
}

NumpyTerms termsOf(const py::object& axis, const py::object& reverse, const py::object& nan,
                   const py::object& out = py::none()) {
    const auto given = [](const py::object& value) {
        return value.is_none() ? nullptr : value.ptr();
    };
    return {given(axis), given(reverse), given(nan), given(out)};
}

std::vector<PyObject*> pointersOf(const py::sequence& args) {
    std::vector<PyObject*> values;
    values.reserve(args.size());
    for (const py::handle value : args)
        values.push_back(value.ptr());
    return values;
}

// The package's Python path: every argument already one the resolver converts.
py::object runCall(int op, int nargout, const py::sequence& args, const py::object& axis,
                   const py::object& reverse, const py::object& nan, const py::object& out) {
    const std::vector<PyObject*> values = pointersOf(args);
    const NumpyTerms terms = termsOf(axis, reverse, nan, out);
    Resolved call;
    (void)resolve(call, op, nargout, values, terms, false);
    return run(call, terms.out);
}

// tzcumfun.dask's question: the scan a call on an array of `shape` makes, with `prototype` (an
// ndarray of the array's dtype, of any shape) standing for the data. Answers the NumPy axis
// scanned (None when every vector has one element), whether it runs forward, the NaN flag and the
// result's dtype, or raises what the in-memory call raises.
py::tuple resolveLazy(int op, const py::object& prototype, const std::vector<npy_intp>& shape,
                      const py::sequence& args, const py::object& axis, const py::object& reverse,
                      const py::object& nan) {
    std::vector<PyObject*> values = pointersOf(args);
    values.insert(values.begin(), prototype.ptr());
    const NumpyTerms terms = termsOf(axis, reverse, nan);
    Resolved call;
    start(call, op, 1, values.size(), terms);
    call.numpyTerms = true;
    for (PyObject* value : values)
        call.args.push_back(*hostArgument(value, false));
    call.args[0].shape = shape;
    call.args[0].known = true;
    call.args[0].reversed = false;
    settle(call, terms);
    if (!call.checked) {
        (void)run(call);  // the host's count error
        throw py::value_error("the host accepted a call it must refuse");
    }
    const std::size_t ndim = shape.size();
    py::object scanned = py::none();
    if (ndim == 1 && call.workDim == 1) scanned = py::int_(0);
    if (ndim >= 2 && call.workDim < ndim) scanned = py::int_(call.workDim);
    return py::make_tuple(scanned, call.forward, call.nanFlag, py::dtype(call.resultType));
}

// ---- Entry points of the package's four functions -------------------------------------------
//
// cumsum(A, ...) runs through the resolver here, with no Python code on the way to the gateway,
// unless an argument is one only the package's Python code converts (text arrays, SciPy sparse
// data, sequences), or the call is malformed for Python (an unknown keyword, no A): then the
// package's Python function takes it, and reaches the same resolver.

struct Entry {
    PyMethodDef method{};
    py::object python;
};

std::array<Entry, 4>& entries() {
    static auto* table = new std::array<Entry, 4>();  // outlives every function object made
    return *table;
}

struct KeywordNames {
    PyObject* axis = PyUnicode_InternFromString("axis");
    PyObject* reverse = PyUnicode_InternFromString("reverse");
    PyObject* nan = PyUnicode_InternFromString("nan");
    PyObject* out = PyUnicode_InternFromString("out");
};

const KeywordNames& keywordNames() {
    static const auto* names = new KeywordNames();
    return *names;
}

bool isKeyword(PyObject* name, PyObject* interned) {
    return name == interned || PyUnicode_Compare(name, interned) == 0;
}

// The keywords of a vectorcall; false when one is not the package's.
bool keywordsOf(PyObject* const* values, PyObject* names, NumpyTerms& terms) {
    const KeywordNames& known = keywordNames();
    for (Py_ssize_t index = 0; index < PyTuple_GET_SIZE(names); ++index) {
        PyObject* name = PyTuple_GET_ITEM(names, index);
        PyObject* const value = values[index] == Py_None ? nullptr : values[index];
        if (isKeyword(name, known.axis)) {
            terms.axis = value;
        } else if (isKeyword(name, known.reverse)) {
            terms.reverse = value;
        } else if (isKeyword(name, known.nan)) {
            terms.nan = value;
        } else if (isKeyword(name, known.out)) {
            terms.out = value;
        } else {
            return false;
        }
    }
    return true;
}

// The call's result, or an empty object when the package's Python function must take the call.
py::object fastCall(int op, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    NumpyTerms terms;
    if (nargs < 1 || (kwnames != nullptr && !keywordsOf(args + nargs, kwnames, terms))) return {};
    Resolved call;
    if (!resolve(call, op, 1, {args, static_cast<std::size_t>(nargs)}, terms, true)) return {};
    return run(call, terms.out);
}

template <int Op>
PyObject* entryPoint(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames) {
    try {
        py::object result = fastCall(Op, args, PyVectorcall_NARGS(nargsf), kwnames);
        if (result) return result.release().ptr();
    } catch (...) {
        py::detail::translate_exception(std::current_exception());
        return nullptr;
    }
    return PyObject_Vectorcall(entries()[Op].python.ptr(), args, nargsf, kwnames);
}

using FastEntryPoint = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
constexpr std::array<FastEntryPoint, 4> kEntryPoints{entryPoint<0>, entryPoint<1>, entryPoint<2>,
                                                     entryPoint<3>};

// The function the package exports as operation `op`: calls run here, and those with arguments
// only Python converts run `python`. `doc` is its docstring, opening with the text signature
// Python reads.
py::object makeEntryPoint(const py::module_& module, int op, py::object python,
                          const std::string& doc) {
    (void)operationOf(op);
    Entry& entry = entries()[op];
    entry.python = std::move(python);
    // Function objects made earlier keep pointing at the method record, so it is never freed.
    const char* const text = (new std::string(doc))->c_str();
    // CPython stores every calling convention under PyCFunction and calls it by the flags.
    const auto function =
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kEntryPoints[op]));
    entry.method = {kNames[op], function, METH_FASTCALL | METH_KEYWORDS, text};
    return py::reinterpret_steal<py::object>(
        PyCFunction_NewEx(&entry.method, module.ptr(), py::str("tzcumfun").ptr()));
}

}  // namespace

PYBIND11_MODULE(_tzcumfun, module) {
    module.doc() = "The call resolver, host arrays and gateway calls behind the tzcumfun package.";
    if (_import_array() < 0) throw py::error_already_set();
    // Loading the module is loading the library, as a host would: it is told at both ends.
    KXInitialize_libtzmathelem_cumfun();
    py::module_::import("atexit").attr("register")(
        py::cpp_function([] { KXTerminate_libtzmathelem_cumfun(); }));

    const py::class_<HostArray> hostArray(
        module, "HostArray",
        "One host array built for a gateway call; it lives as long as its Python object.");
    module.attr("masked_refusal") = kMaskedRefusal;

    module.def("string_array", &makeStringArray, py::arg("values"), py::arg("shape"),
               "A host string array from UTF-16-LE bytes or None (missing), in column-major "
               "order.");
    module.def("sparse", &makeSparseArray, py::arg("rows"), py::arg("cols"), py::arg("col_starts"),
               py::arg("row_indices"), py::arg("values"),
               "A host compressed-column sparse array of double or logical data.");
    module.def("run", &runCall, py::arg("op"), py::arg("nargout"), py::arg("args"),
               py::arg("axis") = py::none(), py::arg("reverse") = py::none(),
               py::arg("nan") = py::none(), py::arg("out") = py::none(),
               "Resolves and runs gateway `op` (0 cumsum, 1 cumprod, 2 cummin, 3 cummax) on "
               "`args` (ndarrays, NumPy scalars, str, bool, int, float or HostArray), without the "
               "GIL when the data is large, into `out` when given. Returns an array (`out` "
               "itself when given), a tuple of sparse parts, or None when nargout is 0.");
    module.def("resolve", &resolveLazy, py::arg("op"), py::arg("prototype"), py::arg("shape"),
               py::arg("args"), py::arg("axis") = py::none(), py::arg("reverse") = py::none(),
               py::arg("nan") = py::none(),
               "The scan a call on an array of `shape` and `prototype`'s dtype makes: (axis or "
               "None, forward, NaN flag, result dtype), in NumPy's terms.");
    module.def(
        "entry_point",
        [module](int op, py::object python, const std::string& doc) {
            return makeEntryPoint(module, op, std::move(python), doc);
        },
        py::arg("op"), py::arg("python"), py::arg("doc"),
        "The package's function for operation `op`: calls resolve and run here, and those with "
        "arguments only Python converts go to `python`.");
    module.def(
        "set_error_types",
        [](py::object korvex, py::object dataType) {
            errorTypes() = {std::move(korvex), std::move(dataType)};
        },
        py::arg("korvex"), py::arg("data_type"),
        "Registers the exception classes raised for host errors and for refusals of the data's "
        "type.");
    module.def(
        "input_copies", [] { return inputCopies(); },
        "How many array inputs were copied so far (C- and Fortran-ordered ones never are).");
    module.def(
        "cpu_level",
        [](const std::optional<std::string>& force) {
            if (force) tzcumfunForceCpuLevel(force->empty() ? nullptr : force->c_str());
            return std::string(tzcumfunCpuLevel());
        },
        py::arg("force") = py::none(),
        "The instruction level the scans run at; `force` (tests) runs later scans at a level, "
        "or with \"\" at the one chosen from the processor and TZCUMFUN_CPU.");
    module.def("live_arrays", &standin::liveArrays, "Host arrays alive in this process.");
    module.def("fail_after", &standin::failAfter, py::arg("n"),
               "Makes the n-th host allocation from now fail (0 disarms).");
    module.def("fault_countdown", &standin::faultCountdown,
               "Host allocations left before the armed failure.");
}
