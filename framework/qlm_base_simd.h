// Compiling single functions for AVX2 in a file built for the baseline
// (SSE2): the code between QLM_AVX2_BEGIN and QLM_AVX2_END, lambdas included,
// may use AVX2 intrinsics and must only run after a run-time check
// (__builtin_cpu_supports("avx2")). GCC and clang spell this differently:
// GCC takes a target pragma for the region, clang an attribute applied to
// every function of the region (clang warns on GCC's pragma and ignores it).
#pragma once

#if defined(__clang__)
#define QLM_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define QLM_AVX2_END _Pragma("clang attribute pop")
#elif defined(__GNUC__)
#define QLM_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define QLM_AVX2_END _Pragma("GCC pop_options")
#endif
