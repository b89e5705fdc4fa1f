#pragma once
// ScalarField3D: a regular, axis-aligned grid of double values over a box in
// data space, x fastest, then y, then z. It carries the surface mesh of its last
// iso-surface extraction and the cell records the point-in-surface test reads,
// so a field and its surface always travel together.
//
// Node (ix, iy, iz) lies at (xMin + ix·xStep, yMin + iy·yStep, zMin + iz·zStep)
// with step = (max − min)/(count − 1); its value is values[NodeIndex(ix, iy, iz)].
// Points are single-precision and widened to double for all arithmetic.
//
// Grid store operations are in density/ScalarField3D.cpp; the marching-cubes
// extraction and the point test (ExtractIsoSurface, IsInsideSurface) are in
// geometry/MarchingCubesExtraction.cpp.
#include "density/CellRecords.h"
#include "density/SurfaceMesh.h"

#include <osg/Vec3f>
#include <cstdint>
#include <vector>

class ScalarField3D {
public:
    // Counts below 2 on an axis are raised to 2 so that every step is defined.
    ScalarField3D(double xMin, double xMax, int xCount,
                  double yMin, double yMax, int yCount,
                  double zMin, double zMax, int zCount);

    int NodeIndex(int ix, int iy, int iz) const { return ix + xCount * iy + sliceSize * iz; }

    // Trilinear interpolation of the values at p. Points outside the grid are
    // clamped to it, so no read leaves the grid.
    double Sample(const osg::Vec3f& p) const;
    // xMin ≤ x ≤ xMax and likewise on y and z, faces included, in double.
    bool IsWithinBounds(const osg::Vec3f& p) const;
    // Sum of all values in index order, divided by nodeCount.
    double Mean() const;
    void Scale(double factor);

    // Marching cubes over the dual cells at level iso; fills surface and cells.
    void ExtractIsoSurface(double iso);
    // Whether p is inside the last extracted surface; call IsWithinBounds first.
    bool IsInsideSurface(const osg::Vec3f& p) const;

    double xMin, xMax, xStep;
    double yMin, yMax, yStep;
    double zMin, zMax, zStep;
    int32_t xCount, yCount, zCount;
    int32_t sliceSize;
    int32_t nodeCount;
    std::vector<double> values;
    SurfaceMesh surface;
    CubeCellGrid cells;
    bool cellsBuilt;
};
