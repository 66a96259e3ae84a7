// The host-array path of a call: arguments only the host reads (text, SciPy sparse data, host
// arrays, dimensions given as arrays) become host arrays and the call runs through the exported
// gateway, as a host runs it; results are handed to NumPy without a copy.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

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
#include "driver/driver.hpp"
#include "element_class.hpp"
#include "gateways/arguments.hpp"
#include "gateways/cumfun.hpp"
#include "host/mathcore.hpp"
#include "host/string_matrix.hpp"
#include "host/tzfl.hpp"
#include "host/vx.hpp"
#include "host_call.hpp"
#include "module.hpp"
#include "standin/standin.hpp"

namespace tzcumfun::python {
namespace {

using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);
using Arguments = std::span<const vxArray_tag* const>;

// The exported gateways, in the order of the core's table of operations.
constexpr std::array<Gateway, kOperations.size()> kGateways{mathelemCumsumFcn, mathelemCumprodFcn,
                                                            mathelemCumminFcn, mathelemCummaxFcn};

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The caller's view of the first argument: its NumPy shape when it has one, and whether the host
// holds it in C order, that is with the shape reversed.
struct UserShape {
    std::span<const npy_intp> dims;
    bool known = false;
    bool reversed = false;
};

// NumPy shapes become host dimensions: a 0-d array is 1-by-1 and a 1-D array a 1-by-n row.
standin::Dims hostDims(std::span<const npy_intp> shape) {
    if (shape.empty()) return {1, 1};
    if (shape.size() == 1) return {1, static_cast<std::size_t>(shape[0])};
    return {shape.begin(), shape.end()};
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

}  // namespace

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

namespace {

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
            PyCapsule_New(result.get(), nullptr, releaseHostArray));
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

// ---- The call resolver -----------------------------------------------------------------------
//
// Every Python entry point resolves a call here: its arguments become host arrays, and the
// gateways' own argument reader settles the working dimension, the direction and the NaN flag,
// refusing what a gateway would refuse, before anything runs. A call made in NumPy's terms (the
// keywords axis, reverse and nan, or any call through tzcumfun.dask) also keeps NumPy's rules:
// an axis must lie within -ndim..ndim-1, and the result's dtype follows the input's dtype alone.

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

// The host array over an ndarray's buffer, or over a native, aligned copy made once when the
// buffer cannot be lent (Fortran-ordered unless `cOrder`).
std::optional<Argument> ndarrayArgument(PyObject* value, bool defer, bool cOrder = false) {
    if (isMasked(value)) throw py::type_error(kMaskedRefusal);
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(value));
    // Text arrays become host string arrays in the package.
    if (defer && (descr->kind == 'U' || descr->kind == 'O')) return std::nullopt;
    std::optional<DenseData> data = denseDataOf(value);
    if (!data) {
        throw py::type_error("tzcumfun does not support dtype " +
                             py::str(reinterpret_cast<PyObject*>(descr)).cast<std::string>());
    }
    makeReadable(*data, cOrder);
    Argument arg;
    PyArrayObject* array = data->array;
    arg.shape = {PyArray_DIMS(array), static_cast<std::size_t>(PyArray_NDIM(array))};
    arg.known = true;
    arg.reversed = data->cOrder;
    standin::Dims dims = hostDims(arg.shape);
    if (arg.reversed) std::reverse(dims.begin(), dims.end());
    // The host never writes a borrowed buffer, so a read-only array may lend its memory too.
    arg.made = standin::makeBorrowed(data->classId, dims, data->complex ? vxCOMPLEX : vxREAL,
                                     PyArray_DATA(array));
    arg.array = arg.made.get();
    arg.owner = data->owner ? std::move(data->owner) : py::reinterpret_borrow<py::object>(value);
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
    CumPlan plan{};
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
    std::uint8_t nanFlag = defaultSettings(call.op).nanFlag;
    call.numpyTerms = call.numpyTerms || terms.given();
    if (terms.given()) {
        const CumSettings settings = settleCall(call.op, ndim, {}, terms)->settings;
        dim = settings.dim;
        direction = settings.direction;
        nanFlag = settings.nanFlag;
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
    // The plan on the host array, its working dimension counted on the buffer's dimensions.
    const std::size_t bufferDim =
        data.reversed && call.workDim < dims.size() ? dims.size() - 1 - call.workDim : call.workDim;
    call.plan = planCumCall(call.op, {bufferDim + 1, direction, nanFlag},
                            describeHostArray(data.array), mathcoreFindFirstNonSingleton);
    call.resultType = resultTypeOf(call.plan);

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

// Starts `call` with nothing converted yet; refuses host arguments mixed with keywords.
void start(Resolved& call, int op, int nargout, std::size_t nargs, const NumpyTerms& terms) {
    call.op = operationOf(op);
    call.nargout = nargout;
    if (terms.given() && nargs > 1) {
        throw py::type_error(std::string(nameOf(call.op)) +
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

// ---- Running a resolved call ----------------------------------------------------------------
//
// Without `out` the gateway runs the call into a fresh host array, which becomes the result. With
// `out` the arguments have been read and refused as the gateway would, so the plan runs from the
// host array's elements straight into out (or into a staging array in the input's order, copied
// into out): a complex result keeps its imaginary parts' bits.

py::object run(Resolved& call, PyObject* out = nullptr) {
    const bool intoOut = out != nullptr && call.checked;
    if (intoOut) {
        const Argument& data = call.args[0];
        if (!data.known || standin::isSparse(data.array)) {
            throw py::type_error(std::string(nameOf(call.op)) +
                                 "(): out takes dense results only, and sparse input gives a "
                                 "sparse one");
        }
        const bool direct =
            checkOut(call.op, out, call.source, data.shape, call.resultType, data.reversed);
        scanInto(call.plan, data.array->data, out, direct, data.reversed);
        return py::reinterpret_borrow<py::object>(out);
    }
    matrix::ArrayHandle result;
    try {
        const GilRelease unlocked(!call.prhs.empty() &&
                                  standin::numel(call.prhs[0]) >= kReleaseGilFrom);
        kGateways[static_cast<int>(call.op)](call.nargout, &result,
                                             static_cast<int>(call.prhs.size()), call.prhs.data());
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
    if (out != nullptr) throw py::value_error("the host accepted a call it must refuse");
    if (call.nargout == 0 || !result) return py::none();
    // In the host's terms a complex result whose imaginary parts are all zero comes back real.
    const int hostType =
        typeOfClass(standin::classOf(result.get()), standin::isComplex(result.get()));
    const int type = call.numpyTerms ? call.resultType : hostType;
    if (standin::isSparse(result.get())) return sparseResult(result.get(), type);
    return denseResult(std::move(result), {call.prhs.data(), call.prhs.size()}, call.user(), type);
}

std::vector<PyObject*> pointersOf(const py::sequence& args) {
    std::vector<PyObject*> values;
    values.reserve(args.size());
    for (const py::handle value : args)
        values.push_back(value.ptr());
    return values;
}

}  // namespace

NumpyTerms termsOf(const py::object& axis, const py::object& reverse, const py::object& nan,
                   const py::object& out, const py::object& dtype) {
    const auto given = [](const py::object& value) {
        return value.is_none() ? nullptr : value.ptr();
    };
    return {given(axis), given(reverse), given(nan), given(out), given(dtype)};
}

py::object hostCall(CumOp op, int nargout, std::span<PyObject* const> args, const NumpyTerms& terms,
                    bool defer) {
    if (terms.dtype != nullptr && terms.given() && args.size() == 1) {
        throw py::type_error(std::string(nameOf(op)) +
                             "(): dtype takes NumPy data of a numeric or bool dtype");
    }
    Resolved call;
    if (!resolve(call, static_cast<int>(op), nargout, args, terms, defer)) return {};
    return run(call, terms.out);
}

py::object runCall(int op, int nargout, const py::sequence& args, const NumpyTerms& terms) {
    const CumOp operation = operationOf(op);
    const std::vector<PyObject*> values = pointersOf(args);
    if (nargout == 1) {
        if (py::object result = denseCall(operation, values, terms)) return result;
    }
    return hostCall(operation, nargout, values, terms, false);
}

py::tuple resolveLazy(int op, const py::object& prototype, const std::vector<npy_intp>& shape,
                      const py::sequence& args, const NumpyTerms& terms) {
    const CumOp operation = operationOf(op);
    std::vector<PyObject*> values = pointersOf(args);
    if (auto planned = planLazy(operation, prototype.ptr(), shape, values, terms)) {
        return *planned;
    }
    // Arguments only the host reads: the host-array path settles the call.
    values.insert(values.begin(), prototype.ptr());
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

}  // namespace tzcumfun::python
