#pragma once
// Lasso polygons in window coordinates for tests and benchmarks.
#include <osg/Vec2f>

#include <cmath>
#include <vector>

// n points on a circle of radius r around (cx, cy), counter-clockwise.
inline std::vector<osg::Vec2f> Circle(float cx, float cy, float r, int n)
{
    const double pi = 3.14159265358979323846;
    std::vector<osg::Vec2f> points;
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * pi * i / n;
        points.push_back(osg::Vec2f(static_cast<float>(cx + r * std::cos(a)), static_cast<float>(cy + r * std::sin(a))));
    }
    return points;
}
