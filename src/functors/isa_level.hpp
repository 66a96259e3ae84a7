// The instruction level the kernel headers are compiled for, and the namespace that keeps it apart.
#pragma once

// The kernels (functors, traversals, the dispatch) are compiled once per x86-64 level: baseline
// (SSE2), x86-64-v3 (AVX2, BMI1/2, FMA, F16C, LZCNT, MOVBE) and x86-64-v4 (v3 with AVX-512 F, BW,
// DQ, VL, CD). CMake sets TZCUMFUN_ISA_LEVEL to 3 or 4 for the objects of the wider levels; any
// other translation unit sees the baseline. Each kernel header wraps its code in
// TZCUMFUN_LEVEL_BEGIN / TZCUMFUN_LEVEL_END: an inline namespace named after the level, so that no
// symbol of one level is shared with another, and for the wider levels the instruction sets of that
// level enabled for exactly that code. Everything included from outside the namespace (the standard
// library, oneTBB, the host's headers) is compiled for the baseline in every object, so the copy of
// an inline function the linker keeps is always one that any x86-64 runs. The features are named
// one by one rather than with `arch=`: GCC inlines a baseline function into one whose instruction
// sets extend its own, but not into one built for another architecture. Contraction into fused
// multiply-adds stays off (-ffp-contract=off) at every level, FMA being available or not.
#ifndef TZCUMFUN_ISA_LEVEL
#define TZCUMFUN_ISA_LEVEL 0
#endif

// The target strings spell out x86-64-v3's features, and v4 adds AVX-512's. _Pragma takes one
// string literal, which may not be split. clang (the linters) has its own form of the pragma.
// clang-format off
#if TZCUMFUN_ISA_LEVEL == 4 && defined(__clang__)
#define TZCUMFUN_LEVEL_NS isa_v4
#define TZCUMFUN_LEVEL_TARGET _Pragma("clang attribute push(__attribute__((target(\"sse3,ssse3,sse4.1,sse4.2,popcnt,cx16,sahf,avx,avx2,bmi,bmi2,f16c,fma,lzcnt,movbe,xsave,avx512f,avx512bw,avx512dq,avx512vl,avx512cd\"))), apply_to = function)")
#define TZCUMFUN_LEVEL_TARGET_END _Pragma("clang attribute pop")
#elif TZCUMFUN_ISA_LEVEL == 4
#define TZCUMFUN_LEVEL_NS isa_v4
#define TZCUMFUN_LEVEL_TARGET _Pragma("GCC push_options") _Pragma("GCC target(\"sse3,ssse3,sse4.1,sse4.2,popcnt,cx16,sahf,avx,avx2,bmi,bmi2,f16c,fma,lzcnt,movbe,xsave,avx512f,avx512bw,avx512dq,avx512vl,avx512cd,prefer-vector-width=512\")")
#define TZCUMFUN_LEVEL_TARGET_END _Pragma("GCC pop_options")
#elif TZCUMFUN_ISA_LEVEL == 3 && defined(__clang__)
#define TZCUMFUN_LEVEL_NS isa_v3
#define TZCUMFUN_LEVEL_TARGET _Pragma("clang attribute push(__attribute__((target(\"sse3,ssse3,sse4.1,sse4.2,popcnt,cx16,sahf,avx,avx2,bmi,bmi2,f16c,fma,lzcnt,movbe,xsave\"))), apply_to = function)")
#define TZCUMFUN_LEVEL_TARGET_END _Pragma("clang attribute pop")
#elif TZCUMFUN_ISA_LEVEL == 3
#define TZCUMFUN_LEVEL_NS isa_v3
#define TZCUMFUN_LEVEL_TARGET _Pragma("GCC push_options") _Pragma("GCC target(\"sse3,ssse3,sse4.1,sse4.2,popcnt,cx16,sahf,avx,avx2,bmi,bmi2,f16c,fma,lzcnt,movbe,xsave\")")
#define TZCUMFUN_LEVEL_TARGET_END _Pragma("GCC pop_options")
#elif TZCUMFUN_ISA_LEVEL == 0
#define TZCUMFUN_LEVEL_NS isa_baseline
#define TZCUMFUN_LEVEL_TARGET
#define TZCUMFUN_LEVEL_TARGET_END
#else
#error "TZCUMFUN_ISA_LEVEL is 0, 3 or 4"
#endif
// clang-format on

#define TZCUMFUN_LEVEL_BEGIN TZCUMFUN_LEVEL_TARGET inline namespace TZCUMFUN_LEVEL_NS {
#define TZCUMFUN_LEVEL_END \
    }                      \
    TZCUMFUN_LEVEL_TARGET_END
