// The _tzcumfun extension: host arrays over NumPy buffers, gateway calls, results handed to NumPy
// without a copy, and the entry points that take ndarray calls straight to a gateway.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "element_class.hpp"
#include "gateways/cumfun.hpp"
#include "host/mathcore.hpp"
#include "host/string_matrix.hpp"
#include "host/tzfl.hpp"
#include "host/vx.hpp"
#include "standin/standin.hpp"

namespace py = pybind11;

namespace {

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

// One argument of a call. A borrowed array keeps the NumPy object that owns its elements.
struct HostArray {
    matrix::ArrayHandle handle;
    py::object owner;
    bool reversed = false;  // a C-ordered buffer, whose host dimensions run the other way
};

// The caller's view of the first argument: its NumPy shape when it has one, and whether the host
// holds it in C order, that is with the shape reversed.
struct UserShape {
    std::span<const npy_intp> dims;
    bool known = false;
    bool reversed = false;
};

// The package's KorvexError class, registered once at import.
py::object& errorType() {
    static auto* type = new py::object();  // never destroyed: interpreter shutdown order varies
    return *type;
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

// The package hands over only arrays it has already put in C or Fortran order; anything else here
// is a fault in the package, not in the caller's data.
HostArray borrowNumeric(const py::array& array) {
    bool reversed = false;
    matrix::ArrayHandle handle = lendBuffer(reinterpret_cast<PyArrayObject*>(array.ptr()),
                                            classOfDtype(array.dtype()), reversed);
    if (!handle) throw py::value_error("a host array needs an aligned, native, contiguous buffer");
    return {std::move(handle), array, reversed};
}

// The host's logical bytes hold 0 or 1; a NumPy bool array made from a buffer or a view may hold
// any byte, and such an array is normalised by the package's copying path.
bool holdsOddBools(PyArrayObject* array) {
    const auto* bytes = static_cast<const unsigned char*>(PyArray_DATA(array));
    return std::any_of(bytes, bytes + PyArray_NBYTES(array),
                       [](unsigned char byte) { return byte > 1; });
}

std::u16string utf16Of(const py::bytes& units) {
    const std::string raw = units;
    std::u16string text(raw.size() / 2, u'\0');
    std::memcpy(text.data(), raw.data(), text.size() * 2);
    return text;
}

template <class T>
matrix::ArrayHandle scalar(vxClassID classId, T value) {
    matrix::ArrayHandle array = standin::makeArray(classId, {1, 1});
    *static_cast<T*>(array->data) = value;
    return array;
}

HostArray makeCharRow(const py::bytes& units) {
    return {standin::makeChar(utf16Of(units)), {}};
}

HostArray makeStringArray(const std::vector<std::optional<py::bytes>>& values,
                          const std::vector<py::ssize_t>& shape) {
    std::vector<std::optional<std::u16string>> elements;
    elements.reserve(values.size());
    for (const auto& value : values) {
        elements.push_back(value ? std::optional(utf16Of(*value)) : std::nullopt);
    }
    return {standin::makeString(elements, hostDims(shape)), {}};
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
    return {standin::makeSparse(classId, complexity, rows, cols, starts, indices, values.data()),
            {}};
}

// A sparse result as its compressed-column parts; the package builds the SciPy object.
py::tuple sparseResult(const vxArray_tag* result) {
    const standin::SparseParts parts = standin::sparseOf(result);
    const py::dtype dtype(typeOfClass(standin::classOf(result), standin::isComplex(result)));
    py::array_t<std::int64_t> colStarts(static_cast<py::ssize_t>(parts.colStarts.size()));
    py::array_t<std::int64_t> rowIndices(static_cast<py::ssize_t>(parts.rowIndices.size()));
    std::copy(parts.colStarts.begin(), parts.colStarts.end(), colStarts.mutable_data());
    std::copy(parts.rowIndices.begin(), parts.rowIndices.end(), rowIndices.mutable_data());
    py::array values(dtype,
                     std::vector<py::ssize_t>{static_cast<py::ssize_t>(parts.rowIndices.size())});
    if (values.nbytes() != 0) std::memcpy(values.mutable_data(), parts.values, values.nbytes());
    return py::make_tuple(parts.rows, parts.cols, colStarts, rowIndices, values);
}

void destroyHostArray(PyObject* capsule) {
    const matrix::ArrayHandle array(
        static_cast<vxArray_tag*>(PyCapsule_GetPointer(capsule, nullptr)));
}

// A full result in the caller's shape and order when its element count allows, else in the
// host's dimensions in Fortran order. The array takes over the host's buffer unless another array
// may still reach it, since a result must never alias the caller's input.
py::object denseResult(matrix::ArrayHandle result, Arguments inputs, const UserShape& user) {
    const int type = typeOfClass(standin::classOf(result.get()), standin::isComplex(result.get()));
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
    py::object descr =
        py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyArray_DescrFromType(type)));
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
    return made;
}

