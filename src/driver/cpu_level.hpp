// Which instruction level the scans run at: chosen once from the processor and TZCUMFUN_CPU.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace tzcumfun {

// The x86-64 levels the kernels are built for, in rising order; elsewhere only the baseline.
enum class CpuLevel : unsigned char { Baseline = 0, V3 = 1, V4 = 2 };

// A TZCUMFUN_CPU that names no level, or one this processor lacks.
class CpuLevelError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "baseline", "v3" or "v4", the words TZCUMFUN_CPU takes.
const char* cpuLevelName(CpuLevel level);

// The widest level this build has kernels for and this processor runs.
CpuLevel supportedCpuLevel();

// The level scans run at: the one forced in process if any, else the widest supported one, capped
// by TZCUMFUN_CPU. The environment is read once, on the first call; an unknown word or a level
// above the supported one throws CpuLevelError on that call and on every later one, before any
// scan runs.
CpuLevel activeCpuLevel();

// Forces the level of every later scan in the process (the test suites run each level in turn);
// nullopt returns to the level chosen from the processor and TZCUMFUN_CPU. Throws CpuLevelError
// for a level above the supported one.
void forceCpuLevel(std::optional<CpuLevel> level);

// The level a word names; CpuLevelError for any other word.
CpuLevel parseCpuLevel(std::string_view word);

// One entry per level, indexed by the level, for the dispatch tables.
#if defined(TZCUMFUN_X86_LEVELS)
inline constexpr std::size_t kCpuLevels = 3;
#else
inline constexpr std::size_t kCpuLevels = 1;
#endif

// The entry of `table` for the level in use.
template <class Entry>
Entry atActiveLevel(const Entry (&table)[kCpuLevels]) {
    return table[static_cast<std::size_t>(activeCpuLevel())];
}

}  // namespace tzcumfun
