#include "geometry/MinusGeometry.h"

MinusGeometry::MinusGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                             MaskTiming timing)
    : CombinedGeometry(positions, a, b, NodeOperation::Minus, timing)
{
}
