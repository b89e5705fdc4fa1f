#include "framework/ombra/EventKind.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/ombra/SliderStrategy.h"

#include <gtest/gtest.h>

#include <vector>

TEST(SliderComponent, PositionMapsLinearlyOntoTheRangeAlongTheLongerSide)
{
    SliderComponent vertical(1, 0.0, 3.0, 1.0, nullptr);
    vertical.setBounds(10, 100, 40, 440); // knob 32 high: travel 100+16 .. 540-16
    EXPECT_TRUE(vertical.isVertical());
    EXPECT_DOUBLE_EQ(vertical.getValue(), 1.0);
    EXPECT_DOUBLE_EQ(vertical.valueAt(30, 116), 0.0);
    EXPECT_DOUBLE_EQ(vertical.valueAt(30, 524), 3.0);
    EXPECT_DOUBLE_EQ(vertical.valueAt(30, 320), 1.5);
    // Beyond the ends the value stays in range; x does not matter.
    EXPECT_DOUBLE_EQ(vertical.valueAt(0, 0), 0.0);
    EXPECT_DOUBLE_EQ(vertical.valueAt(500, 10000), 3.0);

    SliderComponent horizontal(2, 0.0, 3.0, 1.0, nullptr);
    horizontal.setBounds(0, 0, 420, 25); // knob 20 wide: travel 10 .. 410
    EXPECT_FALSE(horizontal.isVertical());
    EXPECT_DOUBLE_EQ(horizontal.valueAt(10, 5), 0.0);
    EXPECT_DOUBLE_EQ(horizontal.valueAt(210, 5), 1.5);
    EXPECT_DOUBLE_EQ(horizontal.valueAt(410, 300), 3.0);

    horizontal.setValue(7.0);
    EXPECT_DOUBLE_EQ(horizontal.getValue(), 3.0);
    horizontal.setValue(-1.0);
    EXPECT_DOUBLE_EQ(horizontal.getValue(), 0.0);
}

TEST(SliderComponent, PressAndDragReportTheValueUnderThePointer)
{
    std::vector<double> reported;
    SliderComponent slider(1, 0.0, 3.0, 1.0, new SliderStrategy([&](double v) { reported.push_back(v); }));
    slider.setBounds(0, 0, 40, 432); // travel 16 .. 416
    const EventKind press = EventKind::FromName("PRESS"), drag = EventKind::FromName("DRAG"),
                    release = EventKind::FromName("RELEASE");

    EXPECT_TRUE(slider.getStrategy()->apply(&slider, OmbraEvent(1, 0, 20, 216, 0, &slider, 1), press));
    EXPECT_TRUE(slider.getStrategy()->apply(&slider, OmbraEvent(2, 0, 20, 416, 0, nullptr, 1), drag));
    // A drag that leaves the slider keeps it at its end and reports nothing new.
    EXPECT_FALSE(slider.getStrategy()->apply(&slider, OmbraEvent(2, 0, 300, 900, 0, nullptr, 1), drag));
    slider.getStrategy()->apply(&slider, OmbraEvent(3, 0, 300, 900, 0, nullptr, 1), release);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_DOUBLE_EQ(reported[0], 1.5);
    EXPECT_DOUBLE_EQ(reported[1], 3.0);
    EXPECT_DOUBLE_EQ(slider.getValue(), 3.0);
}
