#pragma once
// SurfaceMembership: whether points lie inside the surface that a field's last
// iso-surface extraction left in its cell records.
//
// In: a ScalarField3D after ExtractIsoSurface (before it, nothing is inside)
// and points in data coordinates. Out: ScalarField3D::IsInsideSurface's answer
// per point, or IsWithinBounds && IsInsideSurface for a whole range of
// particles. Cost: three multiplications (divisions only next to node planes)
// and two bit-table lookups per point; for points in cells the surface cuts,
// at most seven segments against five triangles.
#include "density/ScalarField3D.h"

#include <osg/Vec3f>
#include <cstddef>
#include <cstdint>
#include <vector>

// The cell of every particle of a set on one grid. Finding a point's cell is
// most of a point test, and every volume of a dataset lies on the same grid,
// so volumes that test the same particles share this.
struct ParticleCells {
    static constexpr uint32_t kNoCell = 0xFFFFFFFFu;  // outside the grid or in no cell
    double xMin, yMin, zMin, xMax, yMax, zMax;
    int xCount, yCount, zCount;
    std::vector<uint32_t> cell;
};

class SurfaceMembership {
public:
    // Keeps pointers into the field's cell records: use it while the field
    // lives and before its next extraction.
    explicit SurfaceMembership(const ScalarField3D& field);

    bool IsInside(const osg::Vec3f& p) const;
    // Whether cut cells are tested eight corners at a time, and points with
    // known cells classified eight at a time, where the processor can (the
    // default), or one by one; same answers.
    static void SetVectorTest(bool on);
    // mask[q] = the field's IsWithinBounds(points[q]) && IsInside(points[q])
    // for q in [begin, end).
    void ContainsRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask) const;

    // An empty ParticleCells for `count` points on this field's grid, for
    // ContainsRange to fill.
    ParticleCells NewParticleCells(size_t count) const;
    // True when `cells` were found on this field's grid (same bounds and counts).
    bool OnGridOf(const ParticleCells& cells) const;
    // ContainsRange that also records in found.cell[q] the cell it tested
    // points[q] in, or kNoCell.
    void ContainsRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask,
                       ParticleCells& found) const;
    // ContainsRange with the cells found earlier on this grid: the same answers.
    void ContainsRange(const osg::Vec3f* points, const ParticleCells& cells, size_t begin, size_t end,
                       std::vector<bool>& mask) const;

private:
    // The cell (i, j, k) holding p, as the linear cell index; false when p
    // maps to no cell that can hold a point of the grid.
    bool CellOf(const osg::Vec3f& p, int& i, int& j, int& k, size_t& cell) const;
    bool InsideCutCell(const osg::Vec3f& p, int i, int j, int k, uint32_t word) const;
    // CellOf for a point within the grid's bounds (faces included); false otherwise.
    bool CellInBounds(const osg::Vec3f& p, size_t& cell) const;
    // knownCells: the cells of all points when cellOf only reads them there,
    // so whole words can be classified without it.
    template <class Finder>
    void TestRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask, Finder cellOf,
                   const uint32_t* knownCells = nullptr) const;

    double xMin, yMin, zMin, xMax, yMax, zMax, xStep, yStep, zStep;
    double xInverseStep, yInverseStep, zInverseStep;
    int xCount, yCount, zCount;
    size_t cellsX, cellsXY;
    const CubeCellGrid* cells;  // null before the first extraction
    const CellTriangle* triangles;
    const uint32_t* classWords;
    const float* cornerX;
    const float* cornerY;
    const float* cornerZ;
};
