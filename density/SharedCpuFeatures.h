#pragma once
// SharedCpuFeatures: the one place that asks the processor what it can do,
// shared by every layer's dispatch (the density's row walks and row lister,
// the point test, the lasso field). In: nothing; tests cap it through
// EngineSwitches::simdLevel. Out: the widest vector level a dispatch may use.
// Cost: one query of the processor on the first call, two loads afterwards.
#include "density/EngineSwitches.h"

#include <algorithm>

namespace SharedCpu {

// The levels, each including the ones below (1 is left out: no path takes
// AVX without AVX2).
enum Level { Scalar = 0, Avx2 = 2, Avx512 = 3 };

// What the processor offers: AVX-512 (F), AVX2 with fused multiply-adds, or
// neither. Asked once.
int ProcessorLevel();
// What a dispatch may use: the processor's level, capped by the switch.
// Inline: the point test asks once per cut cell it tests.
inline int SimdLevel()
{
    static const int processor = ProcessorLevel();
    return std::min(processor, EngineSwitches::simdLevel.load(std::memory_order_relaxed));
}
// AVX2 with fused multiply-adds may run.
inline bool Avx2Allowed() { return SimdLevel() >= Avx2; }

}  // namespace SharedCpu
