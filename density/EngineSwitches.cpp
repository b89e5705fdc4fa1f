#include "density/EngineSwitches.h"

namespace EngineSwitches {

std::atomic<int> simdLevel{3};
std::atomic<int> maxThreads{0};
std::atomic<bool> vectorPointTest{true};
std::atomic<bool> vectorLassoScan{true};
std::atomic<int> allocationFaultAfter{-1};
std::atomic<int> allocationFaultRepeats{1};
std::atomic<bool> lassoClippedToView{true};

}  // namespace EngineSwitches
