// Calls on NumPy data with no host array: the ndarray is scanned where it lies (or once copied
// into a native buffer), into `out`, into the input, or into a new ndarray.
#include <algorithm>
#include <array>
#include <cstring>

#include "driver/array_header.hpp"
#include "element_class.hpp"
#include "host/mathcore.hpp"
#include "module.hpp"

namespace tzcumfun::python {
namespace {

// The host's logical bytes hold 0 or 1; a NumPy bool array made from a buffer or a view may hold
// any byte. Reads a contiguous buffer as one run.
bool holdsOddBools(PyArrayObject* array) {
    const auto* bytes = static_cast<const unsigned char*>(PyArray_DATA(array));
    return std::any_of(bytes, bytes + PyArray_NBYTES(array),
                       [](unsigned char byte) { return byte > 1; });
}

PyArrayObject* asArray(const py::object& object) {
    return reinterpret_cast<PyArrayObject*>(object.ptr());
}

// Converts to the dtype a call asks for, once; a dtype the host has no class for is refused.
void convertTo(DenseData& data, PyObject* dtype) {
    PyArray_Descr* descr = nullptr;
    if (PyArray_DescrConverter2(dtype, &descr) == 0) throw py::error_already_set();
    const auto owned = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(descr));
    if (descr == nullptr) return;
    const auto classId = classOfKind(descr->kind, descr->elsize);
    if (!classId || PyDataType_HASFIELDS(descr)) {
        throw py::type_error("tzcumfun does not support dtype " +
                             py::str(owned).cast<std::string>());
    }
    if (PyArray_EquivTypes(PyArray_DESCR(data.array), descr)) return;
    Py_INCREF(descr);
    const bool fortran =
        PyArray_IS_F_CONTIGUOUS(data.array) || !PyArray_IS_C_CONTIGUOUS(data.array);
    data.owner =
        py::reinterpret_steal<py::object>(PyArray_CastToType(data.array, descr, fortran ? 1 : 0));
    if (!data.owner) throw py::error_already_set();
    data.array = asArray(data.owner);
    data.classId = *classId;
    data.complex = descr->kind == 'c';
}

}  // namespace

// Copies data that cannot be scanned where it lies into a native, aligned buffer, Fortran-ordered
// unless `cOrder`; logical bytes other than 0 and 1 become 0 or 1.
void makeReadable(DenseData& data, bool cOrder) {
    const int flags = PyArray_FLAGS(data.array);
    const bool contiguous = (flags & (NPY_ARRAY_F_CONTIGUOUS | NPY_ARRAY_C_CONTIGUOUS)) != 0;
    const bool logical = data.classId == vxLOGICAL_CLASS;
    if ((flags & NPY_ARRAY_ALIGNED) == 0 || !PyArray_ISNOTSWAPPED(data.array) || !contiguous ||
        (logical && holdsOddBools(data.array))) {
        ++inputCopies();
        PyArray_Descr* native = PyArray_DescrNewByteorder(PyArray_DESCR(data.array), NPY_NATIVE);
        if (native == nullptr) throw py::error_already_set();
        data.owner = py::reinterpret_steal<py::object>(
            PyArray_FromAny(reinterpret_cast<PyObject*>(data.array), native, 0, 0,
                            (cOrder ? NPY_ARRAY_C_CONTIGUOUS : NPY_ARRAY_F_CONTIGUOUS) |
                                NPY_ARRAY_ALIGNED | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_ENSUREARRAY,
                            nullptr));
        if (!data.owner) throw py::error_already_set();
        data.array = asArray(data.owner);
        if (logical) {
            auto* bytes = static_cast<unsigned char*>(PyArray_DATA(data.array));
            std::transform(bytes, bytes + PyArray_NBYTES(data.array), bytes,
                           [](unsigned char byte) { return byte != 0 ? 1 : 0; });
        }
    }
    data.cOrder = !PyArray_IS_F_CONTIGUOUS(data.array);
}

namespace {

// The data of a call, or nothing when the host path must take it (text, objects, dtypes the host
// has no class for, which it refuses with its own message).
}  // namespace

