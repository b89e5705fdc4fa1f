// A lasso from window points to the particle mask through a real OpenGL frame:
// the lasso camera draws the flat triangles offscreen, its capture feeds the
// volume. Needs a display (the test script runs under Xvfb).
#include "framework/kelvo/LassoCaptureCallback.h"
#include "density/EngineSwitches.h"
#include "framework/kelvo/OffscreenContext.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/SelectionSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <random>

namespace {

const double kPi = 3.14159265358979323846;

// Two dense balls (labels 1 and 2) in uniform noise (label 0) over [-5, 5]³,
// for a session whose lassos the real lasso camera draws.
struct TwoClusters {
    TwoClusters() : particles(new osg::Vec3Array)
    {
        std::mt19937 rng(7);
        auto unit = [&] { return (rng() >> 8) * (1.0 / 16777216.0); };
        for (int c = 1; c <= 2; ++c)
            for (int i = 0; i < 15000; ++i) {
                osg::Vec3d d;
                do d.set(unit() * 2 - 1, unit() * 2 - 1, unit() * 2 - 1); while (d.length2() > 1.0);
                particles->push_back(osg::Vec3(d * 0.8 + osg::Vec3d(c == 1 ? -2.5 : 2.5, 0, 0)));
                options.labels.push_back(c);
            }
        for (int i = 0; i < 20000; ++i) {
            particles->push_back(osg::Vec3(unit() * 10 - 5, unit() * 10 - 5, unit() * 10 - 5));
            options.labels.push_back(0);
        }
        options.realLassoCamera = true;
    }
    osg::ref_ptr<osg::Vec3Array> particles;
    SelectionSessionOptions options;
};

struct EndToEnd : testing::Test {
    EndToEnd() : EndToEnd(TwoClusters()) {}
    explicit EndToEnd(const TwoClusters& cloud)
        : session(cloud.particles.get(), cloud.options), scene(session.scene), selection(session.selection)
    {
        scene.LookAt(osg::Vec3d(0, 0, 16), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 40.0, 1.0, 40.0);
        gc = DrawViewerOffscreen(*scene.viewer, 800, 600);
    }

    // A circle of window points around the projection of a data point.
    void lassoAround(const osg::Vec3d& centre, double dataRadius)
    {
        const osg::Vec3d c = scene.Project(centre);
        const double r = (scene.Project(centre + osg::Vec3d(dataRadius, 0, 0)) - c).length();
        selection->startPlusPath(c.x() + r, c.y());
        for (int i = 1; i < 120; ++i)
            selection->addIntoPath(c.x() + r * std::cos(2 * kPi * i / 120), c.y() + r * std::sin(2 * kPi * i / 120));
        selection->endPath();
        ASSERT_TRUE(selection->GetendPathTag());
        const unsigned before = scene.capture->frames;
        scene.viewer->frame();
        ASSERT_EQ(scene.capture->frames, before + 1) << "the lasso camera did not draw";
        session.Build();
    }
    size_t selected(int label) const { return session.Selected(label); }

    SelectionSession session;
    SceneFixture& scene;
    std::unique_ptr<ParticleSelection>& selection;
    std::vector<bool>& mask = session.mask;
    osg::ref_ptr<osg::GraphicsContext> gc;
};

}  // namespace

TEST_F(EndToEnd, CaptureShowsTheFilledLassoInsideTheViewport)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (the test script runs under Xvfb)";
    ASSERT_TRUE(gc) << "no OpenGL context on this display";
    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    lassoAround(osg::Vec3d(-2.5, 0, 0), 1.2);
    const LassoCaptureCallback* cap = scene.capture.get();
    ASSERT_EQ(cap->width, 800);
    ASSERT_EQ(cap->height, 600);
    const osg::Vec3d c = scene.Project(osg::Vec3d(-2.5, 0, 0));
    auto at = [&](double x, double y) { return cap->image[(size_t(y) * 800 + size_t(x)) * 3]; };
    EXPECT_NE(at(c.x(), c.y()), 0);            // centre of the lasso
    EXPECT_EQ(at(800 - c.x(), c.y()), 0);      // the other cluster
    EXPECT_EQ(at(5, 5), 0);
    // Every pixel under the lasso is covered, none outside: the flat triangles
    // lie on the near plane and must not be clipped there.
    const double r = (scene.Project(osg::Vec3d(-1.3, 0, 0)) - c).length();
    size_t covered = 0;
    for (size_t i = 0; i < cap->image.size(); i += 3) covered += cap->image[i] != 0;
    EXPECT_NEAR(double(covered), kPi * r * r, 0.02 * kPi * r * r);
    EXPECT_EQ(scene.lassoCamera->getNodeMask(), 0u);  // switched off again by BuildGeometry
}

