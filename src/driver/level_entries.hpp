// The entry points each instruction level's objects define, in that level's namespace.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/carried.hpp"
#include "driver/plan.hpp"
#include "driver/types.hpp"
#include "host/vx.hpp"

// Declared in each level's namespace: the whole-array scan of one operation (dispatch_<op>.cpp,
// as `cumDispatch` takes it) and the block scan from carried running values (carried.cpp).
#define TZCUMFUN_LEVEL_ENTRY_POINTS                                                        \
    template <CumOp Op>                                                                    \
    void levelDispatch(const CumPlan& plan, const void* in, void* out);                    \
    void levelCarriedScan(CumOp op, vxClassID classId, bool complex, std::uint8_t nanFlag, \
                          const CarriedBlock& block);