[[noreturn]] void raiseKorvexError(const foundation::core::except::IMsgIDException& error) {
    const auto& msgId = error.GetMsgID();
    py::object instance =
        errorType()(py::str(error.what()), error.GetIdentifier(), msgId.catalog, msgId.key);
    PyErr_SetObject(errorType().ptr(), instance.ptr());
    throw py::error_already_set();
}

// A C-ordered first argument reaches the host with its dimensions reversed, so the dimension the
// caller names is passed counted from the other end, and so is the default one, worked out on the
// caller's shape: its first length other than 1. A dimension past the last one is a singleton in
// either order and goes through as given, and so does an argument the host refuses, which it
// then reports itself. Returns the host dimension that `args` now points at, to be kept alive.
matrix::ArrayHandle countFromTheEnd(std::vector<const vxArray_tag*>& args,
                                    std::span<const npy_intp> shape) {
    const bool given = args.size() >= 2 && !Tessaly::String::isScalarText(args[1], false, true);
    std::size_t axis = 0;
    if (given) {
        try {
            axis = mathcoreGetDimArg(args[1]);
        } catch (...) {  // NOLINT(bugprone-empty-catch): the gateway raises the same error
            return {};
        }
        if (axis >= shape.size()) return {};
    } else {
        // Three options can never all be accepted, so such a call fails on them whatever the
        // layout; adding a dimension would only turn that error into a count error.
        if (args.size() >= 4) return {};
        axis = static_cast<std::size_t>(
            std::find_if(shape.begin(), shape.end(), [](npy_intp length) { return length != 1; }) -
            shape.begin());
        if (axis == shape.size()) axis = 0;
    }
    matrix::ArrayHandle dimension =
        scalar(vxDOUBLE_CLASS, static_cast<double>(shape.size() - axis));
    if (given) {
        args[1] = dimension.get();
    } else {
        args.insert(args.begin() + 1, dimension.get());
    }
    return dimension;
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

py::object runGateway(int op, int nargout, Arguments prhs, const UserShape& user) {
    if (op < 0 || op >= static_cast<int>(kGateways.size())) {
        throw py::value_error("no such operation");
    }
    std::vector<const vxArray_tag*> args(prhs.begin(), prhs.end());
    matrix::ArrayHandle dimension;
    if (user.reversed) dimension = countFromTheEnd(args, user.dims);
    matrix::ArrayHandle result;
    try {
        const GilRelease unlocked(!args.empty() && standin::numel(args[0]) >= kReleaseGilFrom);
        kGateways[op](nargout, &result, static_cast<int>(args.size()), args.data());
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
    if (nargout == 0 || !result) return py::none();
    if (standin::isSparse(result.get())) return sparseResult(result.get());
    return denseResult(std::move(result), args, user);
}

py::object callGateway(int op, int nargout, const std::vector<HostArray*>& args,
                       const std::optional<std::vector<py::ssize_t>>& shape) {
    std::vector<const vxArray_tag*> prhs;
    prhs.reserve(args.size());
    for (const HostArray* arg : args)
        prhs.push_back(arg->handle.get());
    UserShape user;
    if (shape) user = {{shape->data(), shape->size()}, true, !args.empty() && args[0]->reversed};
    return runGateway(op, nargout, prhs, user);
}

// ---- Entry points of the package's four functions -------------------------------------------
//
// cumsum(A, ...) with an ndarray A and only the arguments below is converted and run here, with
// no Python code on the way to the gateway: positional Python str (ASCII), int, float and bool
// arguments, or the keywords axis (an int), reverse (a bool) and nan ("include" or "omit").
// Every other call, including each one that ends in a Python-side error, goes to the package's
// Python function, which gives the same results by the same rules.

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
};

const KeywordNames& keywordNames() {
    static const auto* names = new KeywordNames();
    return *names;
}

bool isKeyword(PyObject* name, PyObject* interned) {
    return name == interned || PyUnicode_Compare(name, interned) == 0;
}

matrix::ArrayHandle asciiRow(const char* text, std::size_t length) {
    const std::u16string units(text, text + length);
    return standin::makeChar(units);
}

// The host array the package makes of one positional argument after A, or nothing when the
// argument is not one of the kinds converted here.
matrix::ArrayHandle positionalArgument(PyObject* value) {
    if (PyBool_Check(value)) return scalar(vxLOGICAL_CLASS, value == Py_True);
    if (PyFloat_CheckExact(value)) return scalar(vxDOUBLE_CLASS, PyFloat_AS_DOUBLE(value));
    if (PyLong_CheckExact(value)) {
        const double number = PyLong_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) {  // beyond every double: the package decides
            PyErr_Clear();
            return {};
        }
        return scalar(vxDOUBLE_CLASS, number);
    }
    if (PyUnicode_CheckExact(value) && PyUnicode_IS_ASCII(value)) {
        return asciiRow(static_cast<const char*>(PyUnicode_DATA(value)),
                        static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)));
    }
    return {};
}

