#pragma once
#include "geometry/SelectionGeometry.h"

// Node-wise combination of two volumes on the same grid; the operands are read
// during construction only.
class MinusGeometry : public SelectionGeometry {
public:
    MinusGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b);
};
