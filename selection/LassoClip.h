#pragma once
// LassoClip: the part of a closed lasso polygon within an axis-aligned
// rectangle, for triangulating only what the lasso camera can draw.
//
// In: the polygon (window coordinates, the last point closing to the first)
// and the rectangle. Out: a closed polygon covering the same points of the
// rectangle (Sutherland-Hodgman against its four sides): within the rectangle
// its sides are the lasso's own, parts outside run along the rectangle's
// sides, and where the lasso leaves and comes back its pieces may be joined by
// stretches along a side. A polygon entirely within the rectangle comes back
// unchanged, point for point. Consecutive repeated points are dropped.
// Cost: linear in the number of points.
#include <osg/Vec2f>

#include <vector>

struct ClipRectangle {
    double minX, minY, maxX, maxY;
};

std::vector<osg::Vec2f> ClipLassoToRectangle(const std::vector<osg::Vec2f>& lasso, const ClipRectangle& r);
