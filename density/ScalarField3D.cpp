#include "density/ScalarField3D.h"
// placeholder: the grid store is being written
ScalarField3D::ScalarField3D(double a, double b, int c, double d, double e, int f, double g, double h, int i)
    : xMin(a), xMax(b), xStep((b - a) / (c - 1)), yMin(d), yMax(e), yStep((e - d) / (f - 1)),
      zMin(g), zMax(h), zStep((h - g) / (i - 1)), xCount(c), yCount(f), zCount(i),
      sliceSize(c * f), nodeCount(c * f * i), values(static_cast<size_t>(c) * f * i, 0.0), cellsBuilt(false) {}
double ScalarField3D::Sample(const osg::Vec3f&) const { return 0; }
bool ScalarField3D::IsWithinBounds(const osg::Vec3f& p) const
{
    return xMin <= p.x() && p.x() <= xMax && yMin <= p.y() && p.y() <= yMax && zMin <= p.z() && p.z() <= zMax;
}
double ScalarField3D::Mean() const { return 0; }
void ScalarField3D::Scale(double) {}
