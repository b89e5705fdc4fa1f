// The facade's scene binding and lasso input: what the participant's drag turns into.
#include "selection/ParticleSelection.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>
#include <osg/Viewport>

namespace {

struct Facade {
    explicit Facade(SceneFixture& scene)
        : mask(scene.particles->size(), false),
          selection(scene.viewer.get(), scene.viewer->getCamera(), &mask, &changed) {}
    std::vector<bool> mask;
    bool changed = false;
    ParticleSelection selection;
};

osg::ref_ptr<osg::Vec3Array> fewParticles()
{
    osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
    p->push_back(osg::Vec3(0, 0, 0));
    p->push_back(osg::Vec3(1, 1, 1));
    return p;
}

}  // namespace

TEST(ParticleSelection, FreshObjectBuildsItsNodes)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    ParticleSelection& s = f.selection;
    EXPECT_FALSE(s.GetendPathTag());
    ASSERT_NE(s.GetSelectionNode(), nullptr);
    ASSERT_EQ(s.GetSelectionNode()->getNumChildren(), 2u);
    osg::Geode* lassoGeode = dynamic_cast<osg::Geode*>(s.GetSelectionNode()->getChild(0));
    ASSERT_NE(lassoGeode, nullptr);
    EXPECT_EQ(s.GetSelectionNode()->getChild(1), s.GetVolumeGeode());
    auto* line = dynamic_cast<osg::DrawArrays*>(lassoGeode->getDrawable(0)->asGeometry()->getPrimitiveSet(0));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->getMode(), static_cast<GLenum>(GL_LINE_STRIP));
    EXPECT_EQ(line->getCount(), 0);
    EXPECT_EQ(s.GetVolumeGeometry()->getNumPrimitiveSets(), 0u);
    EXPECT_EQ(s.GetVolumeGeometry()->getStateSet()->getBinNumber(), 11);
    EXPECT_FLOAT_EQ(s.GetThreshold(), 1.0f);
    ASSERT_NE(s.GetFlatTriangles(), nullptr);
    EXPECT_EQ(s.GetFlatTriangles()->getNumDrawables(), 1u);
    EXPECT_EQ(s.GetLassoCamera(), nullptr);  // bound only at the first start or reset
    EXPECT_FALSE(f.changed);
}

TEST(ParticleSelection, PointsWithinTwoUnitsOfTheLastKeptPointAreDropped)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.startPlusPath(100, 100);
    s.addIntoPath(102, 100);  // exactly 2.0: ignored
    EXPECT_EQ(s.GetLassoPoints().size(), 1u);
    s.addIntoPath(102.01, 100);  // just farther: kept
    EXPECT_EQ(s.GetLassoPoints().size(), 2u);

    // A slow drag of 1-unit steps keeps every third point: it is measured
    // against the last kept point, not the last offered one.
    for (int i = 1; i <= 9; ++i) s.addIntoPath(102.01 + i, 100);
    EXPECT_EQ(s.GetLassoPoints().size(), 5u);
    EXPECT_EQ(s.GetLassoVertices()->size(), s.GetLassoPoints().size());
}

TEST(ParticleSelection, AddIntoPathWithoutStartIsIgnored)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    f.selection.addIntoPath(10, 10);
    EXPECT_TRUE(f.selection.GetLassoPoints().empty());
    EXPECT_TRUE(f.selection.GetLassoVertices()->empty());
}

TEST(ParticleSelection, SecondStartContinuesTheLassoInItsMode)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.startPlusPath(10, 10);
    s.addIntoPath(20, 10);
    s.startIntersectionPath(30, 30);
    EXPECT_EQ(s.GetSelectionMode(), 3);
    EXPECT_EQ(s.GetLassoPoints().size(), 3u);
    s.startMinusPath(40, 40);
    EXPECT_EQ(s.GetSelectionMode(), 2);
    EXPECT_EQ(s.GetLassoPoints().size(), 4u);
}

