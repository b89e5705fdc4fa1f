#include "geometry/IntersectionGeometry.h"

IntersectionGeometry::IntersectionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                                           MaskTiming timing)
    : CombinedGeometry(positions, a, b, NodeOperation::Intersection, timing)
{
}