TEST_F(EndToEnd, DensityAwareLassoKeepsTheClusterAndDropsTheNoiseAroundIt)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (the test script runs under Xvfb)";
    ASSERT_TRUE(gc) << "no OpenGL context on this display";
    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    lassoAround(osg::Vec3d(-2.5, 0, 0), 1.2);
    const size_t cylinderCluster = selected(1), cylinderNoise = selected(0);
    EXPECT_GT(cylinderCluster, 14000u);
    EXPECT_EQ(selected(2), 0u);
    EXPECT_GT(cylinderNoise, 400u);  // the tube through the whole cloud

    selection->undoLastSelection();
    for (size_t i = 0; i < mask.size(); ++i) ASSERT_FALSE(mask[i]);  // undo brings the empty mask back

    FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    lassoAround(osg::Vec3d(-2.5, 0, 0), 1.2);
    const size_t densityCluster = selected(1), densityNoise = selected(0);
    EXPECT_GT(densityCluster, 13500u) << "most of the cluster";
    EXPECT_EQ(selected(2), 0u);
    EXPECT_LT(densityNoise * 4, cylinderNoise) << "much less noise than the cylinder";
    std::printf("cylinder: %zu cluster, %zu noise; density-aware: %zu cluster, %zu noise\n", cylinderCluster,
                cylinderNoise, densityCluster, densityNoise);

    // Raising the threshold on the newest lasso never adds particles.
    std::vector<bool> before = mask;
    selection->updateSelection(2.0f);
    for (size_t i = 0; i < mask.size(); ++i) {
        if (mask[i]) {
            ASSERT_TRUE(before[i]);
        }
    }
}

namespace {

// Pixel distance from (x, y) to the closed polygon's sides.
double DistanceToBoundary(const std::vector<osg::Vec2f>& polygon, double x, double y)
{
    double best = 1e300;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const osg::Vec2d a(polygon[i]), b(polygon[(i + 1) % polygon.size()]);
        const osg::Vec2d ab = b - a, ap = osg::Vec2d(x, y) - a;
        const double t = std::min(1.0, std::max(0.0, (ap * ab) / (ab * ab)));
        best = std::min(best, (ap - ab * t).length());
    }
    return best;
}

}  // namespace

// A lasso reaching far beyond the view on three sides is triangulated only
// within the viewport and a margin: far fewer flat triangles, and against the
// whole triangulation the captured image differs only in pixels on the
// lasso's boundary and the mask only for particles next to it.
TEST_F(EndToEnd, LassoBeyondTheViewIsDrawnAsAWholeOneWouldBe)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (the test script runs under Xvfb)";
    ASSERT_TRUE(gc) << "no OpenGL context on this display";
    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    // A wavy circle around a centre below the view, its top crossing the view.
    std::vector<osg::Vec2f> lasso;
    for (int i = 0; i < 1500; ++i) {
        const double a = 2 * kPi * i / 1500, r = 700 + 40 * std::sin(9 * a);
        lasso.push_back(osg::Vec2f(static_cast<float>(400 + r * std::cos(a)), static_cast<float>(-280 + r * std::sin(a))));
    }
    struct Run {
        std::vector<unsigned char> image;
        std::vector<bool> mask;
        size_t triangles;
    };
    auto run = [&](bool clipped) {
        EngineSwitches::Scoped<bool> clip(EngineSwitches::lassoClippedToView, clipped);
        selection->startPlusPath(lasso[0].x(), lasso[0].y());
        for (size_t i = 1; i < lasso.size(); ++i) selection->addIntoPath(lasso[i].x(), lasso[i].y());
        selection->endPath();
        clip.Set(true);
        Run r;
        r.triangles = selection->GetFlatTriangleVertices()->size() / 3;
        EXPECT_EQ(selection->GetLassoPoints().size(), lasso.size()) << "the screen distances read every point";
        scene.viewer->frame();
        r.image = scene.capture->image;
        selection->BuildGeometry();
        selection->SetendPathTag(false);
        r.mask = mask;
        selection->undoLastSelection();
        return r;
    };
    const Run whole = run(false), clipped = run(true);
    EXPECT_LT(clipped.triangles * 3, whole.triangles);
    ASSERT_EQ(whole.image.size(), clipped.image.size());
    size_t differing = 0, covered = 0;
    for (size_t p = 0; p < whole.image.size() / 3; ++p) {
        covered += whole.image[3 * p] != 0;
        if (std::memcmp(&whole.image[3 * p], &clipped.image[3 * p], 3) == 0) continue;
        ++differing;
        const double x = p % 800 + 0.5, y = p / 800 + 0.5;
        ASSERT_LE(DistanceToBoundary(lasso, x, y), 1.0) << "pixel " << x << " " << y << " off the boundary";
    }
    EXPECT_GT(covered, 800u * 200u);  // the lasso covers a good part of the view
    size_t selectedCount = 0, nearBoundary = 0;
    for (size_t i = 0; i < mask.size(); ++i) {
        selectedCount += whole.mask[i];
        if (whole.mask[i] == clipped.mask[i]) continue;
        const osg::Vec3d w = scene.Project(osg::Vec3d((*session.data.particles)[i]));
        // A node on a boundary pixel may take the other sign at a distance
        // of about a pixel, which moves the surface across its cells by as much.
        ASSERT_LE(DistanceToBoundary(lasso, w.x(), w.y()), 3.0) << "particle " << i << " off the boundary";
        ++nearBoundary;
    }
    EXPECT_GT(selectedCount, 1000u);
    std::printf("flat triangles %zu whole, %zu clipped; %zu pixels and %zu particles differ, all on the boundary\n",
                whole.triangles, clipped.triangles, differing, nearBoundary);
}
