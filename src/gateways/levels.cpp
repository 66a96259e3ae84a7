// The exported view of the instruction level the scans run at.
#include <optional>

#include "driver/cpu_level.hpp"
#include "gateways/cumfun.hpp"

const char* tzcumfunCpuLevel() {
    return tzcumfun::cpuLevelName(tzcumfun::activeCpuLevel());
}

void tzcumfunForceCpuLevel(const char* level) {
    tzcumfun::forceCpuLevel(level == nullptr ? std::nullopt
                                             : std::optional(tzcumfun::parseCpuLevel(level)));
}
