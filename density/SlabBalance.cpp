#include "density/SlabBalance.h"

#include <algorithm>
#include <cstddef>

std::vector<int> BalancedSlabBorders(const std::vector<double>& workSteps, int parts, int planes, int slabs)
{
    const size_t stride = static_cast<size_t>(planes) + 1;
    std::vector<double> planeWork(static_cast<size_t>(planes), 0.0);
    double total = 0.0;
    {
        double running = 0.0;
        for (size_t z = 0; z < static_cast<size_t>(planes); ++z) {
            for (int t = 0; t < parts; ++t) running += workSteps[static_cast<size_t>(t) * stride + z];
            planeWork[z] = std::max(0.0, running);
            total += planeWork[z];
        }
    }
    std::vector<int> border(static_cast<size_t>(slabs) + 1, planes);
    border[0] = 0;
    double sum = 0.0;
    int z = 0;
    for (int t = 1; t < slabs; ++t) {
        const double share = total * t / slabs;
        while (z < planes && sum + planeWork[static_cast<size_t>(z)] <= share) sum += planeWork[static_cast<size_t>(z++)];
        border[static_cast<size_t>(t)] = z;
    }
    return border;
}
