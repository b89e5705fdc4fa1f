#pragma once
// SharedCpuFeatures: the one place that asks the processor what it can do,
// shared by every layer's dispatch (the density's row walks and row lister,
// the point test, the lasso field). In: nothing; tests cap it through
// EngineSwitches::simdLevel. Out: the widest vector level a dispatch may use.
// Cost: one query of the processor on the first call, two loads afterwards.
namespace SharedCpu {

// The levels, each including the ones below.
enum Level { Scalar = 0, Avx = 1, Avx2 = 2, Avx512 = 3 };

// What the processor offers: AVX-512 (F), AVX2 with fused multiply-adds,
// AVX, or none of them. Asked once.
int ProcessorLevel();
// What a dispatch may use: the processor's level, capped by the switch.
int SimdLevel();
// AVX2 with fused multiply-adds may run.
inline bool Avx2Allowed() { return SimdLevel() >= Avx2; }

}  // namespace SharedCpu
