#pragma once
#include "geometry/CombinedGeometry.h"

// The region inside a but not inside b: node value min(a, −b).
class MinusGeometry : public CombinedGeometry {
public:
    MinusGeometry(osg::Vec3Array* positions, SelectionGeometry* a, SelectionGeometry* b,
                  MaskTiming timing = MaskTiming::Now);
};
