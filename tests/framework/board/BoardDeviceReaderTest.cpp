#include "framework/board/BoardDeviceReader.h"

#include "tests/support/InputEvents.h"

#include <gtest/gtest.h>

#include <linux/input.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Describe(const std::vector<BoardContact>& contacts)
{
    std::string s;
    for (const BoardContact& c : contacts) {
        s += c.kind == BoardContact::Down ? "down" : c.kind == BoardContact::Move ? "move" : "up";
        s += " " + std::to_string(c.x) + "," + std::to_string(c.y) + " p" + std::to_string(c.pointer) + ";";
    }
    return s;
}

TEST(BoardDeviceReader, TwoContactsGetThePointerBitOfTheirSlot)
{
    std::string s = InputEventBytes({
        {EV_ABS, ABS_MT_SLOT, 0},
        {EV_ABS, ABS_MT_TRACKING_ID, 40},
        {EV_ABS, ABS_MT_POSITION_X, 100},
        {EV_ABS, ABS_MT_POSITION_Y, 200},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_SLOT, 1},
        {EV_ABS, ABS_MT_TRACKING_ID, 41},
        {EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_PEN},
        {EV_ABS, ABS_MT_POSITION_X, 5000},
        {EV_ABS, ABS_MT_POSITION_Y, 6000},
        {EV_ABS, ABS_MT_SLOT, 0},
        {EV_ABS, ABS_MT_POSITION_X, 110},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_TRACKING_ID, -1},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_SLOT, 1},
        {EV_ABS, ABS_MT_TRACKING_ID, 42}, // a new contact in the same slot
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_TRACKING_ID, -1},
        {EV_SYN, SYN_REPORT, 0},
    });

    BoardDeviceReader reader;
    std::vector<BoardContact> out;
    reader.Feed(s.data(), s.size(), out);
    EXPECT_EQ(Describe(out), "down 100,200 p0;"
                             "move 110,200 p0;down 5000,6000 p257;"
                             "up 110,200 p0;"
                             "up 5000,6000 p257;down 5000,6000 p257;"
                             "up 5000,6000 p257;");
}

TEST(BoardDeviceReader, BrokenStreamsAreReadWithoutHarm)
{
    BoardDeviceReader reader;
    std::vector<BoardContact> out;
    std::string s = InputEventBytes({
        {EV_ABS, ABS_MT_TRACKING_ID, 1},
        {EV_ABS, ABS_MT_POSITION_X, 10},
        {EV_ABS, ABS_MT_POSITION_Y, 20},
        {EV_SYN, SYN_REPORT, 0},
    });
    // Split in the middle of a record: nothing until the rest comes.
    reader.Feed(s.data(), s.size() - 5, out);
    EXPECT_TRUE(out.empty());
    reader.Feed(s.data() + s.size() - 5, 5, out);
    EXPECT_EQ(Describe(out), "down 10,20 p0;");

    // Lost events: the broken report is discarded, the next one counts.
    out.clear();
    s.clear();
    s += InputEventBytes({
        {EV_ABS, ABS_MT_POSITION_X, 999},
        {EV_SYN, SYN_DROPPED, 0},
        {EV_ABS, ABS_MT_POSITION_Y, 888},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_POSITION_X, 30},
        {EV_SYN, SYN_REPORT, 0},
        // Slots beyond what is tracked are ignored.
        {EV_ABS, ABS_MT_SLOT, 1000},
        {EV_ABS, ABS_MT_TRACKING_ID, 7},
        {EV_SYN, SYN_REPORT, 0},
    });
    reader.Feed(s.data(), s.size(), out);
    EXPECT_EQ(Describe(out), "move 30,20 p0;");

    // The device goes away: the contact still down is lifted.
    out.clear();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    EXPECT_FALSE(reader.ReadFrom(fds[0], out));
    close(fds[0]);
    reader.ReleaseAll(out);
    EXPECT_EQ(Describe(out), "up 30,20 p0;");

    // Not an input device.
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_FALSE(reader.Probe(fds[0]));
    close(fds[0]);
    close(fds[1]);
}

TEST(BoardDeviceReader, SingleTouchBoardsAreOneContact)
{
    std::string s = InputEventBytes({
        {EV_ABS, ABS_X, 300},
        {EV_ABS, ABS_Y, 400},
        {EV_KEY, BTN_TOUCH, 1},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_X, 310},
        {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, BTN_TOUCH, 0},
        {EV_SYN, SYN_REPORT, 0},
    });
    BoardDeviceReader reader;
    std::vector<BoardContact> out;
    reader.Feed(s.data(), s.size(), out);
    EXPECT_EQ(Describe(out), "down 300,400 p0;move 310,400 p0;up 310,400 p0;");
}

} // namespace
