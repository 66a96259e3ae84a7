// The _tzcumfun extension: the package's four functions as vectorcall entry points, and the
// module's definition. A call on NumPy data is planned and run with no host array (dense.cpp);
// arguments only the host reads take the host-array path (host_call.cpp).
#define TZCUMFUN_IMPORTS_NUMPY
#include "module.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "driver/cpu_level.hpp"
#include "driver/operations.hpp"
#include "gateways/cumfun.hpp"
#include "host/tzfl.hpp"
#include "host_call.hpp"
#include "standin/standin.hpp"

namespace tzcumfun::python {
namespace {

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

// ---- Entry points of the package's four functions -------------------------------------------
//
// cumsum(A, ...) runs through the resolver here, with no Python code on the way to the gateway,
// unless an argument is one only the package's Python code converts (text arrays, SciPy sparse
// data, sequences), or the call is malformed for Python (an unknown keyword, no A): then the
// package's Python function takes it, and reaches the same resolver.

struct Entry {
    PyMethodDef method{};
    py::object python;
    std::string doc;  // the method record's text
};

std::array<Entry, kOperations.size()>& entries() {
    static auto* table =
        new std::array<Entry, kOperations.size()>();  // outlives every function object made
    return *table;
}

struct KeywordNames {
    PyObject* dtype = PyUnicode_InternFromString("dtype");
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
        } else if (isKeyword(name, known.dtype)) {
            terms.dtype = value;
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
    const CumOp operation = operationOf(op);
    const std::span<PyObject* const> values{args, static_cast<std::size_t>(nargs)};
    if (py::object result = denseCall(operation, values, terms)) return result;
    return hostCall(operation, 1, values, terms, true);
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
constexpr auto kEntryPoints = []<std::size_t... Op>(std::index_sequence<Op...>) {
    return std::array<FastEntryPoint, sizeof...(Op)>{entryPoint<static_cast<int>(Op)>...};
}
(std::make_index_sequence<kOperations.size()>());

// The function the package exports as operation `op`: calls run here, and those with arguments
// only Python converts run `python`. `doc` is its docstring, opening with the text signature
// Python reads.
py::object makeEntryPoint(const py::module_& module, int op, py::object python,
                          const std::string& doc) {
    (void)operationOf(op);
    Entry& entry = entries()[op];
    entry.python = std::move(python);
    // Function objects made earlier keep pointing at the method record, so it is never freed;
    // they read its text afresh each time.
    entry.doc = doc;
    const char* const text = entry.doc.c_str();
    // CPython stores every calling convention under PyCFunction and calls it by the flags.
    const auto function =
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kEntryPoints[op]));
    entry.method = {nameOf(static_cast<CumOp>(op)), function, METH_FASTCALL | METH_KEYWORDS, text};
    return py::reinterpret_steal<py::object>(
        PyCFunction_NewEx(&entry.method, module.ptr(), py::str("tzcumfun").ptr()));
}

}  // namespace

CumOp operationOf(int op) {
    if (op < 0 || op >= static_cast<int>(kOperations.size())) {
        throw py::value_error("no such operation");
    }
    return static_cast<CumOp>(op);
}

const char* nameOf(CumOp op) {
    return tzcumfun::operationOf(op).name.data();
}

long& inputCopies() {
    static long copies = 0;  // written with the GIL held
    return copies;
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

}  // namespace tzcumfun::python

using namespace tzcumfun::python;
using tzcumfun::kOperations;

PYBIND11_MODULE(_tzcumfun, module) {
    module.doc() = "The call resolver, host arrays and gateway calls behind the tzcumfun package.";
    if (_import_array() < 0) throw py::error_already_set();
    // Loading the module is loading the library, as a host would: it is told at both ends.
    KXInitialize_libtzmathelem_cumfun();
    py::module_::import("atexit").attr("register")(
        py::cpp_function([] { KXTerminate_libtzmathelem_cumfun(); }));

    py::tuple names(kOperations.size());
    for (std::size_t op = 0; op < kOperations.size(); ++op)
        names[op] = py::str(std::string(kOperations[op].name));
    module.attr("operations") = names;
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
    module.def(
        "run",
        [](int op, int nargout, const py::sequence& args, const py::object& axis,
           const py::object& reverse, const py::object& nan, const py::object& out,
           const py::object& dtype) {
            return runCall(op, nargout, args, termsOf(axis, reverse, nan, out, dtype));
        },
        py::arg("op"), py::arg("nargout"), py::arg("args"), py::arg("axis") = py::none(),
        py::arg("reverse") = py::none(), py::arg("nan") = py::none(), py::arg("out") = py::none(),
        py::arg("dtype") = py::none(),
        "Resolves and runs operation `op` (its place in `operations`) on "
        "`args` (ndarrays, NumPy scalars, str, bool, int, float or HostArray), without the "
        "GIL when the data is large, into `out` when given. Returns an array (`out` "
        "itself when given), a tuple of sparse parts, or None when nargout is 0.");
    module.def(
        "resolve",
        [](int op, const py::object& prototype, const std::vector<npy_intp>& shape,
           const py::sequence& args, const py::object& axis, const py::object& reverse,
           const py::object& nan) {
            return resolveLazy(op, prototype, shape, args,
                               termsOf(axis, reverse, nan, py::none(), py::none()));
        },
        py::arg("op"), py::arg("prototype"), py::arg("shape"), py::arg("args"),
        py::arg("axis") = py::none(), py::arg("reverse") = py::none(), py::arg("nan") = py::none(),
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
            using tzcumfun::forceCpuLevel;
            if (force && force->empty()) forceCpuLevel(std::nullopt);
            if (force && !force->empty()) forceCpuLevel(tzcumfun::parseCpuLevel(*force));
            return std::string(tzcumfun::cpuLevelName(tzcumfun::activeCpuLevel()));
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
