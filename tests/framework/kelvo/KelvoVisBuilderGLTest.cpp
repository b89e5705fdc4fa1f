#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/KelvoVisBuilderGL.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/StudySimulation.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/VisTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Both stages for a display of the given size, the second with the default
// configuration's windows (made for 2400 x 1600).
std::unique_ptr<KelvoVis> BuildWithTheDefaultLayout(KelvoVisBuilderGL& builder, int displayWidth, int displayHeight)
{
    builder.buildVis(nullptr, 0, Point3d(0, 0, 0), displayWidth, displayHeight);
    std::unique_ptr<KelvoVis> vis(builder.getVis());
    if (!vis) return vis;
    builder.buildKelvo(Point3d(displayWidth / 2, displayHeight / 2, 0), displayWidth, displayHeight,
                       Point3d(600, 800, 0), 960, 720, 648, 800, 864, 720, 168, 800, 96, 720, 1104, 1016, 38, 144, 96,
                       Point3d(600, 800, 0), 960, 720, 624, 800, 708, 248, 144, 800, 48, 720,
                       1104, 1016, 38, 144, 96);
    return vis;
}

}  // namespace

TEST(KelvoVisBuilderGL, TwoStagesBuildTheVisualizationAndLayItOut)
{
    DatasetFixture data(DatasetFixture::BlobInNoise(500, 500).get());
    vistest::OffscreenContext context; // the viewer releases its GL objects on destruction
    KelvoVisBuilderGL builder;
    EXPECT_EQ(builder.getVis(), nullptr);
    // The default configuration's values.
    std::unique_ptr<KelvoVis> vis = BuildWithTheDefaultLayout(builder, 2400, 1600);
    ASSERT_TRUE(vis);
    const KelvoLayout& k = vis->GetKelvoLayout();
    EXPECT_EQ(k.centre, Point3d(600, 800, 0));
    EXPECT_EQ(k.width, 960);
    EXPECT_EQ(k.mainArea.x, 648);
    EXPECT_EQ(k.mainArea.height, 720);
    EXPECT_EQ(k.sideArea.width, 96);
    EXPECT_EQ(k.extraArea.y, 1016);
    EXPECT_EQ(k.unitSize, 96);
    // Main area 216..1080 by 440..1160; side 120..216; extra 1085..1123 by 944..1088.
    const osg::Viewport* vp = vis->GetOsgViewer()[0]->getCamera()->getViewport();
    EXPECT_EQ(vp->x(), 216);
    EXPECT_EQ(vp->y(), 440);
    // The touch column (one column of eleven cells: four modes, the four
    // techniques, the gaps and the study button in 720, so cells of 65) and
    // a small gap take the right of the main area; the message band lies
    // above it.
    EXPECT_EQ(vp->width(), 864 - 65 - 5);
    // Simulated participants see the trials in this area.
    EXPECT_EQ(vp->width(), StudySimulation::ViewportWidth);
    EXPECT_EQ(vp->height(), StudySimulation::ViewportHeight);
    const ButtonComponent* rotate = vis->GetModeButton(KelvoVis::RotateMode);
    EXPECT_EQ(rotate->getLeft() + rotate->getWidth(), 1080);
    EXPECT_EQ(rotate->getBottom() + rotate->getHeight(), 1160);
    EXPECT_EQ(rotate->getWidth(), 65);
    EXPECT_EQ(vis->getComponentAt(1050, 1140, true), static_cast<const VisComponent*>(rotate));
    EXPECT_EQ(vis->getComponentAt(600, 800, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(168, 800, true), static_cast<VisComponent*>(vis->GetThresholdSlider()));
    EXPECT_EQ(vis->getComponentAt(1104, 1080, true), static_cast<VisComponent*>(vis->GetUndoButton()));
    EXPECT_EQ(vis->getComponentAt(1104, 950, true), static_cast<VisComponent*>(vis->GetClearButton()));
    EXPECT_EQ(vis->getComponentAt(1500, 800, true), nullptr);
    vis.reset();
    FerrowManager::Destroy();
}

TEST(KelvoVisBuilderGL, NoVisualizationForAnEmptyDisplay)
{
    KelvoVisBuilderGL builder;
    builder.buildVis(nullptr, 0, Point3d(), 0, 1600);
    EXPECT_EQ(builder.getVis(), nullptr);
    // The second stage then has nothing to lay out and does nothing.
    builder.buildKelvo(Point3d(), 0, 0, Point3d(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, Point3d(), 0, 0, 0,
                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(builder.getVis(), nullptr);
}

TEST(KelvoVisBuilderGL, ALayoutLargerThanTheDisplayShrinksToFitIt)
{
    DatasetFixture data(DatasetFixture::BlobInNoise(500, 500).get());
    vistest::OffscreenContext context;
    KelvoVisBuilderGL builder;
    // A 1200 x 900 display with the layout made for 2400 x 1600, whose top
    // edge lies at 1160.
    std::unique_ptr<KelvoVis> vis = BuildWithTheDefaultLayout(builder, 1200, 900);
    ASSERT_TRUE(vis);
    const double fit = 900.0 / 1160.0;
    const osg::Viewport* vp = vis->GetOsgViewer()[0]->getCamera()->getViewport();
    // No room above the main area: the message band takes its top.
    double bandLeft, bandBottom, bandWidth, bandHeight;
    vis->GetMessageBand(bandLeft, bandBottom, bandWidth, bandHeight);
    EXPECT_NEAR(bandBottom + bandHeight, 900, 1.0);
    EXPECT_NEAR(vp->y() + vp->height(), bandBottom, 1.0);
    EXPECT_NEAR(bandWidth, 864 * fit, 1.0);
    // The touch column at the right edge, never below the touch size.
    const ButtonComponent* minus = vis->GetModeButton(KelvoVis::MinusMode);
    EXPECT_NEAR(minus->getLeft() + minus->getWidth(), (648 + 432) * fit, 1.0);
    EXPECT_GE(minus->getWidth(), KelvoVis::kMinTouchSize);
    EXPECT_GE(minus->getHeight(), KelvoVis::kMinTouchSize);
    EXPECT_LT(vp->x() + vp->width(), minus->getLeft());
    EXPECT_EQ(vis->getComponentAt(648 * fit, 800 * fit, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(1104 * fit, 1080 * fit, true), static_cast<VisComponent*>(vis->GetUndoButton()));
    EXPECT_EQ(vis->getComponentAt(168 * fit, 800 * fit, true), static_cast<VisComponent*>(vis->GetThresholdSlider()));
    vis.reset();
    FerrowManager::Destroy();
}
