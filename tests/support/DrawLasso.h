#pragma once
// Draws a lasso as the framework would: the start of its mode at the first
// point, addIntoPath for the others, endPath. Mode 1 plus, 2 minus, 3 intersection.
#include "selection/ParticleSelection.h"

#include <osg/Vec2f>
#include <vector>

inline void DrawLasso(ParticleSelection& s, int mode, const std::vector<osg::Vec2f>& points)
{
    const osg::Vec2f& p0 = points.front();
    if (mode == 2) s.startMinusPath(p0.x(), p0.y());
    else if (mode == 3) s.startIntersectionPath(p0.x(), p0.y());
    else s.startPlusPath(p0.x(), p0.y());
    for (size_t i = 1; i < points.size(); ++i) s.addIntoPath(points[i].x(), points[i].y());
    s.endPath();
}
