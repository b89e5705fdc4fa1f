#include "geometry/MinusGeometry.h"
// placeholder
MinusGeometry::MinusGeometry(osg::Vec3Array* p, SelectionGeometry*, SelectionGeometry*) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
