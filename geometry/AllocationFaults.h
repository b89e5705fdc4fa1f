#pragma once
// AllocationFaults: a test-only switch that makes the engine fail as it does
// when memory runs out, at the points where a history command allocates the
// most: a volume's mask (SelectionGeometry), the selection display and the
// history and its stacks (ParticleSelection's clear, undo and redo).
//
// In: EngineSwitches::allocationFaultAfter = n (and allocationFaultRepeats =
// k, 1 by default), set by a test through their scoped guards. Out: after
// the next n passing checks the following k throw std::bad_alloc; every
// later check passes. Cost: one atomic load per
// check while nothing is armed (always, outside tests).
namespace AllocationFaults {

// Throws std::bad_alloc when the armed check comes up. Safe on any thread.
void Check();

}  // namespace AllocationFaults
