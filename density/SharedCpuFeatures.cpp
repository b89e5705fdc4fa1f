#include "density/SharedCpuFeatures.h"

#include "density/EngineSwitches.h"

#include <algorithm>

int SharedCpu::ProcessorLevel()
{
    static const int level = __builtin_cpu_supports("avx512f")                                   ? Avx512
                             : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? Avx2
                             : __builtin_cpu_supports("avx")                                   ? Avx
                                                                                               : Scalar;
    return level;
}

int SharedCpu::SimdLevel()
{
    return std::min(ProcessorLevel(), EngineSwitches::simdLevel.load(std::memory_order_relaxed));
}
