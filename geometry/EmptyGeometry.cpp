#include "geometry/EmptyGeometry.h"

#include <algorithm>

EmptyGeometry::EmptyGeometry(osg::Vec3Array* positions) : SelectionGeometry(positions)
{
    field = CreateFieldOnCurrentGrid();
    std::fill(field->values.begin(), field->values.end(), kBorderValue);
    // No extraction: the empty selection has no surface, and the mask stays all false.
}

bool EmptyGeometry::Contains(const osg::Vec3f&) const { return false; }
