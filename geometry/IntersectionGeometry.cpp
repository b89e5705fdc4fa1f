#include "geometry/IntersectionGeometry.h"
// placeholder
IntersectionGeometry::IntersectionGeometry(osg::Vec3Array* p, SelectionGeometry*, SelectionGeometry*) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
