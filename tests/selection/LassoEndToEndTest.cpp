// A lasso from window points to the particle mask through a real OpenGL frame:
// the lasso camera draws the flat triangles offscreen, its capture feeds the
// volume. Needs a display (the test script runs under Xvfb).
#include "framework/kelvo/LassoCamera.h"
#include "framework/study/FerrowManager.h"
#include "selection/ParticleSelection.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>
#include <osg/GraphicsContext>

#include <cmath>
#include <cstdlib>
#include <random>

namespace {

const double kPi = 3.14159265358979323846;

// Two dense balls (labels 1 and 2) in uniform noise (label 0) over [-5, 5]³.
osg::ref_ptr<osg::Vec3Array> twoClusters(std::vector<int>& labels)
{
    osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
    std::mt19937 rng(7);
    auto unit = [&] { return (rng() >> 8) * (1.0 / 16777216.0); };
    for (int c = 1; c <= 2; ++c)
        for (int i = 0; i < 15000; ++i) {
            osg::Vec3d d;
            do d.set(unit() * 2 - 1, unit() * 2 - 1, unit() * 2 - 1); while (d.length2() > 1.0);
            p->push_back(osg::Vec3(d * 0.8 + osg::Vec3d(c == 1 ? -2.5 : 2.5, 0, 0)));
            labels.push_back(c);
        }
    for (int i = 0; i < 20000; ++i) {
        p->push_back(osg::Vec3(unit() * 10 - 5, unit() * 10 - 5, unit() * 10 - 5));
        labels.push_back(0);
    }
    return p;
}

struct EndToEnd : testing::Test {
    EndToEnd() : data(twoClusters(labels).get(), labels), scene(data.particles.get(), 800, 600)
    {
        // The real lasso camera in place of the fixture's stand-in.
        lassoCamera = new LassoCamera(scene.viewer->getCamera(), scene.dataTransform.get());
        scene.root->setChild(1, lassoCamera.get());
        scene.LookAt(osg::Vec3d(0, 0, 16), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 40.0, 1.0, 40.0);

        osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
        traits->readDISPLAY();
        traits->setUndefinedScreenDetailsToDefaultScreen();
        traits->width = 800;
        traits->height = 600;
        traits->pbuffer = true;
        traits->doubleBuffer = false;
        traits->red = traits->green = traits->blue = 8;
        traits->depth = 24;
        gc = osg::GraphicsContext::createGraphicsContext(traits.get());
        if (!gc) return;
        scene.viewer->getCamera()->setGraphicsContext(gc.get());
        scene.viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
        scene.viewer->realize();

        mask.assign(data.particles->size(), false);
        selection.reset(new ParticleSelection(scene.viewer.get(), scene.viewer->getCamera(), &mask, &changed));
        scene.dataTransform->addChild(selection->GetSelectionNode());
        lassoCamera->addChild(selection->GetFlatTriangles());
        selection->ResetSelection();
    }
    ~EndToEnd() override
    {
        selection.reset();
        FerrowManager::Destroy();
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
        const unsigned before = lassoCamera->GetCapture()->frames;
        scene.viewer->frame();
        ASSERT_EQ(lassoCamera->GetCapture()->frames, before + 1) << "the lasso camera did not draw";
        selection->BuildGeometry();
        selection->SetendPathTag(false);
    }
    // Selected particles with the given label.
    size_t selected(int label) const
    {
        size_t n = 0;
        for (size_t i = 0; i < mask.size(); ++i) n += mask[i] && labels[i] == label;
        return n;
    }

    std::vector<int> labels;
    DatasetFixture data;
    SceneFixture scene;
    osg::ref_ptr<LassoCamera> lassoCamera;
    osg::ref_ptr<osg::GraphicsContext> gc;
    std::vector<bool> mask;
    bool changed = false;
    std::unique_ptr<ParticleSelection> selection;
};

}  // namespace

TEST_F(EndToEnd, CaptureShowsTheFilledLassoInsideTheViewport)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (the test script runs under Xvfb)";
    ASSERT_TRUE(gc) << "no OpenGL context on this display";
    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    lassoAround(osg::Vec3d(-2.5, 0, 0), 1.2);
    const LassoCaptureCallback* cap = lassoCamera->GetCapture();
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
    EXPECT_EQ(lassoCamera->getNodeMask(), 0u);  // switched off again by BuildGeometry
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
