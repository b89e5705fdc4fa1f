#pragma once
// A selection volume for tests whose node values come from a function of the
// node position (in double): built on the current grid, extracted at 0 and
// tested against every particle like the real kinds.
#include "geometry/SelectionGeometry.h"

#include <functional>

class FunctionVolume : public SelectionGeometry {
public:
    using Function = std::function<double(double x, double y, double z)>;
    FunctionVolume(osg::Vec3Array* positions, const Function& f);
};
