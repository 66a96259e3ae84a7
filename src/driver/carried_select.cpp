// The carried block scan at the instruction level in use.
#include "driver/carried.hpp"
#include "driver/dispatch_levels.hpp"

namespace tzcumfun {

void carriedScan(CumOp op, vxClassID classId, bool complex, std::uint8_t nanFlag,
                 const CarriedBlock& block) {
    static constexpr decltype(&isa_baseline::levelCarriedScan) kLevels[kCpuLevels] =
        TZCUMFUN_AT_EVERY_LEVEL(levelCarriedScan);
    atActiveLevel(kLevels)(op, classId, complex, nanFlag, block);
}

}  // namespace tzcumfun
