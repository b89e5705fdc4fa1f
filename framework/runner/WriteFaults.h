#pragma once
// WriteFaults: a test-only switch that makes the results files' writes fail
// as they do on a full disk.
//
// In: FailAfter(n, partial) from a test. Out: n writes pass; the next one
// writes at most `partial` bytes and fails with ENOSPC, and so does every
// later write (at most `partial` bytes each time) until Clear() — a full
// disk stays full until someone frees it. Cost: one atomic load per write
// while nothing is armed (always, outside tests).
#include <cstddef>

namespace WriteFaults {

void FailAfter(int n, size_t partial = 0);
void Clear();
// How many bytes of a `size`-byte write may go to the disk: `size` while
// nothing fails; otherwise the partial count, and then the write reports
// ENOSPC. Safe on any thread.
size_t Allowed(size_t size, bool& fails);

}  // namespace WriteFaults
