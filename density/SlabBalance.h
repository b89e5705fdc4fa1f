#pragma once
// SlabBalance: where the density estimate cuts its grid into slabs of
// consecutive planes, one per thread, so that each holds about the same
// work. In: per plane, the work that starts there (positive) and ends there
// (negative), as `parts` arrays of planes + 1 entries each (one per run of
// particles, added in part order, so the borders do not depend on which
// thread counted which run); the number of slabs. Out: slabs + 1 borders,
// from 0 to planes, non-decreasing; slab t is [border[t], border[t + 1]).
// Cost: one pass over the planes per part, one more for the borders.
#include <vector>

std::vector<int> BalancedSlabBorders(const std::vector<double>& workSteps, int parts, int planes, int slabs);
