#include "geometry/SelectionGeometry.h"
#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"
// placeholder: volumes are being written
SelectionGeometry::SelectionGeometry(osg::Vec3Array* p) : positions(p), mask(p ? p->size() : 0) { if (positions) positions->ref(); }
SelectionGeometry::~SelectionGeometry() { if (positions) positions->unref(); }
const SurfaceMesh& SelectionGeometry::GetSurface() const { return field->surface; }
SurfaceMesh& SelectionGeometry::GetSurface() { return field->surface; }
void SelectionGeometry::UpdateThreshold(double) {}
bool SelectionGeometry::Contains(const osg::Vec3f& p) const { return field->IsWithinBounds(p) && field->IsInsideSurface(p); }
double SelectionGeometry::VolumeFraction() const { return 0; }
boost::shared_ptr<ScalarField3D> SelectionGeometry::CreateFieldOnCurrentGrid()
{
    const auto& d = PreComputedDensity::Instance()->Field(FerrowManager::Instance()->GetCurrentDatasetNr());
    return boost::shared_ptr<ScalarField3D>(new ScalarField3D(d->xMin, d->xMax, d->xCount, d->yMin, d->yMax, d->yCount, d->zMin, d->zMax, d->zCount));
}
void SelectionGeometry::ComputeMaskFromField() {}
