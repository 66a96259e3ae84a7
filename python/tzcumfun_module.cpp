// The _tzcumfun extension: host arrays over NumPy buffers, gateway calls without the GIL, and
// results handed to NumPy without a copy.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "gateways/cumfun.hpp"
#include "host/tzfl.hpp"
#include "host/vx.hpp"
#include "standin/standin.hpp"

namespace py = pybind11;

namespace {

using Gateway = void (*)(int, matrix::ArrayHandle*, int, const vxArray_tag**);

// Indexed by the operation number the Python package passes.
constexpr std::array<Gateway, 4> kGateways{mathelemCumsumFcn, mathelemCumprodFcn, mathelemCumminFcn,
                                           mathelemCummaxFcn};

// One argument of a call. A borrowed array keeps the NumPy object that owns its elements.
struct HostArray {
    matrix::ArrayHandle handle;
    py::object owner;
};

// The package's KorvexError class, registered once at import.
py::object& errorType() {
    static auto* type = new py::object();  // never destroyed: interpreter shutdown order varies
    return *type;
}

// NumPy shapes become host dimensions: a 0-d array is 1-by-1 and a 1-D array a 1-by-n row.
standin::Dims hostDims(const std::vector<py::ssize_t>& shape) {
    if (shape.empty()) return {1, 1};
    if (shape.size() == 1) return {1, static_cast<std::size_t>(shape[0])};
    return {shape.begin(), shape.end()};
}

std::vector<py::ssize_t> shapeOf(const py::array& array) {
    return {array.shape(), array.shape() + array.ndim()};
}

vxClassID classOfDtype(const py::dtype& dtype) {
    const auto size = dtype.itemsize();
    switch (dtype.kind()) {
        case 'b':
            if (size == 1) return vxLOGICAL_CLASS;
            break;
        case 'f':
        case 'c': {
            const auto part = dtype.kind() == 'c' ? size / 2 : size;
            if (part == 8) return vxDOUBLE_CLASS;
            if (part == 4) return vxSINGLE_CLASS;
            break;
        }
        case 'i':
        case 'u': {
            const bool isSigned = dtype.kind() == 'i';
            if (size == 1) return isSigned ? vxINT8_CLASS : vxUINT8_CLASS;
            if (size == 2) return isSigned ? vxINT16_CLASS : vxUINT16_CLASS;
            if (size == 4) return isSigned ? vxINT32_CLASS : vxUINT32_CLASS;
            if (size == 8) return isSigned ? vxINT64_CLASS : vxUINT64_CLASS;
            break;
        }
        default:
            break;
    }
    throw py::type_error("tzcumfun does not support dtype " +
                         py::str(py::handle(dtype)).cast<std::string>());
}

py::dtype dtypeOfClass(vxClassID classId, bool complex) {
    switch (classId) {
        case vxLOGICAL_CLASS:
            return py::dtype::of<bool>();
        case vxDOUBLE_CLASS:
            return complex ? py::dtype::of<std::complex<double>>() : py::dtype::of<double>();
        case vxSINGLE_CLASS:
            return complex ? py::dtype::of<std::complex<float>>() : py::dtype::of<float>();
        case vxINT8_CLASS:
            return py::dtype::of<std::int8_t>();
        case vxUINT8_CLASS:
            return py::dtype::of<std::uint8_t>();
        case vxINT16_CLASS:
            return py::dtype::of<std::int16_t>();
        case vxUINT16_CLASS:
            return py::dtype::of<std::uint16_t>();
        case vxINT32_CLASS:
            return py::dtype::of<std::int32_t>();
        case vxUINT32_CLASS:
            return py::dtype::of<std::uint32_t>();
        case vxINT64_CLASS:
            return py::dtype::of<std::int64_t>();
        case vxUINT64_CLASS:
            return py::dtype::of<std::uint64_t>();
        default:
            throw py::type_error("the host returned an array of class " +
                                 std::to_string(static_cast<int>(classId)));
    }
}

// The package hands over only arrays it has already put in Fortran order; anything else here is
// a fault in the package, not in the caller's data.
HostArray borrowNumeric(const py::array& array) {
    const vxClassID classId = classOfDtype(array.dtype());
    const int wanted = static_cast<int>(py::array::f_style) |
                       static_cast<int>(py::detail::npy_api::NPY_ARRAY_ALIGNED_);
    if ((array.flags() & wanted) != wanted || array.dtype().byteorder() == '>') {
        throw py::value_error("a host array needs an aligned, native, Fortran-ordered buffer");
    }
    const vxComplexity complexity = array.dtype().kind() == 'c' ? vxCOMPLEX : vxREAL;
    // The host never writes a borrowed buffer, so a read-only array may lend its memory too.
    auto* data = const_cast<void*>(array.data());
    return {standin::makeBorrowed(classId, hostDims(shapeOf(array)), complexity, data), array};
}

std::u16string utf16Of(const py::bytes& units) {
    const std::string raw = units;
    std::u16string text(raw.size() / 2, u'\0');
    std::memcpy(text.data(), raw.data(), text.size() * 2);
    return text;
}

template <class T>
HostArray makeScalar(vxClassID classId, T value) {
    matrix::ArrayHandle array = standin::makeArray(classId, {1, 1});
    *static_cast<T*>(array->data) = value;
    return {std::move(array), {}};
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

std::vector<py::ssize_t> fortranStrides(const std::vector<py::ssize_t>& shape,
                                        py::ssize_t itemsize) {
    std::vector<py::ssize_t> strides(shape.size());
    py::ssize_t step = itemsize;
    for (std::size_t axis = 0; axis < shape.size(); ++axis) {
        strides[axis] = step;
        step *= std::max<py::ssize_t>(shape[axis], 1);
    }
    return strides;
}

// A sparse result as its compressed-column parts; the package builds the SciPy object.
py::tuple sparseResult(const vxArray_tag* result) {
    const standin::SparseParts parts = standin::sparseOf(result);
    const py::dtype dtype = dtypeOfClass(standin::classOf(result), standin::isComplex(result));
    py::array_t<std::int64_t> colStarts(static_cast<py::ssize_t>(parts.colStarts.size()));
    py::array_t<std::int64_t> rowIndices(static_cast<py::ssize_t>(parts.rowIndices.size()));
    std::copy(parts.colStarts.begin(), parts.colStarts.end(), colStarts.mutable_data());
    std::copy(parts.rowIndices.begin(), parts.rowIndices.end(), rowIndices.mutable_data());
    py::array values(dtype,
                     std::vector<py::ssize_t>{static_cast<py::ssize_t>(parts.rowIndices.size())});
    if (values.nbytes() != 0) std::memcpy(values.mutable_data(), parts.values, values.nbytes());
    return py::make_tuple(parts.rows, parts.cols, colStarts, rowIndices, values);
}

// A full result as a Fortran-ordered array in `shape` when its element count allows, else in
// the host's dimensions. The array takes over the host's buffer unless another array may still
// reach it, since a result must never alias the caller's input.
py::array denseResult(matrix::ArrayHandle result, const std::vector<const vxArray_tag*>& inputs,
                      const std::optional<std::vector<py::ssize_t>>& shape) {
    const py::dtype dtype =
        dtypeOfClass(standin::classOf(result.get()), standin::isComplex(result.get()));
    const standin::Dims dims = standin::dimsOf(result.get());
    const std::size_t count = standin::numel(result.get());
    std::vector<py::ssize_t> outShape(dims.begin(), dims.end());
    if (shape) {
        std::size_t wanted = 1;
        for (const py::ssize_t length : *shape)
            wanted *= static_cast<std::size_t>(length);
        if (wanted == count) outShape = *shape;
    }
    const auto strides = fortranStrides(outShape, dtype.itemsize());

    bool shared = !standin::ownsDataAlone(result.get());
    for (const vxArray_tag* input : inputs)
        shared = shared || standin::sharesData(result.get(), input);
    if (count == 0 || shared) {
        py::array copy(dtype, outShape, strides);
        if (count != 0) std::memcpy(copy.mutable_data(), result->data, copy.nbytes());
        return copy;
    }
    void* const data = result->data;
    // The capsule takes the array over only once it exists, so a failure to make it loses nothing.
    py::capsule owner(result.get(),
                      [](void* array) { matrix::ArrayHandle(static_cast<vxArray_tag*>(array)); });
    (void)result.release();
    return {dtype, outShape, strides, data, owner};
}

[[noreturn]] void raiseKorvexError(const foundation::core::except::IMsgIDException& error) {
    const auto& msgId = error.GetMsgID();
    py::object instance =
        errorType()(py::str(error.what()), error.GetIdentifier(), msgId.catalog, msgId.key);
    PyErr_SetObject(errorType().ptr(), instance.ptr());
    throw py::error_already_set();
}

py::object callGateway(int op, int nargout, const std::vector<HostArray*>& args,
                       const std::optional<std::vector<py::ssize_t>>& shape) {
    if (op < 0 || op >= static_cast<int>(kGateways.size())) {
        throw py::value_error("no such operation");
    }
    std::vector<const vxArray_tag*> prhs;
    prhs.reserve(args.size());
    for (const HostArray* arg : args)
        prhs.push_back(arg->handle.get());
    matrix::ArrayHandle result;
    try {
        const py::gil_scoped_release unlocked;
        kGateways[op](nargout, &result, static_cast<int>(prhs.size()), prhs.data());
    } catch (const foundation::core::except::IMsgIDException& error) {
        raiseKorvexError(error);
    }
    if (nargout == 0 || !result) return py::none();
    if (standin::isSparse(result.get())) return sparseResult(result.get());
    return denseResult(std::move(result), prhs, shape);
}

}  // namespace

PYBIND11_MODULE(_tzcumfun, module) {
    module.doc() = "Host arrays and gateway calls behind the tzcumfun package.";
    // Loading the module is loading the library, as a host would: it is told at both ends.
    KXInitialize_libtzmathelem_cumfun();
    py::module_::import("atexit").attr("register")(
        py::cpp_function([] { KXTerminate_libtzmathelem_cumfun(); }));

    const py::class_<HostArray> hostArray(
        module, "HostArray",
        "One host array built for a gateway call; it lives as long as its Python object.");

    module.def("numeric", &borrowNumeric, py::arg("array"),
               "A host array over the elements of an aligned, native, Fortran-ordered array.");
    module.def(
        "double_scalar", [](double value) { return makeScalar(vxDOUBLE_CLASS, value); },
        py::arg("value"), "A 1-by-1 host double array.");
    module.def(
        "logical_scalar", [](bool value) { return makeScalar(vxLOGICAL_CLASS, value); },
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
               "Runs gateway `op` (0 cumsum, 1 cumprod, 2 cummin, 3 cummax) without the GIL. "
               "Returns an array, a tuple of sparse parts, or None when nargout is 0.");
    module.def(
        "set_error_type", [](py::object type) { errorType() = std::move(type); }, py::arg("type"),
        "Registers the exception class raised for host errors.");
    module.def("live_arrays", &standin::liveArrays, "Host arrays alive in this process.");
    module.def("fail_after", &standin::failAfter, py::arg("n"),
               "Makes the n-th host allocation from now fail (0 disarms).");
    module.def("fault_countdown", &standin::faultCountdown,
               "Host allocations left before the armed failure.");
}
