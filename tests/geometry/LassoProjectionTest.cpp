#include "geometry/LassoProjection.h"

#include "density/EngineSwitches.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>
#include <osg/Viewport>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

namespace {

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Every node's value as the full scan gives it, the node carried to the eye
// by the matrices' own general products (no affine shortcut): the data
// transform in single precision, then the view in double.
std::vector<double> FullScan(const LassoProjection& projection, const ScalarField3D& grid, const osg::Matrixf& model,
                             const osg::Matrixd& view)
{
    std::vector<double> out(grid.values.size());
    for (int iz = 0; iz < grid.zCount; ++iz)
        for (int iy = 0; iy < grid.yCount; ++iy)
            for (int ix = 0; ix < grid.xCount; ++ix) {
                const osg::Vec3f node(static_cast<float>(grid.xMin + ix * grid.xStep),
                                      static_cast<float>(grid.yMin + iy * grid.yStep),
                                      static_cast<float>(grid.zMin + iz * grid.zStep));
                const osg::Vec3d eye = view.preMult(osg::Vec3d(model.preMult(node)));
                out[static_cast<size_t>(grid.NodeIndex(ix, iy, iz))] = projection.ScreenSignedDistance(eye);
            }
    return out;
}

std::vector<osg::Vec2f> RandomLasso(std::mt19937& rng, int count, float lo, float hi)
{
    std::uniform_real_distribution<float> u(lo, hi);
    std::vector<osg::Vec2f> lasso;
    for (int i = 0; i < count; ++i) lasso.push_back(osg::Vec2f(u(rng), u(rng)));
    return lasso;
}

std::string ThrownMessage(SceneFixture& scene)
{
    try {
        LassoProjection p(scene.viewer.get(), {osg::Vec2f(1, 1)}, osg::Matrixf(), LassoImageBounds::ExcludeEdges);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Eye-space point that the unit orthographic camera of ImageBoundsRules maps
// to window (x, y) of an 800 x 600 viewport at the origin.
osg::Vec3d EyeAtWindow(double x, double y, double eyeZ = -10.0)
{
    return osg::Vec3d(x / 400.0 - 1.0, y / 300.0 - 1.0, eyeZ);
}

}  // namespace

TEST(LassoProjectionTest, FastFillGivesTheFullScanBitForBit)
{
    SceneFixture scene(nullptr);
    scene.PaintLassoImage({osg::Vec2f(100, 80), osg::Vec2f(700, 120), osg::Vec2f(420, 560)});
    std::mt19937 rng(7);

    std::vector<std::vector<osg::Vec2f>> lassos;
    lassos.push_back(RandomLasso(rng, 500, 0.0f, 800.0f));
    lassos.push_back(RandomLasso(rng, 40, -2000.0f, 3000.0f));
    lassos.push_back({osg::Vec2f(400, 300)});
    // Far off to one side: the tiles reach the nodes, whose nearest lasso
    // point is farther than the window origin.
    lassos.push_back({osg::Vec2f(1500, 3000), osg::Vec2f(3000, 1500), osg::Vec2f(3000, 3000)});
    // Duplicates, a huge point and a NaN point: the scan never picks the last
    // two, the tree must not either.
    std::vector<osg::Vec2f> odd = RandomLasso(rng, 30, 200.0f, 600.0f);
    odd.insert(odd.end(), odd.begin(), odd.begin() + 10);
    odd.push_back(osg::Vec2f(1e30f, -1e30f));
    odd.push_back(osg::Vec2f(std::numeric_limits<float>::quiet_NaN(), 5.0f));
    lassos.push_back(odd);

    struct Camera {
        const char* name;
        osg::Vec3d eye;
        bool ortho;
    };
    // The last camera sits inside the grid: nodes behind it and on its plane
    // project to far-away, infinite or NaN window positions.
    const Camera cameras[] = {{"front perspective", osg::Vec3d(0, 0, 10), false},
                              {"oblique perspective", osg::Vec3d(3, 4, 6), false},
                              {"orthographic", osg::Vec3d(0, 0, 10), true},
                              {"inside the grid", osg::Vec3d(0, 0, 0), false}};
    // An affine model matrix takes the four-at-a-time row transform, a
    // projective one (never set by the program, allowed by the type) the
    // per-node one; rows of 33 nodes leave a partial block of four.
    osg::Matrixf projective = osg::Matrixf::rotate(0.3, osg::Vec3f(1, 2, 3));
    projective(0, 3) = 0.05f;
    projective(2, 3) = -0.03f;
    const osg::Matrixf models[] = {osg::Matrixf::rotate(0.3, osg::Vec3f(1, 2, 3)), projective};
    ScalarField3D grid(-1, 1, 33, -1, 1, 33, -1, 1, 33);
    for (bool vector : {true, false}) {
        EngineSwitches::Scoped<bool> scan(EngineSwitches::vectorLassoScan, vector);
        for (const Camera& c : cameras) {
            if (c.eye.length() == 0.0) scene.LookAt(c.eye, osg::Vec3d(1, 1, 1), osg::Vec3d(0, 1, 0), 60.0, 0.1, 10.0);
            else scene.LookAt(c.eye, osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
            if (c.ortho) scene.Ortho(-1.5, 1.5, -1.2, 1.2, 1.0, 100.0);
            for (size_t l = 0; l < lassos.size(); ++l)
                for (size_t m = 0; m < 2; ++m)
                    for (LassoImageBounds rule :
                         {LassoImageBounds::IncludeLeftBottomEdge, LassoImageBounds::ExcludeEdges}) {
                        LassoProjection projection(scene.viewer.get(), lassos[l], models[m], rule);
                        projection.FillField(grid);
                        const std::vector<double> expected =
                            FullScan(projection, grid, models[m], scene.viewer->getCamera()->getViewMatrix());
                        size_t mismatches = 0;
                        for (size_t i = 0; i < expected.size(); ++i)
                            mismatches += Bits(grid.values[i]) != Bits(expected[i]);
                        EXPECT_EQ(mismatches, 0u) << c.name << ", lasso " << l << ", model " << m
                                                  << (vector ? ", AVX2" : ", plain");
                    }
        }
    }

    // The full-size case: a 500-point lasso on a 64³ grid.
    scene.LookAt(osg::Vec3d(2, -3, 9), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    ScalarField3D big(-1, 1, 64, -1, 1, 64, -1, 1, 64);
    LassoProjection projection(scene.viewer.get(), lassos[0], osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    projection.FillField(big);
    const std::vector<double> expected = FullScan(projection, big, osg::Matrixf(), scene.viewer->getCamera()->getViewMatrix());
    size_t mismatches = 0;
    for (size_t i = 0; i < expected.size(); ++i) mismatches += Bits(big.values[i]) != Bits(expected[i]);
    EXPECT_EQ(mismatches, 0u);
}

TEST(LassoProjectionTest, ImageBoundsDepthAndPixelLookup)
{
    SceneFixture scene(nullptr);
    scene.LookAt(osg::Vec3d(0, 0, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    scene.Ortho(-1, 1, -1, 1, 1, 100);
    // Every pixel on.
    scene.PaintLassoImage({osg::Vec2f(-10, -10), osg::Vec2f(900, -10), osg::Vec2f(900, 700), osg::Vec2f(-10, 700)});
    const std::vector<osg::Vec2f> lasso = {osg::Vec2f(100, 100), osg::Vec2f(700, 500)};
    LassoProjection include(scene.viewer.get(), lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    LassoProjection exclude(scene.viewer.get(), lasso, osg::Matrixf(), LassoImageBounds::ExcludeEdges);

    // The unit camera puts these eye points exactly on the edges.
    ASSERT_EQ(include.WindowPosition(EyeAtWindow(0, 300)).x(), 0.0);
    ASSERT_EQ(include.WindowPosition(EyeAtWindow(400, 0)).y(), 0.0);
    ASSERT_EQ(include.WindowPosition(EyeAtWindow(800, 300)).x(), 800.0);
    ASSERT_EQ(include.WindowPosition(EyeAtWindow(400, 600)).y(), 600.0);

    // Centre: inside for both, magnitude to the nearest lasso point (both at
    // the same distance here).
    EXPECT_DOUBLE_EQ(include.ScreenSignedDistance(EyeAtWindow(400, 300)), std::sqrt(300.0 * 300 + 200 * 200));
    EXPECT_DOUBLE_EQ(exclude.ScreenSignedDistance(EyeAtWindow(400, 300)), std::sqrt(300.0 * 300 + 200 * 200));
    // Left and bottom edge: looked up for the cylinder, outside for the other.
    EXPECT_GT(include.ScreenSignedDistance(EyeAtWindow(0, 300)), 0.0);
    EXPECT_GT(include.ScreenSignedDistance(EyeAtWindow(400, 0)), 0.0);
    EXPECT_LT(exclude.ScreenSignedDistance(EyeAtWindow(0, 300)), 0.0);
    EXPECT_LT(exclude.ScreenSignedDistance(EyeAtWindow(400, 0)), 0.0);
    // Right and top edge: outside for both; just inside them: looked up.
    for (const LassoProjection* p : {&include, &exclude}) {
        EXPECT_LT(p->ScreenSignedDistance(EyeAtWindow(800, 300)), 0.0);
        EXPECT_LT(p->ScreenSignedDistance(EyeAtWindow(400, 600)), 0.0);
        EXPECT_GT(p->ScreenSignedDistance(EyeAtWindow(799.5, 599.5)), 0.0);
        // In front of the near plane and behind the far plane.
        EXPECT_LT(p->ScreenSignedDistance(EyeAtWindow(400, 300, -0.5)), 0.0);
        EXPECT_LT(p->ScreenSignedDistance(EyeAtWindow(400, 300, -150.0)), 0.0);
        // The magnitude does not depend on the sign.
        EXPECT_DOUBLE_EQ(-p->ScreenSignedDistance(EyeAtWindow(400, 300, -150.0)),
                         p->ScreenSignedDistance(EyeAtWindow(400, 300)));
    }

    // One lit pixel, column 10 of row 20: rows run bottom-up, width-long.
    scene.capture->image.assign(scene.capture->image.size(), 0);
    scene.capture->image[(20 * 800 + 10) * 3] = 1;
    LassoProjection one(scene.viewer.get(), lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    EXPECT_GT(one.ScreenSignedDistance(EyeAtWindow(10.5, 20.5)), 0.0);
    EXPECT_LT(one.ScreenSignedDistance(EyeAtWindow(11.5, 20.5)), 0.0);
    EXPECT_LT(one.ScreenSignedDistance(EyeAtWindow(10.5, 21.5)), 0.0);
    EXPECT_LT(one.ScreenSignedDistance(EyeAtWindow(20.5, 10.5)), 0.0);
    // Only the first byte of a pixel counts.
    scene.capture->image[(20 * 800 + 10) * 3] = 0;
    scene.capture->image[(20 * 800 + 10) * 3 + 1] = 255;
    scene.capture->image[(20 * 800 + 10) * 3 + 2] = 255;
    LassoProjection dark(scene.viewer.get(), lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    EXPECT_LT(dark.ScreenSignedDistance(EyeAtWindow(10.5, 20.5)), 0.0);

    // An empty lasso gives 0 wherever the point lies.
    LassoProjection empty(scene.viewer.get(), {}, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    EXPECT_EQ(empty.ScreenSignedDistance(EyeAtWindow(400, 300)), 0.0);
    EXPECT_EQ(empty.ScreenSignedDistance(EyeAtWindow(400, 300, -150.0)), 0.0);
    ScalarField3D grid(-1, 1, 8, -1, 1, 8, -1, 1, 8);
    grid.values.assign(grid.values.size(), 5.0);
    empty.FillField(grid);
    for (double v : grid.values) EXPECT_EQ(v, 0.0);
}

TEST(LassoProjectionTest, PixelFlagsFollowTheFirstByteOfEveryPixel)
{
    // A width that is no multiple of 16 or 64, so pixel runs straddle rows,
    // and random bytes with the first byte zero about half the time.
    const int width = 797, height = 61;
    SceneFixture scene(nullptr, width, height);
    scene.LookAt(osg::Vec3d(0, 0, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    scene.Ortho(-1, 1, -1, 1, 1, 100);
    std::mt19937 rng(5);
    scene.capture->width = width;
    scene.capture->height = height;
    scene.capture->image.resize(static_cast<size_t>(width) * height * 3);
    for (unsigned char& byte : scene.capture->image) byte = rng() % 2 ? static_cast<unsigned char>(rng()) : 0;
    for (bool vector : {true, false}) {
        EngineSwitches::Scoped<bool> scan(EngineSwitches::vectorLassoScan, vector);
        LassoProjection p(scene.viewer.get(), {osg::Vec2f(0, 0)}, osg::Matrixf(), LassoImageBounds::ExcludeEdges);
        size_t mismatches = 0;
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col) {
                const osg::Vec3d eye((col + 0.5) / (width / 2.0) - 1.0, (row + 0.5) / (height / 2.0) - 1.0, -10.0);
                const bool lit = scene.capture->image[(static_cast<size_t>(row) * width + col) * 3] != 0;
                mismatches += (p.ScreenSignedDistance(eye) > 0.0) != lit;
            }
        EXPECT_EQ(mismatches, 0u) << (vector ? "AVX2" : "plain");
    }
}

TEST(LassoProjectionTest, CopiesCameraViewportAndImageAtConstruction)
{
    SceneFixture scene(nullptr);
    scene.viewer->getCamera()->setViewport(new osg::Viewport(10.7, -20.9, 640, 480));
    scene.LookAt(osg::Vec3d(1, 2, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    scene.PaintLassoImage({osg::Vec2f(0, 0), osg::Vec2f(300, 0), osg::Vec2f(0, 300)});
    const osg::Matrixd view = scene.viewer->getCamera()->getViewMatrix();
    const osg::Matrixd projectionMatrix = scene.viewer->getCamera()->getProjectionMatrix();
    const std::vector<unsigned char> image = scene.capture->image;
    const std::vector<osg::Vec2f> lasso = {osg::Vec2f(5, 6), osg::Vec2f(7, 8)};
    const osg::Matrixf model = osg::Matrixf::translate(1, 2, 3);

    LassoProjection p(scene.viewer.get(), lasso, model, LassoImageBounds::IncludeLeftBottomEdge);
    EXPECT_EQ(p.viewer, scene.viewer.get());
    EXPECT_EQ(p.viewportX, 10);   // truncated toward zero
    EXPECT_EQ(p.viewportY, -20);  // toward zero, not down
    EXPECT_EQ(p.imageWidth, 640);
    EXPECT_EQ(p.imageHeight, 480);
    EXPECT_EQ(p.viewport.get(), scene.viewer->getCamera()->getViewport());
    EXPECT_EQ(p.windowMatrix, scene.viewer->getCamera()->getViewport()->computeWindowMatrix());
    EXPECT_EQ(p.viewMatrix, view);
    EXPECT_EQ(p.projectionMatrix, projectionMatrix);
    EXPECT_EQ(p.modelMatrix, model);
    EXPECT_EQ(p.lassoPoints, lasso);
    EXPECT_EQ(p.lassoImage, image);

    // Later camera motion and a new capture leave the copies alone.
    scene.LookAt(osg::Vec3d(5, 5, 5), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 0, 1));
    scene.capture->image.assign(scene.capture->image.size(), 0);
    EXPECT_EQ(p.viewMatrix, view);
    EXPECT_EQ(p.lassoImage, image);

    // The eye position is the node through the model matrix, then the view.
    const osg::Vec3d eye = p.EyePosition(osg::Vec3f(0.5f, -0.25f, 1.0f));
    const osg::Vec3d expected = (osg::Vec3d(0.5, -0.25, 1.0) + osg::Vec3d(1, 2, 3)) * view;
    EXPECT_NEAR((eye - expected).length(), 0.0, 1e-6);
}

TEST(LassoProjectionTest, RefusesScenesItCannotRead)
{
    EXPECT_THROW(LassoProjection(nullptr, {}, osg::Matrixf(), LassoImageBounds::ExcludeEdges), std::invalid_argument);

    {
        SceneFixture scene(nullptr);
        scene.viewer->setSceneData(new osg::Node);
        EXPECT_NE(ThrownMessage(scene).find("not an osg::Group"), std::string::npos);
    }
    {
        SceneFixture scene(nullptr);
        scene.root->removeChild(scene.lassoCamera.get());
        EXPECT_NE(ThrownMessage(scene).find("no child 1"), std::string::npos);
    }
    {
        SceneFixture scene(nullptr);
        scene.root->setChild(1, new osg::Group);
        EXPECT_NE(ThrownMessage(scene).find("not an osg::Camera"), std::string::npos);
    }
    {
        SceneFixture scene(nullptr);
        scene.lassoCamera->setFinalDrawCallback(nullptr);
        EXPECT_NE(ThrownMessage(scene).find("LassoCaptureCallback"), std::string::npos);
        scene.lassoCamera->setFinalDrawCallback(new osg::Camera::DrawCallback);
        EXPECT_NE(ThrownMessage(scene).find("LassoCaptureCallback"), std::string::npos);
    }
    {
        SceneFixture scene(nullptr);
        scene.viewer->getCamera()->setViewport(nullptr);
        EXPECT_NE(ThrownMessage(scene).find("no viewport"), std::string::npos);
    }
    {
        // An image that announces more pixels than it holds would be read
        // past its end.
        SceneFixture scene(nullptr);
        scene.PaintLassoImage({osg::Vec2f(0, 0), osg::Vec2f(300, 0), osg::Vec2f(0, 300)});
        scene.capture->height = 601;
        EXPECT_NE(ThrownMessage(scene).find("800 x 601"), std::string::npos);
        scene.capture->height = -1;
        EXPECT_NE(ThrownMessage(scene).find("lasso image"), std::string::npos);
        // Not captured yet: an empty image is readable, every node is outside.
        scene.capture->image.clear();
        scene.capture->width = scene.capture->height = 0;
        EXPECT_EQ(ThrownMessage(scene), "");
    }
}
