// The record's defaults and the window layouts derived from it.
#include "app/Configuration.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Configuration, DefaultsDescribeA2400By1600Display)
{
    const Configuration c;
    EXPECT_EQ(c.mainOrigin, Point3d(0, 0, 0));
    EXPECT_EQ(c.mainWidth, 2400);
    EXPECT_EQ(c.mainHeight, 1600);
    EXPECT_EQ(c.fullscreen, 0);
    EXPECT_EQ(c.condition, 0);
    EXPECT_EQ(c.participantId, 1);

    EXPECT_EQ(c.kelvoPosition, Point3d(600, 800, 0));
    EXPECT_EQ(c.kelvoWidth, 960);
    EXPECT_EQ(c.kelvoHeight, 720);
    EXPECT_FLOAT_EQ(c.kelvoFrameSize, 102.0f);
    EXPECT_EQ(c.operatePosition, Point3d(600, 800, 0));
    EXPECT_EQ(c.operateWidth, 960);
    EXPECT_EQ(c.operateHeight, 720);
    EXPECT_FLOAT_EQ(c.operateFrameSize, 102.0f);
    EXPECT_EQ(c.unitSize, 96);
    EXPECT_FLOAT_EQ(c.kelvoAspect, 1.2f);

    EXPECT_EQ(c.subspace2dPosition, Point3d(0, 0, 0));
    EXPECT_EQ(c.subspace3dPosition, Point3d(0, 0, 0));
    EXPECT_EQ(c.pcpPosition, Point3d(0, 0, 0));
    EXPECT_EQ(c.subspace2dWidth, 0);
    EXPECT_EQ(c.subspace3dHeight, 0);
}

namespace {
void expectRect(const AreaRect& r, int x, int y, int w, int h, const char* what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
}
}

TEST(Configuration, DefaultAreasOfBothWindows)
{
    const Configuration c;
    expectRect(c.kelvoMainArea, 648, 800, 864, 720, "kelvo main");
    expectRect(c.kelvoSideArea, 168, 800, 96, 720, "kelvo side");
    expectRect(c.kelvoExtraArea, 1104, 1016, 38, 144, "kelvo extra");
    expectRect(c.operateMainArea, 624, 800, 708, 248, "operate main");
    expectRect(c.operateSideArea, 144, 800, 48, 720, "operate side");
    expectRect(c.operateExtraArea, 1104, 1016, 38, 144, "operate extra");
}

TEST(Configuration, KelvoLayoutAfterReadingDiffersFromDefault)
{
    Configuration c;
    c.kelvoX = 600.0f;
    c.kelvoY = 800;
    c.kelvoWidth = 1200;
    c.kelvoHeight = 800;
    c.layoutKelvoWindow();
    EXPECT_EQ(c.kelvoPosition, Point3d(600, 800, 0));
    expectRect(c.kelvoMainArea, 600, 840, 960, 720, "main");
    expectRect(c.kelvoSideArea, 60, 800, 120, 800, "side");
    expectRect(c.kelvoExtraArea, 600, 440, 960, 80, "extra");
    EXPECT_EQ(c.kelvoAspect, 960.0f / 720.0f);

    // The same numbers through the default formulas would put the main area
    // elsewhere: reading the window really switches layouts.
    const Configuration d;
    EXPECT_NE(d.kelvoMainArea.x, static_cast<int>(d.kelvoX));
}

TEST(Configuration, OperateLayoutAfterReadingLowersTheExtraAreaByHalfItsHeight)
{
    Configuration c;
    c.layoutOperateWindow();
    expectRect(c.operateMainArea, 624, 800, 708, 248, "main");
    expectRect(c.operateSideArea, 144, 800, 48, 720, "side");
    expectRect(c.operateExtraArea, 1104, 1088, 38, 144, "extra");
}

TEST(Configuration, SubspaceAspectRatiosUseTheirMargins)
{
    Configuration c;
    c.subspace2dWidth = 720;
    c.subspace2dHeight = 640;
    c.layoutSubspace2dWindow();
    EXPECT_EQ(c.subspace2dAspect, 669.0f / 589.0f);

    c.subspace3dWidth = 1000;
    c.subspace3dHeight = 500;
    c.subspace3dFrameSize = 20.0f;
    c.layoutSubspace3dWindow();
    // (1000 - 40 - 60) / (500 - 40)
    EXPECT_EQ(c.subspace3dAspect, 900.0f / 460.0f);

    // A zero height is passed on as an infinite ratio, not trapped.
    c.subspace2dHeight = 0;
    c.subspace2dWidth = 0;
    c.layoutSubspace2dWindow();
    EXPECT_TRUE(std::isnan(c.subspace2dAspect) || std::isinf(c.subspace2dAspect));
}
