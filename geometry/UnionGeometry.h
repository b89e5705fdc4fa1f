#pragma once
#include "geometry/SelectionGeometry.h"

// Node-wise combination of two volumes on the same grid; the operands are read
// during construction only.
class UnionGeometry : public SelectionGeometry {
public:
    UnionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b);
};
