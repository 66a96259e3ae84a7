// The dispatch shared by the four operations: class, then complexity and NaN flag, then layout.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <type_traits>

#include "driver/classes.hpp"
#include "driver/level_entries.hpp"
#include "driver/plan.hpp"
#include "functors/isa_level.hpp"
#include "traversal/contiguous.hpp"
#include "traversal/paged.hpp"
#include "traversal/strided.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// This level's entry points, which the selection (dispatch_select.cpp, carried_select.cpp) calls
// through one table per operation.
TZCUMFUN_LEVEL_ENTRY_POINTS

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
void runLayout(const ScanGeometry& scan, const void* scanIn, void* result) {
    const auto* in = static_cast<const In*>(scanIn);
    auto* out = static_cast<Out*>(result);
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

// The whole array scanned in its layout, as the class dispatch below runs it.
struct LayoutScan {
    ScanGeometry geometry;
    const void* in;
    void* out;

    template <class Ftor, class In, class Out>
    void run() const {
        runLayout<Ftor, In, Out>(geometry, in, out);
    }
};

// Second axis, floating classes only: complexity picks the element, the NaN flag the functor.
// `Scan` is the traversal the chosen functor runs in, through its member template `run`.
template <class Table, class T, class Scan>
void dispatchFloating(const Scan& scan, bool complex, std::uint8_t nanFlag) {
    const bool nanNamed = nanFlag == Table::kNaNFunctorFlag;
    if (complex) {
        using C = std::complex<T>;
        return nanNamed ? scan.template run<typename Table::template NaN<T>, C, C>()
                        : scan.template run<typename Table::template Float<T>, C, C>();
    }
    return nanNamed ? scan.template run<typename Table::template NaN<T>, T, T>()
                    : scan.template run<typename Table::template Float<T>, T, T>();
}

// First axis: the host class, through the table of element classes. The operations differ only
// by `Table`, their functor table.
template <class Table, class Scan>
struct ClassScan {
    const Scan& scan;
    bool complex;
    std::uint8_t nanFlag;

    template <class T>
    void operator()(ElementClass<T> /*element*/) const {
        if constexpr (std::is_same_v<T, bool>) {
            scan.template run<typename Table::Logical, bool, typename Table::LogicalOut>();
        } else if constexpr (std::is_floating_point_v<T>) {
            dispatchFloating<Table, T>(scan, complex, nanFlag);
        } else {
            scan.template run<typename Table::template Int<T>, T, T>();
        }
    }
};

template <class Table, class Scan>
void dispatchClass(vxClassID classId, bool complex, std::uint8_t nanFlag, const Scan& scan) {
    visitElementClass(classId, ClassScan<Table, Scan>{scan, complex, nanFlag},
                      // The argument checks refuse every other class before a result exists.
                      [] { throw std::logic_error("cumulative scan of an unsupported class"); });
}

template <class Table>
void dispatchOperation(const CumPlan& plan, const void* in, void* out) {
    const LayoutScan scan{
        {plan.forward, plan.dimLen, plan.nvec, plan.stride, plan.layout}, in, out};
    dispatchClass<Table>(plan.classId, plan.complex, plan.nanFlag, scan);
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
