#include "geometry/ParticleCells.h"

#include <new>

void OrderByCell(ParticleCells& found, size_t cellCount)
{
    found.byCell.clear();
    found.cellStart.clear();
    if (found.cell.size() >= UINT32_MAX || cellCount >= UINT32_MAX)
        return;
    try {
        std::vector<uint32_t> start(cellCount + 1, 0);
        for (uint32_t c : found.cell)
            if (c != ParticleCells::kNoCell)
                ++start[c + 1];
        for (size_t c = 0; c < cellCount; ++c)
            start[c + 1] += start[c];
        std::vector<uint32_t> byCell(start[cellCount]);
        std::vector<uint32_t> next(start.begin(), start.end() - 1);
        for (size_t q = 0; q < found.cell.size(); ++q) {
            const uint32_t c = found.cell[q];
            if (c != ParticleCells::kNoCell)
                byCell[next[c]++] = static_cast<uint32_t>(q);
        }
        found.byCell = std::move(byCell);
        found.cellStart = std::move(start);
    } catch (const std::bad_alloc&) {
    }
}
