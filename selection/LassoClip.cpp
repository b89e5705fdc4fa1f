#include "selection/LassoClip.h"

namespace {

// One side of the rectangle: points with (coordinate axis) on the kept side
// of `limit` are inside.
struct Side {
    int axis;      // 0 x, 1 y
    double limit;
    bool keepBelow;  // inside when coordinate ≤ limit
};

bool Inside(const osg::Vec2f& p, const Side& s)
{
    const double c = p[s.axis];
    return s.keepBelow ? c <= s.limit : c >= s.limit;
}

// Where segment a → b meets the side's line; the crossing coordinate is set
// exactly to the limit so that stretches along a side stay on it.
osg::Vec2f Crossing(const osg::Vec2f& a, const osg::Vec2f& b, const Side& s)
{
    const int other = 1 - s.axis;
    const double t = (s.limit - a[s.axis]) / (static_cast<double>(b[s.axis]) - a[s.axis]);
    osg::Vec2f p;
    p[s.axis] = static_cast<float>(s.limit);
    p[other] = static_cast<float>(a[other] + t * (static_cast<double>(b[other]) - a[other]));
    return p;
}

void PushUnlessRepeated(std::vector<osg::Vec2f>& out, const osg::Vec2f& p)
{
    if (out.empty() || out.back() != p)
        out.push_back(p);
}

}  // namespace

std::vector<osg::Vec2f> ClipLassoToRectangle(const std::vector<osg::Vec2f>& lasso, const ClipRectangle& r)
{
    const Side sides[4] = {{0, r.minX, false}, {0, r.maxX, true}, {1, r.minY, false}, {1, r.maxY, true}};
    std::vector<osg::Vec2f> polygon = lasso, clipped;
    for (const Side& s : sides) {
        clipped.clear();
        for (size_t i = 0; i < polygon.size(); ++i) {
            const osg::Vec2f& a = polygon[i == 0 ? polygon.size() - 1 : i - 1];
            const osg::Vec2f& b = polygon[i];
            const bool aIn = Inside(a, s), bIn = Inside(b, s);
            if (aIn != bIn)
                PushUnlessRepeated(clipped, Crossing(a, b, s));
            if (bIn)
                PushUnlessRepeated(clipped, b);
        }
        while (clipped.size() > 1 && clipped.back() == clipped.front())
            clipped.pop_back();
        polygon.swap(clipped);
    }
    return polygon;
}
