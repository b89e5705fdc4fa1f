#include "density/ScalarField3D.h"
// placeholder: extraction is being written
void ScalarField3D::ExtractIsoSurface(double) {}
bool ScalarField3D::IsInsideSurface(const osg::Vec3f&) const { return false; }
CubeCell ScalarField3D::Cell(int, int, int) const { return CubeCell{}; }
