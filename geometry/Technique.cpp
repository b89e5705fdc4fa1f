#include "geometry/Technique.h"

#include <stdexcept>

FieldGeometry::FieldGeometry(osg::Vec3Array* positions, boost::shared_ptr<ScalarField3D> f)
    : SelectionGeometry(positions)
{
    if (!f) throw std::invalid_argument("FieldGeometry: no field given");
    field = std::move(f);
    field->ExtractIsoSurface(0.0);
    ComputeMaskFromField();
}
