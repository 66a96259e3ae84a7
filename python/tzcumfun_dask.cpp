// The _tzcumfun_dask extension: one block of a split scan, continued from carried running values.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "driver/carried.hpp"
#include "element_class.hpp"

namespace py = pybind11;

namespace {

using tzcumfun::BlockGeometry;
using tzcumfun::CarriedBlock;
using tzcumfun::CumOp;

std::size_t product(const std::vector<std::size_t>& lengths, std::size_t from, std::size_t to) {
    return std::accumulate(lengths.begin() + static_cast<std::ptrdiff_t>(from),
                           lengths.begin() + static_cast<std::ptrdiff_t>(to), std::size_t{1},
                           std::multiplies<>());
}

// A Fortran-ordered block lists its axes from the fastest-varying one, a C-ordered block from the
// slowest; a block without a working axis is one slice of one-element vectors.
BlockGeometry geometryOf(const py::array& block, std::optional<std::size_t> axis, bool fortran,
                         bool forward) {
    std::vector<std::size_t> lengths(block.shape(), block.shape() + block.ndim());
    if (!axis) return {forward, product(lengths, 0, lengths.size()), 1, 1};
    if (*axis >= lengths.size()) throw py::value_error("axis out of range for the block");
    const std::size_t fast = fortran ? 0 : *axis + 1;
    const std::size_t fastEnd = fortran ? *axis : lengths.size();
    const std::size_t slow = fortran ? *axis + 1 : 0;
    const std::size_t slowEnd = fortran ? lengths.size() : *axis;
    return {forward, product(lengths, fast, fastEnd), lengths[*axis],
            product(lengths, slow, slowEnd)};
}

bool isPlain(const py::array& array, int order) {
    const int wanted = order | static_cast<int>(py::detail::npy_api::NPY_ARRAY_ALIGNED_);
    return (array.flags() & wanted) == wanted && array.dtype().byteorder() != '>';
}

// Scans `block` (aligned, native, C- or Fortran-ordered) into a new array of `outType` in the
// block's own order. `carry`, if given, holds the running values in the same order.
py::array scanBlock(int op, std::uint8_t nanFlag, bool forward, const py::array& block,
                    std::optional<std::size_t> axis, const std::optional<py::array>& carry,
                    const py::dtype& outType) {
    if (op < 0 || op > static_cast<int>(CumOp::Max)) throw py::value_error("no such operation");
    const bool fortran = isPlain(block, py::array::f_style);
    if (!fortran && !isPlain(block, py::array::c_style)) {
        throw py::value_error("a block needs an aligned, native, C- or Fortran-ordered buffer");
    }
    const vxClassID classId = tzcumfun::python::classOfDtype(block.dtype());
    const bool complex = block.dtype().kind() == 'c';
    const BlockGeometry geometry = geometryOf(block, axis, fortran, forward);
    const void* carried = nullptr;
    if (carry) {
        const bool fits =
            carry->dtype().equal(outType) &&
            isPlain(*carry, fortran ? py::array::f_style : py::array::c_style) &&
            static_cast<std::size_t>(carry->size()) == geometry.stride * geometry.pages;
        if (!fits) throw py::value_error("the carried running values do not fit the block");
        carried = carry->data();
    }
    std::vector<py::ssize_t> shape(block.shape(), block.shape() + block.ndim());
    py::array out =
        fortran ? py::array(outType, shape, py::detail::f_strides(shape, outType.itemsize()))
                : py::array(outType, shape);
    const CarriedBlock scan{geometry, block.data(), out.mutable_data(), carried};
    {
        const py::gil_scoped_release unlocked;
        tzcumfun::carriedScan(static_cast<CumOp>(op), classId, complex, nanFlag, scan);
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(_tzcumfun_dask, module) {
    module.doc() = "Block scans behind tzcumfun.dask, continued from carried running values.";
    module.def("scan_block", &scanBlock, py::arg("op"), py::arg("nan_flag"), py::arg("forward"),
               py::arg("block"), py::arg("axis"), py::arg("carry"), py::arg("out_dtype"),
               "Scans one block along `axis` (None: every element a vector of its own) with "
               "operation `op` (0 cumsum, 1 cumprod, 2 cummin, 3 cummax) and the gateways' NaN "
               "flag, continuing each vector from `carry` when given. Runs without the GIL.");
}