std::optional<DenseData> denseDataOf(PyObject* value) {
    DenseData data;
    if (PyArray_Check(value)) {
        if (isMasked(value)) throw py::type_error(kMaskedRefusal);
        data.array = reinterpret_cast<PyArrayObject*>(value);
    } else if (PyArray_IsScalar(value, Generic)) {
        data.owner = py::reinterpret_steal<py::object>(PyArray_FromScalar(value, nullptr));
        if (!data.owner) throw py::error_already_set();
        data.array = asArray(data.owner);
    } else {
        return std::nullopt;
    }
    const PyArray_Descr* descr = PyArray_DESCR(data.array);
    const auto classId = classOfKind(descr->kind, descr->elsize);
    if (!classId || PyDataType_HASFIELDS(descr)) return std::nullopt;
    data.classId = *classId;
    data.complex = descr->kind == 'c';
    return data;
}

namespace {

// The plan of a call on `data`, its working dimension settled on the caller's shape and counted
// on the buffer's column-major dimensions.
CumPlan planOn(CumOp op, const CumSettings& settings, const DenseData& data) {
    const std::span<const npy_intp> shape{PyArray_DIMS(data.array),
                                          static_cast<std::size_t>(PyArray_NDIM(data.array))};
    std::array<std::size_t, NPY_MAXDIMS + 1> storage{};
    const std::span<const std::size_t> dims = callerDims(shape, storage);
    std::size_t work = workingDim(settings, dims);
    if (data.cOrder) {
        std::reverse(storage.begin(), storage.begin() + static_cast<std::ptrdiff_t>(dims.size()));
        if (work < dims.size()) work = dims.size() - 1 - work;
    }
    const CumSettings onBuffer{work + 1, settings.direction, settings.nanFlag};
    const CumInput input{data.classId, data.complex, false, PyArray_SIZE(data.array) == 0, dims};
    return planCumCall(op, onBuffer, input, mathcoreFindFirstNonSingleton);
}

void execute(const CumPlan& plan, const void* in, void* out) {
    const GilRelease unlocked(plan.numel >= kReleaseGilFrom);
    executeCumPlan(plan, in, out);
}

py::object emptyLike(PyArrayObject* shapeOf, int type, bool cOrder) {
    auto made = py::reinterpret_steal<py::object>(PyArray_Empty(
        PyArray_NDIM(shapeOf), PyArray_DIMS(shapeOf), PyArray_DescrFromType(type), cOrder ? 0 : 1));
    if (!made) throw py::error_already_set();
    return made;
}

// From this many bytes a result takes its memory from the host, as the host's own results do:
// its cache hands back freed blocks whose pages are already there, where a fresh mapping would
// fault in every page on every call.
constexpr std::size_t kHostMemoryFrom = std::size_t{1} << 20;

// A new result for `plan` of the shape of `shapeOf`, in C order if `cOrder`, else Fortran's.
py::object newResult(PyArrayObject* shapeOf, const CumPlan& plan, bool cOrder) {
    const int type = resultTypeOf(plan);
    if (plan.numel * elementBytes(plan.resultClass, plan.complex) < kHostMemoryFrom) {
        return emptyLike(shapeOf, type, cOrder);
    }
    const std::size_t count = plan.numel;
    matrix::ArrayHandle host = matrix::detail::do_create_uninitnumeric(
        1, &count, plan.resultClass, plan.complex ? vxCOMPLEX : vxREAL);
    // The capsule takes the host array over only once it exists, so a failure loses nothing.
    auto owner =
        py::reinterpret_steal<py::object>(PyCapsule_New(host.get(), nullptr, releaseHostArray));
    if (!owner) throw py::error_already_set();
    void* const data = host.release()->data;
    auto made = py::reinterpret_steal<py::object>(PyArray_NewFromDescr(
        &PyArray_Type, PyArray_DescrFromType(type), PyArray_NDIM(shapeOf), PyArray_DIMS(shapeOf),
        nullptr, data, NPY_ARRAY_WRITEABLE | (cOrder ? 0 : NPY_ARRAY_F_CONTIGUOUS), nullptr));
    if (!made) throw py::error_already_set();
    if (PyArray_SetBaseObject(asArray(made), owner.release().ptr()) < 0) {
        throw py::error_already_set();
    }
    return made;
}

// In the host's terms a complex result whose imaginary parts are all zero (-0 included) is real.
py::object hostRule(py::object result, const CumPlan& plan) {
    auto* array = asArray(result);
    const std::size_t count = plan.numel;
    const bool zero = visitElementClass(
        plan.resultClass,
        [&]<class T>(ElementClass<T>) {
            if constexpr (std::is_floating_point_v<T>) {
                const auto* parts = static_cast<const T*>(PyArray_DATA(array));
                for (std::size_t at = 0; at < count; ++at) {
                    if (parts[2 * at + 1] != T(0)) return false;
                }
                return true;
            }
            return false;
        },
        [] { return false; });
    if (!zero) return result;
    auto real = py::reinterpret_steal<py::object>(
        PyArray_GetField(array, PyArray_DescrFromType(typeOfClass(plan.resultClass, false)), 0));
    if (!real) throw py::error_already_set();
    auto copy = py::reinterpret_steal<py::object>(PyArray_NewCopy(asArray(real), NPY_KEEPORDER));
    if (!copy) throw py::error_already_set();
    return copy;
}

}  // namespace

