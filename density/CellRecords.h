#pragma once
// CellRecords: the per-cell records of an iso-surface extraction, stored
// compactly. geometry/CellRecordsBuilder writes them as the marching-cubes
// pass (geometry/MarchingCubesMesh) goes; geometry/SurfaceMembership reads
// them. They live here, beside the field rather than beside that code,
// because ScalarField3D declares them as its member `cells`, and density/
// knows nothing of geometry/.
//
// The cells are dual to the node grid: (xCount+1)·(yCount+1)·(zCount+1) of
// them, cell (i, j, k) having its corner 0 at node (i−1, j−1, k−1), so the
// cells on the border reach one node beyond the grid, where the value is
// kBorderValue and the surface is therefore always closed.
//
// The point test only needs, per cell, which corners were below the level
// (the case) and, for the cells the surface cuts, which triangles they
// produced. Most cells are not cut: their case is 0 (no corner below) or 255
// (all below), so two bits per cell answer the bulk of all points from a
// table small enough to stay in cache while a million particles stream past.
// Only cut cells keep a word (case and first triangle); they are numbered in
// cell order, which is the extraction's order, so a cell's word is found by
// counting the cut cells before it. A cell's triangles are contiguous in the
// surface's triangle list; beside the list each triangle's first vertex and
// edge vectors are kept, computed once per extraction, so the test reads one
// contiguous run instead of chasing vertex indices. Corner positions depend
// on one axis index each and are kept once per axis. Nothing here refers to
// the field's values or to the surface mesh, so later writes to either change
// no answer until the next extraction.
//
// Memory at 64³ nodes: about 160 KB of bit tables, 4 bytes per cut cell and
// 48 bytes per triangle.
#include <osg/Vec3f>
#include <cfloat>
#include <cstdint>
#include <vector>

// Value taken for nodes beyond the grid, and the value of every node of the
// empty selection: minus the largest finite float, held as a double.
constexpr double kBorderValue = -3.4028234663852886e38;
static_assert(kBorderValue == -static_cast<double>(FLT_MAX), "border value is -FLT_MAX");

// A triangle as the point test uses it: its first vertex, its two edge
// vectors from that vertex and their cross product, all in single precision.
struct CellTriangle {
    osg::Vec3f v0, u, v, n;
};

// Storage of all cells of one field; cell (i, j, k) has the linear index
// i + (xCount+1)·(j + (yCount+1)·k), which is also the extraction's order.
struct CubeCellGrid {
    double iso = 0.0;  // every extraction gives all cells the same level
    // False while an extraction is rewriting the records (and after one that
    // failed part way, e.g. out of memory): the point test then finds nothing
    // inside rather than reading half-written tables.
    bool complete = false;
    // One bit per cell, 64 cells to a word: cut by the surface, and (for the
    // cells that are not) whether no corner was below the level.
    std::vector<uint64_t> cutBits;
    std::vector<uint64_t> noCornerBelowBits;
    // Per word of cutBits, the number of cut cells in the words before it.
    std::vector<uint32_t> cutCellsBefore;
    // The same two bits in one table for the range test, which reads it
    // eight cells at a time: word w holds cells 16·w + c, c = 0 … 15, with
    // bit c set when the cell is cut and bit 16 + c when it is not cut and
    // has no corner below the level.
    std::vector<uint32_t> classWords;
    // Per cut cell, in cell order: cubeIndex in the low byte, the index of
    // its first triangle above it.
    std::vector<uint32_t> cutCells;
    // Per triangle of the surface, in the surface's order.
    std::vector<CellTriangle> triangles;
    // Node coordinates along each axis, computed in double and rounded to
    // float, for node indices −1 … count (entry index + 1).
    std::vector<float> cornerX, cornerY, cornerZ;
    // 1/step per axis, for the point test's first guess at a cell index.
    double xInverseStep = 0.0, yInverseStep = 0.0, zInverseStep = 0.0;

    static int CubeIndexOf(uint32_t word) { return static_cast<int>(word & 0xffu); }
    static int32_t FirstTriangleOf(uint32_t word) { return static_cast<int32_t>(word >> 8); }

    // The case of a cell; for a cut cell also its word.
    int CubeIndex(size_t cell, uint32_t* cutWord) const
    {
        const size_t w = cell >> 6;
        const uint64_t bit = uint64_t{1} << (cell & 63);
        if (!(cutBits[w] & bit))
            return (noCornerBelowBits[w] & bit) ? 0 : 255;
        const uint32_t rank =
            cutCellsBefore[w] + static_cast<uint32_t>(__builtin_popcountll(cutBits[w] & (bit - 1)));
        *cutWord = cutCells[rank];
        return CubeIndexOf(*cutWord);
    }
};
