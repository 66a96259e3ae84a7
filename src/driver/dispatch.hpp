// The dispatch shared by the four operations: class, then complexity and NaN flag, then layout.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "driver/array_header.hpp"
#include "driver/driver.hpp"
#include "traversal/contiguous.hpp"
#include "traversal/paged.hpp"
#include "traversal/strided.hpp"

namespace tzcumfun {

// Every operation and class uses the same tuning per layout; thresholds count vectors in the
// contiguous and last-dimension layouts and elements of the whole array in the page layout.
constexpr TuningPair kContiguousTuning{300, 256};
constexpr TuningPair kLastDimTuning{200, 128};
constexpr TuningPair kPageTuning{5000, 1};

struct ScanGeometry {
    bool forward;
    std::size_t dimLen;
    std::size_t nvec;
    std::size_t stride;
    LayoutMode layout;
};

// Third axis: the layout picks the traversal and its tuning.
template <class Ftor, class In, class Out>
void runLayout(const ScanGeometry& scan, const vxArray_tag* scanIn, vxArray_tag* result) {
    const auto* in = static_cast<const In*>(scanIn->data);
    auto* out = static_cast<Out*>(result->data);
    switch (scan.layout) {
        case LayoutMode::Contiguous:
            return runCumMatrix(scan.forward, in, out, scan.dimLen, scan.nvec, kContiguousTuning,
                                Ftor{});
        case LayoutMode::LastDim:
            return runCumStrideMatrix(scan.forward, in, out, scan.dimLen, scan.nvec, kLastDimTuning,
                                      Ftor{});
        case LayoutMode::Page:
        default:
            return runPageStrideMatrix(scan.forward, in, out, scan.stride, scan.dimLen,
                                       scan.nvec / scan.stride, kPageTuning, Ftor{});
    }
}

// Second axis, floating classes only: complexity picks the element, the NaN flag the functor.
// `Table::kNaNFunctorFlag` is the flag value that selects the NaN-named functor.
template <class Table, class T>
void dispatchFloating(const ScanGeometry& scan, const vxArray_tag* scanIn, vxArray_tag* result,
                      std::uint8_t nanFlag) {
    const bool nanNamed = nanFlag == Table::kNaNFunctorFlag;
    if (isComplex(scanIn)) {
        using C = std::complex<T>;
        return nanNamed ? runLayout<typename Table::template NaN<T>, C, C>(scan, scanIn, result)
                        : runLayout<typename Table::template Float<T>, C, C>(scan, scanIn, result);
    }
    return nanNamed ? runLayout<typename Table::template NaN<T>, T, T>(scan, scanIn, result)
                    : runLayout<typename Table::template Float<T>, T, T>(scan, scanIn, result);
}

template <class Table, class T>
void runInteger(const ScanGeometry& scan, const vxArray_tag* scanIn, vxArray_tag* result) {
    runLayout<typename Table::template Int<T>, T, T>(scan, scanIn, result);
}

// First axis: the host class id, never the C type (logical is one byte but is not uint8). The
// operations differ only by `Table`, their functor table.
template <class Table>
void dispatchOperation(std::uint8_t direction, const vxArray_tag* scanIn, vxArray_tag* result,
                       std::size_t dimLen, std::size_t nvec, std::size_t stride, LayoutMode layout,
                       std::uint8_t nanFlag) {
    const ScanGeometry scan{direction != 0, dimLen, nvec, stride, layout};
    switch (classOf(scanIn)) {
        case vxLOGICAL_CLASS:
            return runLayout<typename Table::Logical, bool, typename Table::LogicalOut>(
                scan, scanIn, result);
        case vxDOUBLE_CLASS:
            return dispatchFloating<Table, double>(scan, scanIn, result, nanFlag);
        case vxSINGLE_CLASS:
            return dispatchFloating<Table, float>(scan, scanIn, result, nanFlag);
        case vxINT8_CLASS:
            return runInteger<Table, signed char>(scan, scanIn, result);
        case vxUINT8_CLASS:
            return runInteger<Table, unsigned char>(scan, scanIn, result);
        case vxINT16_CLASS:
            return runInteger<Table, short>(scan, scanIn, result);
        case vxUINT16_CLASS:
            return runInteger<Table, unsigned short>(scan, scanIn, result);
        case vxINT32_CLASS:
            return runInteger<Table, int>(scan, scanIn, result);
        case vxUINT32_CLASS:
            return runInteger<Table, unsigned int>(scan, scanIn, result);
        case vxINT64_CLASS:
            return runInteger<Table, long long>(scan, scanIn, result);
        case vxUINT64_CLASS:
            return runInteger<Table, unsigned long long>(scan, scanIn, result);
        default:
            // The argument checks refuse every other class before a result exists.
            throw std::logic_error("cumulative scan of an unsupported class");
    }
}

}  // namespace tzcumfun