void scanInto(const CumPlan& plan, const void* in, PyObject* out, bool direct, bool cOrder) {
    auto* target = reinterpret_cast<PyArrayObject*>(out);
    if (PyArray_SIZE(target) == 0) return;
    if (direct) return execute(plan, in, PyArray_DATA(target));
    const py::object staging = emptyLike(target, resultTypeOf(plan), cOrder);
    execute(plan, in, PyArray_DATA(asArray(staging)));
    if (PyArray_CopyInto(target, asArray(staging)) < 0) throw py::error_already_set();
}

void releaseHostArray(PyObject* capsule) {
    const matrix::ArrayHandle array(
        static_cast<vxArray_tag*>(PyCapsule_GetPointer(capsule, nullptr)));
}

int resultTypeOf(const CumPlan& plan) {
    return typeOfClass(plan.resultClass, plan.complex);
}

py::object denseCall(CumOp op, std::span<PyObject* const> args, const NumpyTerms& terms) {
    if (args.empty()) return {};
    std::optional<DenseData> data = denseDataOf(args[0]);
    if (!data) return {};
    const auto call =
        settleCall(op, static_cast<std::size_t>(PyArray_NDIM(data->array)), args.subspan(1), terms);
    if (!call) return {};
    if (terms.dtype != nullptr) convertTo(*data, terms.dtype);
    // Data that must be copied is copied in the order of a C-ordered out, so that the scan still
    // writes straight into it.
    auto* out = reinterpret_cast<PyArrayObject*>(terms.out);
    const bool cOut = out != nullptr && PyArray_Check(terms.out) && PyArray_IS_C_CONTIGUOUS(out) &&
                      !PyArray_IS_F_CONTIGUOUS(out);
    makeReadable(*data, cOut);
    const CumPlan plan = planOn(op, call->settings, *data);
    const int type = resultTypeOf(plan);
    const void* in = PyArray_DATA(data->array);
    if (out == nullptr) {
        py::object result = newResult(data->array, plan, data->cOrder);
        execute(plan, in, PyArray_DATA(asArray(result)));
        return call->hostForm && plan.complex ? hostRule(std::move(result), plan) : result;
    }
    const std::span<const npy_intp> shape{PyArray_DIMS(data->array),
                                          static_cast<std::size_t>(PyArray_NDIM(data->array))};
    const bool direct = checkOut(op, terms.out, args[0], shape, type, data->cOrder);
    scanInto(plan, in, terms.out, direct, data->cOrder);
    return py::reinterpret_borrow<py::object>(terms.out);
}

std::optional<py::tuple> planLazy(CumOp op, PyObject* prototype, std::span<const npy_intp> shape,
                                  std::span<PyObject* const> rest, const NumpyTerms& terms) {
    std::optional<DenseData> data = denseDataOf(prototype);
    if (!data) return std::nullopt;
    const auto call = settleCall(op, shape.size(), rest, terms);
    if (!call) return std::nullopt;
    std::array<std::size_t, NPY_MAXDIMS + 1> storage{};
    const std::span<const std::size_t> dims = callerDims(shape, storage);
    const std::size_t work = workingDim(call->settings, dims);
    const CumInput input{data->classId, data->complex, false, false, dims};
    const CumPlan plan =
        planCumCall(op, {work + 1, call->settings.direction, call->settings.nanFlag}, input,
                    mathcoreFindFirstNonSingleton);
    // The NumPy axis scanned; none when every vector has one element (a 0-d array, a dimension
    // past the last).
    py::object scanned = py::none();
    if (shape.size() == 1 && work == 1) scanned = py::int_(0);
    if (shape.size() >= 2 && work < shape.size()) scanned = py::int_(work);
    return py::make_tuple(scanned, plan.forward, plan.nanFlag,
                          dtypeOfClass(plan.resultClass, plan.complex));
}

}  // namespace tzcumfun::python
