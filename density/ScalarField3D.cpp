#include "density/ScalarField3D.h"

#include <algorithm>
#include <cstddef>

namespace {

// A grid needs two nodes per axis for its step to be defined.
int AtLeastTwo(int count) { return count < 2 ? 2 : count; }

// Splits a point's fractional node coordinate into the lower node of its cell
// and the offset inside it. Coordinates outside the grid (and NaN) are clamped
// to the nearest face, so the two nodes read always exist; inside the grid
// this is plain truncation.
void CellOf(double f, int count, int& i, double& t)
{
    const double last = static_cast<double>(count - 1);
    if (!(f > 0.0)) f = 0.0;
    if (f > last) f = last;
    i = static_cast<int>(f);
    if (i > count - 2) i = count - 2;
    t = f - i;
}

}  // namespace

ScalarField3D::ScalarField3D(double xMin_, double xMax_, int xCount_,
                             double yMin_, double yMax_, int yCount_,
                             double zMin_, double zMax_, int zCount_)
    : xMin(xMin_), xMax(xMax_), xStep(0.0),
      yMin(yMin_), yMax(yMax_), yStep(0.0),
      zMin(zMin_), zMax(zMax_), zStep(0.0),
      xCount(AtLeastTwo(xCount_)), yCount(AtLeastTwo(yCount_)), zCount(AtLeastTwo(zCount_)),
      sliceSize(xCount * yCount), nodeCount(sliceSize * zCount),
      values(static_cast<size_t>(nodeCount), 0.0), cellsBuilt(false)
{
    xStep = (xMax - xMin) / (xCount - 1);
    yStep = (yMax - yMin) / (yCount - 1);
    zStep = (zMax - zMin) / (zCount - 1);
}

double ScalarField3D::Sample(const osg::Vec3f& p) const
{
    int ix, iy, iz;
    double tx, ty, tz;
    CellOf((static_cast<double>(p.x()) - xMin) / xStep, xCount, ix, tx);
    CellOf((static_cast<double>(p.y()) - yMin) / yStep, yCount, iy, ty);
    CellOf((static_cast<double>(p.z()) - zMin) / zStep, zCount, iz, tz);

    const double* v = values.data();
    const int i000 = NodeIndex(ix, iy, iz);
    const int i010 = i000 + xCount;
    const int i001 = i000 + sliceSize;
    const int i011 = i001 + xCount;

    const double c00 = v[i000] + tx * (v[i000 + 1] - v[i000]);
    const double c10 = v[i010] + tx * (v[i010 + 1] - v[i010]);
    const double c0 = c00 + ty * (c10 - c00);
    const double c01 = v[i001] + tx * (v[i001 + 1] - v[i001]);
    const double c11 = v[i011] + tx * (v[i011 + 1] - v[i011]);
    const double c1 = c01 + ty * (c11 - c01);
    return c0 + tz * (c1 - c0);
}

bool ScalarField3D::IsWithinBounds(const osg::Vec3f& p) const
{
    const double x = p.x(), y = p.y(), z = p.z();
    return xMin <= x && x <= xMax && yMin <= y && y <= yMax && zMin <= z && z <= zMax;
}

double ScalarField3D::Mean() const
{
    double sum = 0.0;
    for (double v : values) sum += v;
    return sum / nodeCount;
}

void ScalarField3D::Scale(double factor)
{
    for (double& v : values) v *= factor;
}
