#pragma once
// ParticleCells: the cell of every particle of a set on one grid, and the
// particles ordered by cell. Finding a point's cell is most of a point test,
// and every volume of a dataset lies on the same grid, so volumes that test
// the same particles share this. In: the cells SurfaceMembership found.
// Out: byCell and cellStart (OrderByCell). Cost: two passes over the points,
// 4 bytes per point and 8 per cell.
#include <cstddef>
#include <cstdint>
#include <vector>

struct ParticleCells {
    static constexpr uint32_t kNoCell = 0xFFFFFFFFu;  // outside the grid or in no cell
    double xMin, yMin, zMin, xMax, yMax, zMax;
    int xCount, yCount, zCount;
    std::vector<uint32_t> cell;
    // Filled by OrderByCell: the indices of the points in cells, by cell and
    // within a cell in index order; those of cell c are
    // byCell[cellStart[c]] … byCell[cellStart[c + 1] − 1].
    std::vector<uint32_t> byCell;
    std::vector<uint32_t> cellStart;
};

// Orders the points of `found` by cell, cellCount cells in all; leaves them
// unordered when there are 2^32 points or cells or more, or no memory for the
// order (it only speeds later masks up).
void OrderByCell(ParticleCells& found, size_t cellCount);
