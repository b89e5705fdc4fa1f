#pragma once
#include "geometry/SelectionGeometry.h"

// Node-wise combination of two volumes on the same grid; the operands are read
// during construction only.
class IntersectionGeometry : public SelectionGeometry {
public:
    IntersectionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b);
};
