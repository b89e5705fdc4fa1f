// endPath: cleaning the drawn polygon and triangulating it for the lasso camera.
#include "selection/Delaunay.h"
#include "selection/ParticleSelection.h"
#include "tests/support/SceneFixture.h"

extern "C" {
#include <triangle.h>
}

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <string>

namespace {

struct Completion : testing::Test {
    Completion() : scene(nullptr), selection(scene.viewer.get(), scene.viewer->getCamera(), &mask, &changed) {}

    // Starts a plus lasso at the first point and offers the others.
    void draw(const std::vector<osg::Vec2f>& pts)
    {
        selection.startPlusPath(pts[0].x(), pts[0].y());
        for (size_t i = 1; i < pts.size(); ++i) selection.addIntoPath(pts[i].x(), pts[i].y());
    }
    size_t flatCount() const { return selection.GetFlatTriangleVertices()->size(); }
    double flatArea() const
    {
        // Area of the flat triangles in window units, projected back.
        const osg::Vec3Array& v = *selection.GetFlatTriangleVertices();
        double area = 0;
        for (size_t i = 0; i + 2 < v.size(); i += 3) {
            osg::Vec3d a = scene.Project(v[i]), b = scene.Project(v[i + 1]), c = scene.Project(v[i + 2]);
            area += std::fabs(((b - a) ^ (c - a)).z()) * 0.5;
        }
        return area;
    }

    SceneFixture scene;
    std::vector<bool> mask;
    bool changed = false;
    ParticleSelection selection;
};

std::vector<osg::Vec2f> square(float x0, float y0, float side, int perSide)
{
    std::vector<osg::Vec2f> p;
    for (int i = 0; i < perSide; ++i) p.push_back({x0 + side * i / perSide, y0});
    for (int i = 0; i < perSide; ++i) p.push_back({x0 + side, y0 + side * i / perSide});
    for (int i = 0; i < perSide; ++i) p.push_back({x0 + side - side * i / perSide, y0 + side});
    for (int i = 0; i < perSide; ++i) p.push_back({x0, y0 + side - side * i / perSide});
    return p;
}

}  // namespace

TEST_F(Completion, ClosedLassoIsTriangulatedAndWaitsForTheLassoCamera)
{
    draw(square(100, 100, 60, 10));
    selection.endPath();
    EXPECT_TRUE(selection.GetendPathTag());
    EXPECT_EQ(scene.lassoCamera->getNodeMask(), 1u);
    EXPECT_TRUE(selection.GetLassoVertices()->empty());  // the lasso line disappears
    ASSERT_GT(flatCount(), 0u);
    EXPECT_EQ(flatCount() % 3, 0u);
    EXPECT_NEAR(flatArea(), 3600.0, 1.0);
    // No triangle is larger than 20 square window units.
    const osg::Vec3Array& v = *selection.GetFlatTriangleVertices();
    for (size_t i = 0; i < v.size(); i += 3) {
        osg::Vec3d a = scene.Project(v[i]), b = scene.Project(v[i + 1]), c = scene.Project(v[i + 2]);
        EXPECT_LE(std::fabs(((b - a) ^ (c - a)).z()) * 0.5, 20.0 + 1e-3);
        EXPECT_NEAR(a.z(), 0.0, 1e-4);
    }
    // The cleaned points stay for BuildGeometry.
    EXPECT_EQ(selection.GetLassoPoints().size(), 40u);
}

TEST_F(Completion, ClosingStretchAndDuplicatesAreRemoved)
{
    // Comes back to within 2 units of the start: those last points go.
    std::vector<osg::Vec2f> pts = {{100, 100}, {150, 100}, {150, 150}, {100, 150}, {100, 103}, {101, 101.5f}};
    selection.startPlusPath(pts[0].x(), pts[0].y());
    for (size_t i = 1; i < pts.size(); ++i) selection.addIntoPath(pts[i].x(), pts[i].y());
    // A repeated point later in the lasso (reached by a second start, which
    // bypasses the spacing rule) stays once, at its first position.
    selection.startPlusPath(150, 100);
    selection.endPath();
    const std::vector<osg::Vec2f>& kept = selection.GetLassoPoints();
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[0], osg::Vec2f(100, 100));
    EXPECT_EQ(kept[1], osg::Vec2f(150, 100));
    EXPECT_EQ(kept[4], osg::Vec2f(100, 103));
    EXPECT_TRUE(selection.GetendPathTag());
}

TEST_F(Completion, ClosingStretchRemovesEveryPointBackNearTheStart)
{
    // The last two points are kept by the spacing rule (more than 2 units
    // from the point before) but lie within 2 units of the start.
    draw({{100, 100}, {150, 100}, {150, 150}, {100, 150}, {100, 106}, {100, 101.5f}, {101.5f, 99}});
    ASSERT_EQ(selection.GetLassoPoints().size(), 7u);
    selection.endPath();
    const std::vector<osg::Vec2f>& kept = selection.GetLassoPoints();
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept.back(), osg::Vec2f(100, 106));
    EXPECT_TRUE(selection.GetendPathTag());
}

