#include "framework/kelvo/ParticleScene.h"

#include <gtest/gtest.h>

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
