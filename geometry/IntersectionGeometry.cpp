#include "geometry/IntersectionGeometry.h"

IntersectionGeometry::IntersectionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b)
    : CombinedGeometry(positions, a, b, NodeOperation::Intersection)
{
}