TEST_F(Completion, TinyOrDegenerateLassosAreRejected)
{
    // A tap.
    selection.startPlusPath(10, 10);
    selection.endPath();
    EXPECT_FALSE(selection.GetendPathTag());
    EXPECT_TRUE(selection.GetLassoPoints().empty());
    EXPECT_EQ(flatCount(), 0u);

    // A scribble that never leaves the 2-unit disc around its start.
    selection.startPlusPath(10, 10);
    selection.startPlusPath(11, 11);
    selection.startPlusPath(9.5, 10.5);
    selection.endPath();
    EXPECT_FALSE(selection.GetendPathTag());
    EXPECT_TRUE(selection.GetLassoPoints().empty());

    // Two distinct points after cleaning: nothing, and no stale points for the next lasso.
    selection.startPlusPath(10, 10);
    selection.addIntoPath(50, 10);
    selection.addIntoPath(50, 10);
    selection.endPath();
    EXPECT_FALSE(selection.GetendPathTag());
    EXPECT_EQ(scene.lassoCamera->getNodeMask(), 0u);
    EXPECT_TRUE(selection.GetLassoPoints().empty());

    // endPath without any lasso point.
    selection.endPath();
    EXPECT_FALSE(selection.GetendPathTag());
}

TEST_F(Completion, CollinearLassoRaisesTheTagWithoutTriangles)
{
    draw({{10, 10}, {20, 10}, {30, 10}, {40, 10}});
    selection.endPath();
    EXPECT_TRUE(selection.GetendPathTag());
    EXPECT_EQ(flatCount(), 0u);
    auto* ps = dynamic_cast<osg::DrawArrays*>(selection.GetFlatTriangles()->getDrawable(0)->asGeometry()->getPrimitiveSet(0));
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(ps->getCount(), 0);
}

TEST_F(Completion, UnsoundPointsNeverReachTheTriangulator)
{
    // Non-finite and absurdly large coordinates would make the triangulator
    // abort the process or run out of memory.
    // (addIntoPath already drops a NaN point, since its distance is not greater
    // than 2; a start appends unconditionally.)
    draw({{10, 10}, {50, 10}, {50, 50}});
    selection.startPlusPath(NAN, 40);
    testing::internal::CaptureStdout();
    selection.endPath();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("not finite"), std::string::npos);
    EXPECT_FALSE(selection.GetendPathTag());
    EXPECT_TRUE(selection.GetLassoPoints().empty());

    draw({{10, 10}, {1e9f, 10}, {10, 1e9f}});
    testing::internal::CaptureStdout();
    selection.endPath();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("spans"), std::string::npos);
    EXPECT_FALSE(selection.GetendPathTag());

    // A self-intersecting figure eight is fine.
    draw({{100, 100}, {200, 200}, {200, 100}, {100, 200}});
    selection.endPath();
    EXPECT_TRUE(selection.GetendPathTag());
    EXPECT_GT(flatCount(), 0u);
}

TEST(Delaunay, BuildsTheClosedPolygonAndRefusesUnsoundInput)
{
    Delaunay d({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, "pzQ");
    EXPECT_EQ(d.input->numberofsegments, 4);
    EXPECT_EQ(d.input->segmentlist[6], 3);
    EXPECT_EQ(d.input->segmentlist[7], 0);
    EXPECT_EQ(d.output->numberoftriangles, 2);
    EXPECT_THROW(Delaunay({{0, 0}, {1, 1}}, "pz"), std::invalid_argument);
    EXPECT_THROW(Delaunay({{0, 0}, {1, 1}, {0, 0}}, "pz"), std::invalid_argument);
    EXPECT_THROW(Delaunay({{0, 0}, {1, 1}, {INFINITY, 0}}, "pz"), std::invalid_argument);
}

TEST_F(Completion, TheTriangulatorIsQuietAndARefusalSaysWhy)
{
    // The quiet switch changes the console only: the same points and triangles.
    const std::vector<osg::Vec2f> lasso = square(100, 100, 60, 10);
    testing::internal::CaptureStdout();
    Delaunay loud(lasso, "epzjna20");
    const std::string report = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    Delaunay quiet(lasso, "Qepzjna20");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(report.find("triangulation"), std::string::npos);
    ASSERT_EQ(loud.output->numberoftriangles, quiet.output->numberoftriangles);
    ASSERT_EQ(loud.output->numberofpoints, quiet.output->numberofpoints);
    EXPECT_TRUE(std::equal(loud.output->trianglelist, loud.output->trianglelist + 3 * loud.output->numberoftriangles,
                           quiet.output->trianglelist));
    EXPECT_TRUE(std::equal(loud.output->pointlist, loud.output->pointlist + 2 * loud.output->numberofpoints,
                           quiet.output->pointlist));

    // Through the facade: flat triangles from the quiet run, nothing on the console.
    testing::internal::CaptureStdout();
    draw(lasso);
    selection.endPath();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(flatCount(), static_cast<size_t>(3 * quiet.output->numberoftriangles));
    EXPECT_EQ(selection.GetLassoRefusal(), "");

    // A refused lasso says why, on the console and to the caller; the next lasso forgets it.
    testing::internal::CaptureStdout();
    draw({{10, 10}, {30000, 10}, {10, 30}});
    selection.endPath();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ParticleSelection: lasso ignored, it spans more than 16384 window units\n");
    EXPECT_EQ(selection.GetLassoRefusal(), "it spans more than 16384 window units");
    testing::internal::CaptureStdout();
    selection.startPlusPath(10, 10);
    selection.endPath();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("fewer than 3 points"), std::string::npos);
    draw(lasso);
    selection.endPath();
    EXPECT_EQ(selection.GetLassoRefusal(), "");
}
