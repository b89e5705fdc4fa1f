#include "framework/kelvo/ParticleScene.h"
#include "tests/support/VisTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ParticleScene, TurningDrawsAnEvenSampleOfALargeCloudAndStillnessAllOfIt)
{
    ParticleScene scene(0, 0, 640, 480);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (int i = 0; i < 250000; ++i) cloud->push_back(osg::Vec3(i % 100, (i / 100) % 50, i / 5000));
    scene.SetParticles(cloud.get());
    osg::Geometry* g = scene.GetParticleGeometry();
    ASSERT_EQ(g->getNumPrimitiveSets(), 1u);
    auto* all = dynamic_cast<osg::DrawArrays*>(g->getPrimitiveSet(0));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->getCount(), 250000);

    scene.SetPreview(true);
    EXPECT_TRUE(scene.IsPreview());
    ASSERT_EQ(g->getNumPrimitiveSets(), 1u);
    auto* sample = dynamic_cast<osg::DrawElementsUInt*>(g->getPrimitiveSet(0));
    ASSERT_TRUE(sample);
    EXPECT_LE(sample->size(), ParticleScene::PreviewPointBudget);
    EXPECT_GT(sample->size(), ParticleScene::PreviewPointBudget / 2);
    for (size_t i = 1; i < sample->size(); ++i) ASSERT_EQ((*sample)[i] - (*sample)[i - 1], (*sample)[1] - (*sample)[0]);
    EXPECT_GT(sample->back(), 240000u) << "the sample spans the whole array";

    scene.SetPreview(false);
    EXPECT_EQ(g->getPrimitiveSet(0), all);
    // The vertex array is the cloud itself, whatever is drawn.
    EXPECT_EQ(g->getVertexArray(), cloud.get());

    // A small cloud is always drawn whole.
    osg::ref_ptr<osg::Vec3Array> small = new osg::Vec3Array(1000);
    scene.SetParticles(small.get());
    scene.SetPreview(true);
    EXPECT_FALSE(scene.IsPreview());
    EXPECT_TRUE(dynamic_cast<osg::DrawArrays*>(g->getPrimitiveSet(0)));
}

TEST(ParticleScene, SelectionColoursFollowTheMaskAndMissingFlagsCountAsUnselected)
{
    ParticleScene scene(10, 20, 300, 200);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (int i = 0; i < 5; ++i) cloud->push_back(osg::Vec3(i, 0, 0));
    scene.SetParticles(cloud.get());
    scene.UpdateColours({true, false, true});
    const osg::Vec4ubArray& c = *scene.GetColours();
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[0], ParticleScene::SelectedColour);
    EXPECT_EQ(c[1], ParticleScene::UnselectedColour);
    EXPECT_EQ(c[2], ParticleScene::SelectedColour);
    EXPECT_EQ(c[3], ParticleScene::UnselectedColour);
    EXPECT_EQ(c[4], ParticleScene::UnselectedColour);
    ASSERT_EQ(scene.GetSelectedPoints()->size(), 2u);
    // A new cloud starts unselected.
    scene.SetParticles(cloud.get());
    EXPECT_EQ((*scene.GetColours())[0], ParticleScene::UnselectedColour);
    EXPECT_TRUE(scene.GetSelectedPoints()->empty());
    // The viewport is the 3D area: window coordinates are view pixels.
    const osg::Viewport* vp = scene.GetViewer()->getCamera()->getViewport();
    EXPECT_EQ(vp->x(), 10);
    EXPECT_EQ(vp->y(), 20);
    EXPECT_EQ(scene.ToWindow(57.5, 99.0), osg::Vec2d(57.5, 99.0));
}