TEST(ParticleSelection, LassoPointsUnprojectOntoTheNearPlaneInDataCoordinates)
{
    SceneFixture scene(fewParticles().get());
    // A rotated and shifted data transform: vertices must come back in data coordinates.
    scene.dataTransform->setMatrix(osg::Matrix::rotate(0.7, osg::Vec3(0, 1, 0)) * osg::Matrix::translate(1, 2, -3));
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.startPlusPath(400, 300);
    s.addIntoPath(123.5, 456.25);
    ASSERT_EQ(s.GetLassoVertices()->size(), 2u);
    const osg::Vec3f v = (*s.GetLassoVertices())[1];
    const osg::Vec3d win = scene.Project(osg::Vec3d(v));
    EXPECT_NEAR(win.x(), 123.5, 1e-2);
    EXPECT_NEAR(win.y(), 456.25, 1e-2);
    EXPECT_NEAR(win.z(), 0.0, 1e-4);  // window depth 0 is the near plane
    // The screen matrix is view · projection · window of the master camera.
    const osg::Vec3f world = v * osg::Matrixf(scene.dataTransform->getMatrix());
    const osg::Vec3f again = s.GetScreenMatrix().preMult(world);
    EXPECT_NEAR(again.x(), 123.5, 1e-2);
    EXPECT_NEAR(again.y(), 456.25, 1e-2);
}

TEST(ParticleSelection, WithoutViewportWindowCoordinatesAreNormalisedDeviceCoordinates)
{
    SceneFixture scene(fewParticles().get());
    scene.viewer->getCamera()->setViewport(nullptr);
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.startPlusPath(0.25, -0.5);
    const osg::Vec3f v = (*s.GetLassoVertices())[0];
    const osg::Camera* cam = scene.viewer->getCamera();
    const osg::Vec3d ndc = osg::Vec3d(v) * cam->getViewMatrix() * cam->getProjectionMatrix();
    EXPECT_NEAR(ndc.x(), 0.25, 1e-4);
    EXPECT_NEAR(ndc.y(), -0.5, 1e-4);
    EXPECT_NEAR(ndc.z(), 0.0, 1e-4);
}

TEST(ParticleSelection, GeometryVisibleHidesTheVolumeUntilTheNextStart)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.GeometryVisible(false);
    EXPECT_EQ(s.GetVolumeGeode()->getNodeMask(), 0u);
    s.GeometryVisible(true);
    EXPECT_EQ(s.GetVolumeGeode()->getNodeMask(), 1u);
    s.GeometryVisible(false);
    s.startMinusPath(5, 5);
    EXPECT_EQ(s.GetVolumeGeode()->getNodeMask(), 1u);
    s.SetendPathTag(true);
    EXPECT_TRUE(s.GetendPathTag());
}

TEST(ParticleSelection, SceneWithoutTheRequiredLayoutKeepsThePreviousBinding)
{
    SceneFixture scene(fewParticles().get());
    Facade f(scene);
    ParticleSelection& s = f.selection;
    s.startPlusPath(400, 300);
    osg::Camera* boundLassoCamera = s.GetLassoCamera();
    ASSERT_EQ(boundLassoCamera, scene.lassoCamera.get());
    const osg::Matrixf bound = s.GetScreenMatrix();

    // Child 1 of the root is no longer a camera, and the master camera moved.
    scene.root->setChild(1, new osg::Group);
    scene.LookAt(osg::Vec3d(5, 5, 5), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    testing::internal::CaptureStdout();
    s.startPlusPath(10, 10);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("lasso camera"), std::string::npos) << out;
    EXPECT_EQ(s.GetLassoCamera(), boundLassoCamera);
    EXPECT_EQ(s.GetScreenMatrix(), bound);
    EXPECT_EQ(s.GetLassoPoints().size(), 2u);  // the point itself is still taken

    // The history operations before any reset do nothing.
    s.undoLastSelection();
    s.redoLastSelection();
    s.updateSelection(2.0f);
    s.ClearSelection();
    s.BuildGeometry();
    EXPECT_TRUE(s.GetHistory().empty());
    EXPECT_TRUE(s.GetUndoStack().empty());
    EXPECT_EQ(s.GetVolume(), 0.0);
    EXPECT_FALSE(f.changed);
}
