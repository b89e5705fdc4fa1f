#include "geometry/UnionGeometry.h"

UnionGeometry::UnionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                             MaskTiming timing)
    : CombinedGeometry(positions, a, b, NodeOperation::Union, timing)
{
}
