// The second build stage gets the configuration's windows as 35 values.
#include "app/KelvoVisBuildDirector.h"

#include "app/Configuration.h"
#include "framework/kelvo/KelvoVisBuilder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class RecordingBuilder : public KelvoVisBuilder {
public:
    void buildVis(WindowsFrameTimer*, WId, Point3d, int, int) override {}
    void buildKelvo(Point3d centre, int a2, int a3, Point3d kelvoCentre, int a5, int a6, int a7, int a8, int a9,
                    int a10, int a11, int a12, int a13, int a14, int a15, int a16, int a17, int a18, int a19,
                    Point3d operateCentre, int a21, int a22, int a23, int a24, int a25, int a26, int a27, int a28,
                    int a29, int a30, int a31, int a32, int a33, int a34, int a35) override
    {
        ++calls;
        points = {centre, kelvoCentre, operateCentre};
        ints = {a2,  a3,  a5,  a6,  a7,  a8,  a9,  a10, a11, a12, a13, a14, a15, a16, a17, a18,
                a19, a21, a22, a23, a24, a25, a26, a27, a28, a29, a30, a31, a32, a33, a34, a35};
    }
    KelvoVis* getVis() override { return vis; }

    KelvoVis* vis = nullptr;
    int calls = 0;
    std::vector<Point3d> points;
    std::vector<int> ints;
};

}

TEST(KelvoVisBuildDirector, NoVisualizationMeansNoSecondStage)
{
    Configuration config;
    KelvoVisBuildDirector director(&config);
    RecordingBuilder builder;
    EXPECT_EQ(director.createVis(&builder), nullptr);
    EXPECT_EQ(builder.calls, 0);
}

TEST(KelvoVisBuildDirector, PassesBothWindowsOfTheDefaultLayout)
{
    Configuration config;
    KelvoVisBuildDirector director(&config);
    RecordingBuilder builder;
    // Never dereferenced by the director; only handed back.
    int stand_in = 0;
    builder.vis = reinterpret_cast<KelvoVis*>(&stand_in);
    EXPECT_EQ(director.createVis(&builder), builder.vis);
    ASSERT_EQ(builder.calls, 1);
    EXPECT_EQ(builder.points[0], Point3d(1200, 800, 0));
    EXPECT_EQ(builder.points[1], Point3d(600, 800, 0));
    EXPECT_EQ(builder.points[2], Point3d(600, 800, 0));
    EXPECT_EQ(builder.ints, (std::vector<int>{2400, 1600, 960, 720,
                                              648, 800, 864, 720, 168, 800, 96, 720, 1104, 1016, 38, 144, 96,
                                              960, 720,
                                              624, 800, 708, 248, 144, 800, 48, 720, 1104, 1016, 38, 144, 96}));

    // The display centre follows the origin and size.
    config.mainOrigin = Point3d(100, 50, 0);
    config.mainWidth = 1000;
    config.mainHeight = 500;
    director.createVis(&builder);
    EXPECT_EQ(builder.points[0], Point3d(600, 300, 0));
}
