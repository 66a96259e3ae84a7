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
// The instruction level the scans run at: "baseline", "v3" (x86-64-v3, AVX2) or "v4" (x86-64-v4,
// AVX-512), the widest this processor runs unless TZCUMFUN_CPU caps it. Throws std::runtime_error,
// as every gateway call does, when TZCUMFUN_CPU names no level or one the processor lacks.
TZCUMFUN_API const char* tzcumfunCpuLevel();
// Runs every later scan in the process at `level`, one of the words above, or with null at the
// level chosen from the processor and TZCUMFUN_CPU again: for test suites that run every level.
// Throws std::runtime_error for an unknown word or a level the processor lacks.
TZCUMFUN_API void tzcumfunForceCpuLevel(const char* level);

// The library keeps no state; both return at once.
TZCUMFUN_API void KXInitialize_libtzmathelem_cumfun();
TZCUMFUN_API void KXTerminate_libtzmathelem_cumfun();
}
