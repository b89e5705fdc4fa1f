#include "geometry/MinusGeometry.h"

MinusGeometry::MinusGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b)
    : CombinedGeometry(positions, a, b, NodeOperation::Minus)
{
}
