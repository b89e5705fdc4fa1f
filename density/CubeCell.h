#pragma once
// Per-cell records of an iso-surface extraction, stored compactly.
//
// The cells are dual to the node grid: (xCount+1)·(yCount+1)·(zCount+1) of
// them, cell (i, j, k) having its corner 0 at node (i−1, j−1, k−1), so the
// cells on the border reach one node beyond the grid, where the value is
// kBorderValue and the surface is therefore always closed.
//
// The point test only needs, per cell, which corners were below the level
// (the case byte), where the corners are and which triangles the cell
// produced. Corner positions depend on one axis index each, so they are kept
// once per axis; the triangles of a cell are contiguous in the surface's
// triangle list, so a cell keeps only where its run starts (its length follows
// from the case). Nothing here refers to the field's values, so later writes
// to them do not change any answer until the next extraction.
//
// Memory at 64³ nodes: 65³ cells × 5 bytes ≈ 1.4 MB.
#include <osg/Vec3f>
#include <cfloat>
#include <cstdint>
#include <vector>

// Value taken for nodes beyond the grid, and the value of every node of the
// empty selection: minus the largest finite float, held as a double.
constexpr double kBorderValue = -3.4028234663852886e38;
static_assert(kBorderValue == -static_cast<double>(FLT_MAX), "border value is -FLT_MAX");

// One cell as the last extraction left it (a view assembled on request).
struct CubeCell {
    double iso;                  // level of the last extraction
    int32_t cubeIndex;           // bit c set when corner c was below iso
    osg::Vec3f cornerPositions[8];
    int32_t firstTriangle;       // into the surface's triangle list
    int32_t triangleCount;       // 0 when the last extraction did not cut the cell
};

// Storage of all cells of one field; cell (i, j, k) has the linear index
// i + (xCount+1)·(j + (yCount+1)·k).
struct CubeCellGrid {
    double iso = 0.0;                    // every extraction gives all cells the same level
    std::vector<uint8_t> cubeIndex;      // one per cell
    std::vector<int32_t> firstTriangle;  // one per cell; meaningful where the case has triangles
    // Node coordinates along each axis, computed in double and rounded to
    // float, for node indices −1 … count (entry index + 1).
    std::vector<float> cornerX, cornerY, cornerZ;
};
