// The four gateways: arity checks, per-operation defaults, argument parsing, then the driver.
#include "gateways/cumfun.hpp"

#include <cstddef>
#include <cstdint>

#include "driver/driver.hpp"
#include "gateways/arguments.hpp"

namespace tzcumfun {
namespace {

// cummin and cummax pass over NaN unless told otherwise; cumsum and cumprod let it through.
constexpr std::uint8_t defaultNaNFlag(CumOp op) {
    return (op == CumOp::Min || op == CumOp::Max) ? 1 : 0;
}

template <CumOp Op>
void runGateway(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    if (nlhs > 1) matrix::detail::error_maxlhs();
    if (nrhs > 4) matrix::detail::error_maxrhs();
    if (nrhs < 1) matrix::detail::error_minrhs();
    std::size_t dim = 0;
    std::uint8_t direction = 1;
    std::uint8_t nanFlag = defaultNaNFlag(Op);
    parseCumArgs(Op, nrhs, prhs, dim, direction, nanFlag);
    cumDriver(Op, plhs, prhs[0], dim, direction, nanFlag);
}

}  // namespace
}  // namespace tzcumfun

void mathelemCumsumFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    tzcumfun::runGateway<tzcumfun::CumOp::Sum>(nlhs, plhs, nrhs, prhs);
}

void mathelemCumprodFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    tzcumfun::runGateway<tzcumfun::CumOp::Prod>(nlhs, plhs, nrhs, prhs);
}

void mathelemCumminFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    tzcumfun::runGateway<tzcumfun::CumOp::Min>(nlhs, plhs, nrhs, prhs);
}

void mathelemCummaxFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    tzcumfun::runGateway<tzcumfun::CumOp::Max>(nlhs, plhs, nrhs, prhs);
}

void KXInitialize_libtzmathelem_cumfun() {}
void KXTerminate_libtzmathelem_cumfun() {}