TEST(ParticleScene, ZoomKeepsThePointUnderThePointerAndTheStartViewIsThePlainPerspective)
{
    ParticleScene scene(10, 20, 640, 480);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (int i = 0; i < 1000; ++i) cloud->push_back(osg::Vec3(i % 10, (i / 10) % 10, i / 100));
    scene.SetParticles(cloud.get());
    const osg::Camera* camera = scene.GetViewer()->getCamera();
    const osg::Matrixd start = camera->getProjectionMatrix();
    auto window = [&](const osg::Vec3d& data) {
        return data * scene.GetDataTransform()->getMatrix() * camera->getViewMatrix() * camera->getProjectionMatrix() *
               camera->getViewport()->computeWindowMatrix();
    };
    // A data point near the area's corner stays under the pointer at it
    // through two wheel steps in and one out, while another point moves
    // away from it by the magnification.
    const osg::Vec3d corner(1, 1, 5), other(8, 8, 5);
    const osg::Vec3d pointer = window(corner);
    const double before = (window(other) - pointer).length();
    scene.ZoomAt(1.25, pointer.x(), pointer.y());
    scene.ZoomAt(1.25, pointer.x(), pointer.y());
    scene.ZoomAt(0.8, pointer.x(), pointer.y());
    EXPECT_NEAR((window(corner) - pointer).length(), 0.0, 1e-6);
    EXPECT_NEAR((window(other) - pointer).length() / before, 1.25, 1e-6);
    EXPECT_DOUBLE_EQ(scene.Zoom(), 1.25 * 1.25 * 0.8);
    // Bounded both ways.
    for (int i = 0; i < 100; ++i) scene.ZoomAt(2.0, 300, 200);
    EXPECT_EQ(scene.Zoom(), ParticleScene::MaxZoom);
    // The start view (a study trial without a view of its own) is the
    // projection the scene began with, bit for bit.
    scene.SetView(osg::Quat(), 1.0);
    EXPECT_EQ(camera->getProjectionMatrix(), start);
}

TEST(ParticleScene, SelectedAndHighlightedPointsAreDrawnAgainOverTheCloudInTheirOwnColours)
{
    ParticleScene scene(0, 0, 300, 200);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array(6);
    scene.SetParticles(cloud.get());
    const std::vector<bool> target = {true, true, false, false, true};
    scene.UpdateColours({false, true, true}, &target);
    const osg::Vec4ubArray& c = *scene.GetColours();
    // Selected wins over highlighted; a highlight alone is the target's.
    EXPECT_EQ(c[0], ParticleScene::TargetColour);
    EXPECT_EQ(c[1], ParticleScene::SelectedColour);
    EXPECT_EQ(c[2], ParticleScene::SelectedColour);
    EXPECT_EQ(c[3], ParticleScene::UnselectedColour);
    EXPECT_EQ(c[4], ParticleScene::TargetColour);
    EXPECT_EQ(c[5], ParticleScene::UnselectedColour);
    const osg::DrawElementsUInt& again = *scene.GetSelectedPoints();
    EXPECT_EQ(std::vector<GLuint>(again.begin(), again.end()), (std::vector<GLuint>{0, 1, 2, 4}));

    // A faint cloud: the unselected alone lose opacity, and keep it through
    // the next colouring.
    scene.SetCloudAppearance(1.0f, 0.5f);
    scene.UpdateColours({true});
    EXPECT_EQ(c[0], ParticleScene::SelectedColour);
    EXPECT_EQ(c[1].a(), 128);
    EXPECT_EQ(c[1].r(), ParticleScene::UnselectedColour.r());
}

TEST(ParticleScene, ASelectionBehindADenseCloudStaysVisible)
{
    vistest::OffscreenContext context;
    if (!context.gc.valid()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    // A dense wall of 400000 particles in front of a small blob of 3000.
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    std::vector<bool> blob;
    for (int i = 0; i < 400000; ++i) {
        cloud->push_back(osg::Vec3((i % 632) / 63.2f - 5.0f, ((i / 632) % 632) / 63.2f - 5.0f, 5.0f + (i % 7) * 0.01f));
        blob.push_back(false);
    }
    for (int i = 0; i < 3000; ++i) {
        cloud->push_back(osg::Vec3((i % 15) * 0.1f - 0.7f, ((i / 15) % 15) * 0.1f - 0.7f, -5.0f - (i / 225) * 0.1f));
        blob.push_back(true);
    }
    ParticleScene scene(0, 0, vistest::ViewWidth, vistest::ViewHeight);
    scene.SetParticles(cloud.get());
    scene.UpdateColours(blob);
    scene.GetViewer()->frame();
    std::vector<unsigned char> px(static_cast<size_t>(vistest::ViewWidth) * vistest::ViewHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, vistest::ViewWidth, vistest::ViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    size_t selected = 0, cloudColour = 0;
    for (size_t i = 0; i < px.size(); i += 4) {
        selected += px[i] == ParticleScene::SelectedColour.r() && px[i + 1] == ParticleScene::SelectedColour.g() &&
                    px[i + 2] == ParticleScene::SelectedColour.b();
        cloudColour += px[i] == ParticleScene::UnselectedColour.r() && px[i + 2] == ParticleScene::UnselectedColour.b();
    }
    EXPECT_GT(cloudColour, 50000u) << "the wall is drawn";
    EXPECT_GT(selected, 200u) << "the blob shows through the wall";
}
