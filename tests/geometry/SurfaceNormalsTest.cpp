// SurfaceNormals against the scene graph's smoothing, bit for bit, on
// extracted surfaces: smooth blobs, noise, and fields whose level falls on
// nodes, where several vertices share a position.
#include "geometry/SurfaceNormals.h"

#include "density/ScalarField3D.h"
#include "tests/support/SmoothedSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

osg::ref_ptr<osg::Vec3Array> SmoothedNormals(const SurfaceMesh& mesh)
{
    return dynamic_cast<osg::Vec3Array*>(SmoothedGeometry(mesh)->getNormalArray());
}

}  // namespace

TEST(SurfaceNormals, EqualTheSceneGraphsSmoothingBitForBit)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::uniform_int_distribution<int> level(-2, 2);
    int sharedPositions = 0;
    for (int kind = 0; kind < 4; ++kind) {
        ScalarField3D f(-1.5, 2.5, 24, 0.0, 3.0, 20, -2.0, 2.0, 22);
        for (int iz = 0; iz < f.zCount; ++iz)
            for (int iy = 0; iy < f.yCount; ++iy)
                for (int ix = 0; ix < f.xCount; ++ix) {
                    const double x = ix - 11.0, y = iy - 9.0, z = iz - 10.0;
                    double v = 0;
                    if (kind == 0) v = 60.0 - (x * x + 1.5 * y * y + z * z);    // one blob
                    else if (kind == 1) v = noise(rng);                       // every cell cut
                    else if (kind == 2) v = level(rng);                        // the level on many nodes
                    else v = std::round(std::sin(0.4 * x) * 3 + std::cos(0.3 * y + 0.2 * z) * 3);
                    f.values[f.NodeIndex(ix, iy, iz)] = v;
                }
        f.ExtractIsoSurface(0.0);
        const SurfaceMesh& mesh = f.surface;
        ASSERT_GT(mesh.triangles.size(), 100u) << "kind " << kind;
        const osg::ref_ptr<osg::Vec3Array> expected = SmoothedNormals(mesh);
        const osg::ref_ptr<osg::Vec3Array> normals = SurfaceNormals(mesh);
        ASSERT_TRUE(expected);
        ASSERT_EQ(normals->size(), expected->size()) << "kind " << kind;
        EXPECT_EQ(std::memcmp(&(*normals)[0], &(*expected)[0], normals->size() * sizeof(osg::Vec3f)), 0)
            << "kind " << kind;
        for (size_t a = 1; a < mesh.vertices.size(); ++a)
            sharedPositions += mesh.vertices[a] == mesh.vertices[a - 1];
    }
    EXPECT_GT(sharedPositions, 0) << "no surface had vertices at one position";
}
