#pragma once
// SurfaceMembership: whether points lie inside the surface that a field's last
// iso-surface extraction left in its cell records.
//
// In: a ScalarField3D after ExtractIsoSurface (before it, nothing is inside)
// and points in data coordinates. Out: ScalarField3D::IsInsideSurface's answer
// per point, or IsWithinBounds && IsInsideSurface for a whole range of
// particles. Cost: three multiplications (divisions only next to node planes)
// and two bit-table lookups per point; for points in cells the surface cuts,
// at most seven segments against five triangles. With the particles ordered
// by cell (once per dataset), the points of each cut cell are tested eight at
// a time: a lane per point instead of one per corner.
//
// ComputeMask is the entry point: it decides when to find and order the
// particles' cells and when to test the cut cells' points together. The
// steps it takes stay public for the tests that hold each against the
// literal test.
#include "density/ScalarField3D.h"
#include "geometry/ParticleCells.h"

#include <boost/shared_ptr.hpp>
#include <osg/Vec3f>
#include <cstddef>
#include <cstdint>
#include <vector>

class SurfaceMembership {
public:
    // Keeps pointers into the field's cell records: use it while the field
    // lives and before its next extraction.
    explicit SurfaceMembership(const ScalarField3D& field);

    // Cut cells are tested eight corners at a time, and points with known
    // cells classified eight at a time, where the processor and
    // EngineSwitches::vectorPointTest allow; one by one otherwise, with the
    // same answers.
    bool IsInside(const osg::Vec3f& p) const;

    // mask[q] = the field's IsWithinBounds(points[q]) && IsInside(points[q])
    // for every q of the mask, on parallel tasks of whole mask words. `cells`
    // carries the particles' cells between the masks of one dataset: when it
    // is null or was found for other points or on another grid, the cells are
    // found on the way and ordered by cell into a new one; with ordered cells
    // on this grid the points of each cut cell are tested together.
    void ComputeMask(const osg::Vec3f* points, std::vector<bool>& mask,
                     boost::shared_ptr<const ParticleCells>& cells) const;

    // The steps of ComputeMask.
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

    // Orders the points of `found` (cells found on this grid) by cell, for
    // TestsCutCellsTogether; leaves them unordered when there are 2^32 points
    // or more, or no memory for the order. Cost: two passes over the points,
    // 4 bytes per point and 8 per cell.
    void OrderByCell(ParticleCells& found) const;
    // True when the mask can be computed as ClassifyRange over all points
    // and then ContainsCutCells: `cells` are ordered, on this grid, and the
    // processor and the mask's layout allow it.
    bool TestsCutCellsTogether(const ParticleCells& cells) const;
    // ContainsRange with known cells, but the points in cut cells are left
    // false, for ContainsCutCells.
    void ClassifyRange(const osg::Vec3f* points, const ParticleCells& cells, size_t begin, size_t end,
                       std::vector<bool>& mask) const;
    // Sets mask[q] for the points in cut cells that are inside, cell by cell,
    // on the threads the machine has, eight points at a time where the
    // processor allows; the other flags stay as they are.
    void ContainsCutCells(const osg::Vec3f* points, const ParticleCells& cells, std::vector<bool>& mask) const;

private:
    // The cell (i, j, k) holding p, as the linear cell index; false when p
    // maps to no cell that can hold a point of the grid.
    bool CellOf(const osg::Vec3f& p, int& i, int& j, int& k, size_t& cell) const;
    bool InsideCutCell(const osg::Vec3f& p, int i, int j, int k, uint32_t word) const;
    // CellOf for a point within the grid's bounds (faces included); false otherwise.
    bool CellInBounds(const osg::Vec3f& p, size_t& cell) const;
    // How many cells the linear cell index counts (those beyond the last
    // node plane included).
    size_t CellCount() const { return cellsXY * (static_cast<size_t>(zCount) + 1); }
    // ContainsRange with known cells; testCut false leaves the points in cut
    // cells false (ClassifyRange).
    void TestKnownCells(const osg::Vec3f* points, const ParticleCells& c, size_t begin, size_t end,
                        std::vector<bool>& mask, bool testCut) const;
    // knownCells: the cells of all points when cellOf only reads them there,
    // so whole words can be classified without it. testCut false leaves the
    // points in cut cells false.
    template <class Finder>
    void TestRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask, Finder cellOf,
                   const uint32_t* knownCells = nullptr, bool testCut = true) const;

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
