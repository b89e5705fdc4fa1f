#include "density/SharedCpuFeatures.h"

int SharedCpu::ProcessorLevel()
{
    static const int level = __builtin_cpu_supports("avx512f")                                   ? Avx512
                             : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? Avx2
                                                                                               : Scalar;
    return level;
}
