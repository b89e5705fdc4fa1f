#pragma once
// CpuFeatures: what the processor running the program offers, asked once.
// In: nothing. Out: whether AVX2 instructions may run. Cost: one query of the
// processor on the first call, a load afterwards.

inline bool ProcessorHasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
