#pragma once
#include "geometry/CombinedGeometry.h"

// The region inside a or b: node value max(a, b).
class UnionGeometry : public CombinedGeometry {
public:
    UnionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                  MaskTiming timing = MaskTiming::Now);
};
