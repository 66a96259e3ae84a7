// The selection's view of every instruction level: each level's entry points and their tables.
#pragma once

#include "driver/cpu_level.hpp"
#include "driver/level_entries.hpp"

// The selection names every level's namespace; the kernels' own objects see only theirs.
namespace tzcumfun::isa_baseline {
TZCUMFUN_LEVEL_ENTRY_POINTS
}
#if defined(TZCUMFUN_X86_LEVELS)
namespace tzcumfun::isa_v3 {
TZCUMFUN_LEVEL_ENTRY_POINTS
}
namespace tzcumfun::isa_v4 {
TZCUMFUN_LEVEL_ENTRY_POINTS
}
// An entry point at every level, in the order of CpuLevel.
#define TZCUMFUN_AT_EVERY_LEVEL(entry) \
    { &isa_baseline::entry, &isa_v3::entry, &isa_v4::entry }
#else
#define TZCUMFUN_AT_EVERY_LEVEL(entry) \
    { &isa_baseline::entry }
#endif
