#include "geometry/LassoCoverage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// One directed edge of a counter-clockwise triangle: the inside is on its
// left, where the edge function is positive.
struct Edge {
    double px, py, dx, dy;
    bool includesCentresOn;

    double At(double x, double y) const { return dx * (y - py) - dy * (x - px); }
    bool Covers(double x, double y) const
    {
        const double e = At(x, y);
        return e > 0.0 || (e == 0.0 && includesCentresOn);
    }
};

Edge MakeEdge(const osg::Vec2f& p, const osg::Vec2f& q, LassoCoverage::EdgeRule rule)
{
    Edge e;
    e.px = p.x();
    e.py = p.y();
    e.dx = static_cast<double>(q.x()) - p.x();
    e.dy = static_cast<double>(q.y()) - p.y();
    // Counter-clockwise with y up, a left edge runs downward and a top edge
    // runs toward smaller x.
    const bool leftOrTop = e.dy < 0.0 || (e.dy == 0.0 && e.dx < 0.0);
    e.includesCentresOn = rule == LassoCoverage::EdgeRule::TopLeft && leftOrTop;
    return e;
}

}  // namespace

void LassoCoverage::Clear()
{
    image.clear();
    width = height = 0;
}

void LassoCoverage::Rasterize(const std::vector<osg::Vec2f>& corners, int x, int y, int w, int h, EdgeRule rule)
{
    width = std::max(w, 0);
    height = std::max(h, 0);
    image.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
        osg::Vec2f a = corners[t], b = corners[t + 1], c = corners[t + 2];
        const double area = (static_cast<double>(b.x()) - a.x()) * (static_cast<double>(c.y()) - a.y()) -
                            (static_cast<double>(b.y()) - a.y()) * (static_cast<double>(c.x()) - a.x());
        if (!(area != 0.0)) continue;  // degenerate (or not finite): no pixel
        if (area < 0.0) std::swap(b, c);
        const Edge edges[3] = {MakeEdge(a, b, rule), MakeEdge(b, c, rule), MakeEdge(c, a, rule)};
        // Pixels whose centre can lie in the triangle's bounding box: centre
        // of column i is x + i + 0.5.
        const double minX = std::min({a.x(), b.x(), c.x()}) - x - 0.5;
        const double maxX = std::max({a.x(), b.x(), c.x()}) - x - 0.5;
        const double minY = std::min({a.y(), b.y(), c.y()}) - y - 0.5;
        const double maxY = std::max({a.y(), b.y(), c.y()}) - y - 0.5;
        if (!(maxX >= 0.0 && minX <= width - 1.0 && maxY >= 0.0 && minY <= height - 1.0)) continue;
        const int c0 = static_cast<int>(std::max(0.0, std::ceil(minX)));
        const int c1 = static_cast<int>(std::min(width - 1.0, std::floor(maxX)));
        const int r0 = static_cast<int>(std::max(0.0, std::ceil(minY)));
        const int r1 = static_cast<int>(std::min(height - 1.0, std::floor(maxY)));
        for (int row = r0; row <= r1; ++row) {
            const double cy = static_cast<double>(y) + row + 0.5;
            unsigned char* line = &image[static_cast<size_t>(row) * static_cast<size_t>(width) * 3];
            for (int column = c0; column <= c1; ++column) {
                const double cx = static_cast<double>(x) + column + 0.5;
                if (edges[0].Covers(cx, cy) && edges[1].Covers(cx, cy) && edges[2].Covers(cx, cy))
                    line[static_cast<size_t>(column) * 3] = 255;
            }
        }
    }
}
