#pragma once
#include "geometry/CombinedGeometry.h"

// The region inside both a and b: node value min(a, b).
class IntersectionGeometry : public CombinedGeometry {
public:
    IntersectionGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                         MaskTiming timing = MaskTiming::Now);
};