// The host dimension an axis names: negative axes count from the end, and the only axis of a 1-D
// array, a 1-by-n row for the host, is dimension 2. Nothing for a value the package must judge.
std::optional<std::int64_t> dimensionOfAxis(PyObject* axis, int ndim) {
    if (!PyLong_CheckExact(axis)) return std::nullopt;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(axis, &overflow);
    if (overflow != 0 || value == LLONG_MAX) return std::nullopt;
    const long long count = std::max(ndim, 1);
    if (value < 0) {
        if (value < -count) return std::nullopt;
        value += count;
    }
    return ndim == 1 && value == 0 ? 2 : value + 1;
}

// The host arguments the keywords stand for, in the package's order: dimension, direction, NaN
// word. False when a keyword is unknown or has a value the package must judge.
bool keywordArguments(PyObject* const* values, PyObject* names, int ndim,
                      std::vector<matrix::ArrayHandle>& made) {
    PyObject* axis = nullptr;
    PyObject* reverse = nullptr;
    PyObject* nan = nullptr;
    const KeywordNames& known = keywordNames();
    for (Py_ssize_t index = 0; index < PyTuple_GET_SIZE(names); ++index) {
        PyObject* name = PyTuple_GET_ITEM(names, index);
        PyObject* const value = values[index] == Py_None ? nullptr : values[index];
        if (isKeyword(name, known.axis)) {
            axis = value;
        } else if (isKeyword(name, known.reverse)) {
            reverse = value;
        } else if (isKeyword(name, known.nan)) {
            nan = value;
        } else {
            return false;
        }
    }
    if (axis != nullptr) {
        const auto dimension = dimensionOfAxis(axis, ndim);
        if (!dimension) return false;
        made.push_back(scalar(vxINT64_CLASS, *dimension));
    }
    if (reverse != nullptr) {
        if (!PyBool_Check(reverse)) return false;
        made.push_back(reverse == Py_True ? asciiRow("reverse", 7) : asciiRow("forward", 7));
    }
    if (nan != nullptr) {
        if (!PyUnicode_Check(nan)) return false;
        if (PyUnicode_CompareWithASCIIString(nan, "include") == 0) {
            made.push_back(asciiRow("includenan", 10));
        } else if (PyUnicode_CompareWithASCIIString(nan, "omit") == 0) {
            made.push_back(asciiRow("omitnan", 7));
        } else {
            return false;
        }
    }
    return true;
}

