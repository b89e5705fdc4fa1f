#include "geometry/SurfaceNormals.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

osg::ref_ptr<osg::Vec3Array> SurfaceNormals(const SurfaceMesh& mesh)
{
    const std::vector<osg::Vec3f>& vertices = mesh.vertices;
    const size_t count = vertices.size();
    // Vertices at one position (the extraction makes them where the level
    // falls on a node) add up as one: each takes the first of its group.
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return vertices[a] < vertices[b] || (!(vertices[b] < vertices[a]) && a < b);
    });
    std::vector<uint32_t> group(count);
    for (size_t n = 0; n < count; ++n) {
        const uint32_t v = order[n];
        const bool samePosition = n > 0 && !(vertices[order[n - 1]] < vertices[v]);
        group[v] = samePosition ? group[order[n - 1]] : v;
    }

    std::vector<osg::Vec3f> sums(count, osg::Vec3f(0.0f, 0.0f, 0.0f));
    for (const TriangleIndices& t : mesh.triangles) {
        const osg::Vec3f& a = vertices[static_cast<size_t>(t.v0)];
        const osg::Vec3f& b = vertices[static_cast<size_t>(t.v1)];
        const osg::Vec3f& c = vertices[static_cast<size_t>(t.v2)];
        const osg::Vec3f normal = (b - a) ^ (c - a);
        sums[group[static_cast<size_t>(t.v0)]] += normal;
        sums[group[static_cast<size_t>(t.v1)]] += normal;
        sums[group[static_cast<size_t>(t.v2)]] += normal;
    }
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array(static_cast<unsigned>(count));
    for (size_t v = 0; v < count; ++v) {
        osg::Vec3f n = sums[group[v]];
        n.normalize();
        (*normals)[v] = n;
    }
    return normals;
}
