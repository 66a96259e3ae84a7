// The library's exported entry points: the four gateways and the module life-cycle functions.
#pragma once

#include <memory>

#include "host/vx.hpp"

#define TZCUMFUN_API __attribute__((visibility("default")))

// One call is one user call of cumsum, cumprod, cummin or cummax: at most one output, one to
// four inputs (data, then a dimension or an option word, then option words). The result is
// stored in plhs[0], also when nlhs is 0. Failures are thrown as host exceptions.
TZCUMFUN_API void mathelemCumsumFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs,
                                    const vxArray_tag** prhs);
TZCUMFUN_API void mathelemCumprodFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs,
                                     const vxArray_tag** prhs);
TZCUMFUN_API void mathelemCumminFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs,
                                    const vxArray_tag** prhs);
TZCUMFUN_API void mathelemCummaxFcn(int nlhs, matrix::ArrayHandle* plhs, int nrhs,
                                    const vxArray_tag** prhs);

extern "C" {
// The library keeps no state; both return at once.
TZCUMFUN_API void KXInitialize_libtzmathelem_cumfun();
TZCUMFUN_API void KXTerminate_libtzmathelem_cumfun();
}
