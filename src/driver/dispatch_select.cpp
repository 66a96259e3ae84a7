// Each operation's whole-array scan at the instruction level in use: one table per operation.
#include "driver/dispatch_levels.hpp"
#include "driver/plan.hpp"

namespace tzcumfun {

// The level is looked up on every call, before any element is read: a TZCUMFUN_CPU the processor
// cannot honour fails the call there.
template <CumOp Op>
void cumDispatch(const CumPlan& plan, const void* in, void* out) {
    static constexpr decltype(&isa_baseline::levelDispatch<Op>) kLevels[kCpuLevels] =
        TZCUMFUN_AT_EVERY_LEVEL(levelDispatch<Op>);
    atActiveLevel(kLevels)(plan, in, out);
}

template void cumDispatch<CumOp::Sum>(const CumPlan&, const void*, void*);
template void cumDispatch<CumOp::Prod>(const CumPlan&, const void*, void*);
template void cumDispatch<CumOp::Min>(const CumPlan&, const void*, void*);
template void cumDispatch<CumOp::Max>(const CumPlan&, const void*, void*);

}  // namespace tzcumfun