// The call's result, or an empty object when the package's Python function must take the call.
py::object fastCall(int op, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    // Four inputs are the most a gateway takes, and keywords never mix with further arguments.
    if (nargs < 1 || nargs > 4 || (nkw > 0 && nargs > 1) || !PyArray_Check(args[0])) return {};
    auto* array = reinterpret_cast<PyArrayObject*>(args[0]);
    const PyArray_Descr* descr = PyArray_DESCR(array);
    const auto classId = classOfKind(descr->kind, descr->elsize);
    if (!classId) return {};
    bool reversed = false;
    std::vector<matrix::ArrayHandle> made;
    made.reserve(4);
    made.push_back(lendBuffer(array, *classId, reversed));
    // Only a contiguous buffer's bytes can be read as one run.
    if (!made.back() || (*classId == vxLOGICAL_CLASS && holdsOddBools(array))) return {};
    for (Py_ssize_t index = 1; index < nargs; ++index) {
        made.push_back(positionalArgument(args[index]));
        if (!made.back()) return {};
    }
    if (nkw > 0 && !keywordArguments(args + nargs, kwnames, PyArray_NDIM(array), made)) return {};
    std::array<const vxArray_tag*, 4> prhs{};
    std::transform(made.begin(), made.end(), prhs.begin(),
                   [](const matrix::ArrayHandle& arg) { return arg.get(); });
    const UserShape user{
        {PyArray_DIMS(array), static_cast<std::size_t>(PyArray_NDIM(array))}, true, reversed};
    return runGateway(op, 1, {prhs.data(), made.size()}, user);
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

// The function the package exports as operation `op`: ndarray calls run here, every other call
// runs `python`. `doc` is its docstring, opening with the text signature Python reads.
py::object makeEntryPoint(const py::module_& module, int op, py::object python,
                          const std::string& doc) {
    if (op < 0 || op >= static_cast<int>(kEntryPoints.size())) {
        throw py::value_error("no such operation");
    }
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
    module.doc() = "Host arrays and gateway calls behind the tzcumfun package.";
    if (_import_array() < 0) throw py::error_already_set();
    // Loading the module is loading the library, as a host would: it is told at both ends.
    KXInitialize_libtzmathelem_cumfun();
    py::module_::import("atexit").attr("register")(
        py::cpp_function([] { KXTerminate_libtzmathelem_cumfun(); }));

    const py::class_<HostArray> hostArray(
        module, "HostArray",
        "One host array built for a gateway call; it lives as long as its Python object.");

    module.def("numeric", &borrowNumeric, py::arg("array"),
               "A host array over the elements of an aligned, native array in C or Fortran "
               "order; a C-ordered one is held with its dimensions reversed.");
    module.def(
        "double_scalar",
        [](double value) {
            return HostArray{scalar(vxDOUBLE_CLASS, value), {}};
        },
        py::arg("value"), "A 1-by-1 host double array.");
    module.def(
        "logical_scalar",
        [](bool value) {
            return HostArray{scalar(vxLOGICAL_CLASS, value), {}};
        },
        py::arg("value"), "A 1-by-1 host logical array.");
    module.def("char_row", &makeCharRow, py::arg("units"),
               "A 1-by-n host char array from UTF-16-LE bytes.");
    module.def("string_array", &makeStringArray, py::arg("values"), py::arg("shape"),
               "A host string array from UTF-16-LE bytes or None (missing), in column-major "
               "order.");
    module.def("sparse", &makeSparseArray, py::arg("rows"), py::arg("cols"), py::arg("col_starts"),
               py::arg("row_indices"), py::arg("values"),
               "A host compressed-column sparse array of double or logical data.");
    module.def("call", &callGateway, py::arg("op"), py::arg("nargout"), py::arg("args"),
               py::arg("shape") = py::none(),
               "Runs gateway `op` (0 cumsum, 1 cumprod, 2 cummin, 3 cummax), without the GIL when "
               "the data is large. `shape` is the first argument's NumPy shape: dimensions are "
               "counted on it, and a dense result takes it and that argument's order. Returns an "
               "array, a tuple of sparse parts, or None when nargout is 0.");
    module.def(
        "entry_point",
        [module](int op, py::object python, const std::string& doc) {
            return makeEntryPoint(module, op, std::move(python), doc);
        },
        py::arg("op"), py::arg("python"), py::arg("doc"),
        "The package's function for operation `op`: ndarray calls go straight to the gateway, "
        "every other call to `python`.");
    module.def(
        "set_error_type", [](py::object type) { errorType() = std::move(type); }, py::arg("type"),
        "Registers the exception class raised for host errors.");
    module.def("live_arrays", &standin::liveArrays, "Host arrays alive in this process.");
    module.def("fail_after", &standin::failAfter, py::arg("n"),
               "Makes the n-th host allocation from now fail (0 disarms).");
    module.def("fault_countdown", &standin::faultCountdown,
               "Host allocations left before the armed failure.");
}
