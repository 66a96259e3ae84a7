// The processor's features, the TZCUMFUN_CPU cap and the level forced in process.
#include "driver/cpu_level.hpp"

#if defined(TZCUMFUN_X86_LEVELS)
#include <cpuid.h>
#endif

#include <atomic>
#include <cstdlib>
#include <string>

namespace tzcumfun {
namespace {

constexpr const char* kNames[] = {"baseline", "v3", "v4"};

#if defined(TZCUMFUN_X86_LEVELS)
// F16C and MOVBE (leaf 1) and LZCNT (leaf 0x80000001), which not every compiler's
// __builtin_cpu_supports names; they need nothing of the operating system.
bool hasF16cMovbeLzcnt() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_F16C) == 0 || (c & bit_MOVBE) == 0)
        return false;
    return __get_cpuid(0x80000001, &a, &b, &c, &d) != 0 && (c & bit_LZCNT) != 0;
}
#endif

// __builtin_cpu_supports also checks that the operating system saves the AVX and AVX-512 state.
CpuLevel detectLevel() {
#if defined(TZCUMFUN_X86_LEVELS)
    __builtin_cpu_init();
    const bool v3 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                    __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma") &&
                    __builtin_cpu_supports("popcnt") && hasF16cMovbeLzcnt();
    const bool v4 = v3 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                    __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                    __builtin_cpu_supports("avx512cd");
    return v4 ? CpuLevel::V4 : v3 ? CpuLevel::V3 : CpuLevel::Baseline;
#else
    return CpuLevel::Baseline;
#endif
}

// `source` says where the level was asked for, in the message.
void requireSupported(CpuLevel level, const std::string& source) {
    if (level <= supportedCpuLevel()) return;
    throw CpuLevelError(source + ": level \"" + cpuLevelName(level) +
                        "\" is above what this processor runs (at most \"" +
                        cpuLevelName(supportedCpuLevel()) + "\")");
}

CpuLevel chooseLevel() {
    const char* cap = std::getenv("TZCUMFUN_CPU");
    if (cap == nullptr || *cap == '\0') return supportedCpuLevel();
    const CpuLevel level = parseCpuLevel(cap);
    requireSupported(level, "TZCUMFUN_CPU");
    return level;
}

// -1 while no level is forced.
std::atomic<int> gForced{-1};

}  // namespace

const char* cpuLevelName(CpuLevel level) {
    return kNames[static_cast<int>(level)];
}

CpuLevel parseCpuLevel(std::string_view word) {
    for (std::size_t level = 0; level < std::size(kNames); ++level) {
        if (word == kNames[level]) return static_cast<CpuLevel>(level);
    }
    throw CpuLevelError("TZCUMFUN_CPU: unknown level \"" + std::string(word) +
                        "\"; expected baseline, v3 or v4");
}

CpuLevel supportedCpuLevel() {
    static const CpuLevel supported = detectLevel();
    return supported;
}

CpuLevel activeCpuLevel() {
    if (const int forced = gForced.load(std::memory_order_relaxed); forced >= 0)
        return static_cast<CpuLevel>(forced);
    // Initialised by the first call that succeeds; a call that throws leaves it for the next.
    static const CpuLevel chosen = chooseLevel();
    return chosen;
}

void forceCpuLevel(std::optional<CpuLevel> level) {
    if (level) requireSupported(*level, "forced instruction level");
    gForced.store(level ? static_cast<int>(*level) : -1, std::memory_order_relaxed);
}

}  // namespace tzcumfun
