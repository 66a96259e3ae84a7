// The four gateways: arity checks, per-operation defaults, argument parsing, then the driver.
#include "gateways/cumfun.hpp"

#include <cstddef>
#include <cstdint>

#include "driver/driver.hpp"
#include "gateways/arguments.hpp"

namespace tzcumfun {
namespace {

template <CumOp Op>
void runGateway(int nlhs, matrix::ArrayHandle* plhs, int nrhs, const vxArray_tag** prhs) {
    if (nlhs > 1) matrix::detail::error_maxlhs();
    if (nrhs > 4) matrix::detail::error_maxrhs();
    if (nrhs < 1) matrix::detail::error_minrhs();
    CumSettings settings = defaultSettings(Op);
    parseCumArgs(Op, nrhs, prhs, settings.dim, settings.direction, settings.nanFlag);
    cumDriver(Op, plhs, prhs[0], settings.dim, settings.direction, settings.nanFlag);
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
