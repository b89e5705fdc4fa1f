#include "geometry/UnionGeometry.h"
// placeholder
UnionGeometry::UnionGeometry(osg::Vec3Array* p, SelectionGeometry*, SelectionGeometry*) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
