#pragma once
// Per-cell records of an iso-surface extraction, stored compactly.
//
// The grid of cells is dual to the node grid: (xCount+1)·(yCount+1)·(zCount+1)
// cells, cell (i, j, k) having its corner 0 at node (i−1, j−1, k−1). What the
// point test needs of a cell is kept here; corner positions are recomputed
// from the grid exactly as the extraction computes them, and corner values come
// from the copy of the node values taken at extraction time, so answers do not
// depend on later writes to the field.
#include <cstdint>
#include <vector>

// The view of one cell that the point test works with.
struct CubeCell {
    double iso;
    int32_t cubeIndex;
    int32_t firstTriangle;  // into the surface's triangle list
    int32_t triangleCount;
};

// Storage of all cells of one field, cell index i + (xCount+1)·(j + (yCount+1)·k).
struct CubeCellGrid {
    double iso = 0.0;                     // level of the last extraction, shared by every cell
    std::vector<uint8_t> cubeIndex;       // one per cell
    std::vector<int32_t> firstTriangle;   // one per cell; valid where triangleCount > 0
    std::vector<uint8_t> triangleCount;   // one per cell, at most five
    std::vector<double> valuesAtExtraction;  // node values as the last extraction read them
};
