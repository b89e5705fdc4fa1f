#include "geometry/EmptyGeometry.h"
// placeholder
EmptyGeometry::EmptyGeometry(osg::Vec3Array* p) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
bool EmptyGeometry::Contains(const osg::Vec3f&) const { return false; }
