#pragma once
// Indexed triangle mesh of an extracted iso-surface, in data coordinates.
// Triangles keep the winding of the marching-cubes triangle table; no normals
// are stored (the scene derives them).
#include <osg/Vec3f>
#include <cstdint>
#include <vector>

struct TriangleIndices {
    int32_t v0, v1, v2;
};

struct SurfaceMesh {
    std::vector<TriangleIndices> triangles;
    std::vector<osg::Vec3f> vertices;
};
