#include "geometry/UnionGeometry.h"

UnionGeometry::UnionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b)
    : CombinedGeometry(positions, a, b, NodeOperation::Union)
{
}
