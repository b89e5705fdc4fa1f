#pragma once
// AllocationFaults: a test-only switch that makes the engine fail as it does
// when memory runs out, at the points where a history command allocates the
// most: a volume's mask, a combined volume's field, the selection display,
// the history and its stacks.
//
// In: EngineSwitches::allocationFaultAfter = n, set by a test through its
// scoped guard. Out: the check after the next n passing ones throws
// std::bad_alloc, once; every later check passes. Cost: one atomic load per
// check while nothing is armed (always, outside tests).
namespace AllocationFaults {

// Throws std::bad_alloc when the armed check comes up. Safe on any thread.
void Check();

}  // namespace AllocationFaults
