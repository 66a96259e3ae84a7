// Block scans from carried running values, at the instruction level this object is built for.
#include "driver/carried.hpp"

#include "driver/dispatch.hpp"
#include "driver/tables.hpp"
#include "traversal/carried.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN
namespace {

// The block as the class dispatch runs it once it has chosen the functor and element types.
struct CarriedRun {
    const CarriedBlock& block;

    template <class Ftor, class In, class Out>
    void run() const {
        const BlockGeometry& geometry = block.geometry;
        const std::size_t bytes = geometry.stride * geometry.dimLen * geometry.pages * sizeof(Out);
        scanAheadOfFaults(block.in, block.out, bytes, geometry.forward, [this] {
            scanCarried(block.geometry, static_cast<const In*>(block.in),
                        static_cast<Out*>(block.out), static_cast<const Out*>(block.carry), Ftor{});
        });
    }
};

}  // namespace

void levelCarriedScan(CumOp op, vxClassID classId, bool complex, std::uint8_t nanFlag,
                      const CarriedBlock& block) {
    visitOperation(op, [&]<CumOp Op>() {
        dispatchClass<FunctorTableOf<Op>>(classId, complex, nanFlag, CarriedRun{block});
    });
}

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
