#include "app/TwoMice.h"

#include "framework/kelvo/TouchManager.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/OmbraManager.h"
#include "framework/ombra/VisComponent.h"
#include "tests/support/InputEvents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const MiceEventTypes kTypes{101, 102, 103};

// The visualization as the dispatcher sees it: one component over the left
// half of the view, every event kept.
struct FakeVis : OmbraManager {
    VisComponent left{7};
    std::vector<std::string> sent;
    std::vector<int> updated;
    void processEvent(OmbraEvent* e, VisComponent* c) override
    {
        // As from the view: the component goes beside the event, not in it.
        EXPECT_EQ(e->component, nullptr);
        const char* name = e->type == kTypes.press ? "PRESS" : e->type == kTypes.drag ? "DRAG" : "RELEASE";
        sent.push_back(std::string(name) + " " + std::to_string(e->id) + "@" + std::to_string(int(e->x)) + "," +
                       std::to_string(int(e->y)) + (c ? " on" : ""));
    }
    VisComponent* getComponentAt(double x, double, bool) override { return x < 400 ? &left : nullptr; }
    void addToUpdateList(int id) override { updated.push_back(id); }
};

ManyMouseEvent Motion(unsigned device, unsigned axis, int value)
{
    return ManyMouseEvent{MANYMOUSE_EVENT_RELMOTION, device, axis, value, 0, 0};
}

ManyMouseEvent Button(unsigned device, int value)
{
    return ManyMouseEvent{MANYMOUSE_EVENT_BUTTON, device, 0, value, 0, 0};
}

class TwoMiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TouchManager::Destroy();
        char pattern[] = "/tmp/twomice-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        ManyMouse_Quit();
        unsetenv("TRELLAN_MICE");
        unsetenv("TRELLAN_MICE_DIR");
        for (int fd : writers) close(fd);
        for (const std::string& p : paths) unlink(p.c_str());
        rmdir(dir.c_str());
        TouchManager::Destroy();
    }
    // Mice as FIFOs whose write ends the test holds.
    void MakeMice(const std::vector<std::string>& names)
    {
        std::string list;
        for (const std::string& n : names) {
            const std::string path = dir + "/" + n;
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            writers.push_back(open(path.c_str(), O_RDWR | O_NONBLOCK));
            paths.push_back(path);
            list += (list.empty() ? "" : ":") + path;
        }
        setenv("TRELLAN_MICE", list.c_str(), 1);
    }
    std::string InitMice()
    {
        manymouse_initials_setup();
        testing::internal::CaptureStdout();
        init_mice();
        return testing::internal::GetCapturedStdout();
    }
    void Write(int mouse, std::initializer_list<std::vector<int>> events)
    {
        const std::string bytes = InputEventBytes(events);
        ASSERT_EQ(write(writers[mouse], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::string dir;
    std::vector<std::string> paths;
    std::vector<int> writers;
    FakeVis vis;
    int32_t sharedPressCount = 0;
};

TEST_F(TwoMiceTest, StartUpListsEveryMouseWithItsColour)
{
    MakeMice({"left", "right", std::string(80, 'n')});
    const std::string out = InitMice();
    EXPECT_EQ(available_micereal, 3);
    const std::string longName = (dir + "/" + std::string(80, 'n')).substr(0, 63);
    EXPECT_EQ(out, "#0: " + dir + "/left\n#1: " + dir + "/right\n#2: " + longName + "\n");
    EXPECT_EQ(std::string(mice_real[2].name), longName);
    for (int i = 0; i < kMaxMice; ++i) {
        EXPECT_EQ(mice_real[i].connected, i < 3 ? 1 : 0);
        EXPECT_EQ(mice_real[i].x, 0);
        EXPECT_GE(mice_real[i].red, 0);
        EXPECT_LE(mice_real[i].red, 254);
        EXPECT_LE(mice_real[i].blue, 254);
    }

    setenv("TRELLAN_MICE_DIR", dir.c_str(), 1); // no event* devices there
    unsetenv("TRELLAN_MICE");
    EXPECT_EQ(InitMice(), "No mice detected!\n");
    EXPECT_EQ(available_micereal, 0);
    setenv("TRELLAN_MICE_DIR", (dir + "/missing").c_str(), 1);
    EXPECT_EQ(InitMice(), ""); // input not readable at all: nothing listed, nothing said
    EXPECT_EQ(available_micereal, -1);
}

TEST_F(TwoMiceTest, MotionMovesTheDotAndOnlyDragsWhileAButtonIsHeld)
{
    MakeMice({"a", "b"});
    InitMice();
    EXPECT_FALSE(update_mice(Motion(0, 0, 30)));
    EXPECT_FALSE(update_mice(Motion(0, 1, -50)));
    EXPECT_FALSE(update_mice(Motion(0, 1, 5))); // devices count y downward
    EXPECT_EQ(mice_real[0].x, 30);
    EXPECT_EQ(mice_real[0].y, 45);
    EXPECT_TRUE(update_mice(Button(0, 1)));
    EXPECT_EQ(mice_real[0].buttonDown, 1);
    EXPECT_TRUE(update_mice(Motion(0, 0, 1)));
    EXPECT_FALSE(update_mice(Motion(1, 0, 1))); // the other mouse holds no button
    EXPECT_TRUE(update_mice(Button(0, 0)));
    EXPECT_EQ(mice_real[0].buttonDown, 0);
    EXPECT_FALSE(update_mice(Motion(5, 0, 1))); // not a listed device
    EXPECT_FALSE(update_mice(Button(2, 1)));
    EXPECT_TRUE(update_mice(ManyMouseEvent{MANYMOUSE_EVENT_SCROLL, 1, 0, 1, 0, 0}));

    // Drawn dots are clamped into the view and stay clamped.
    mice_real[1].x = 850;
    mice_real[1].y = -4;
    draw_mouse(800, 600, 1);
    EXPECT_EQ(mice_real[1].x, 799);
    EXPECT_EQ(mice_real[1].y, 0);
}

TEST_F(TwoMiceTest, ButtonsAndDragsBecomeFrameworkEventsPerDevice)
{
    MakeMice({"a", "b"});
    InitMice();
    mice_real[0].x = 100;
    mice_real[0].y = 200;
    mice_real[1].x = 600; // over no component
    mice_real[1].y = 50;

    // A release with nothing pressed is dropped, and the count stays 0.
    dispatch_mice_event(Button(0, 0), sharedPressCount, &vis, kTypes);
    EXPECT_EQ(sharedPressCount, 0);

    dispatch_mice_event(Button(0, 1), sharedPressCount, &vis, kTypes);
    update_mice(Motion(0, 0, 10));
    dispatch_mice_event(Motion(0, 0, 10), sharedPressCount, &vis, kTypes);
    // Mouse 1 presses over nothing: counted, but no press, drag or release.
    dispatch_mice_event(Button(1, 1), sharedPressCount, &vis, kTypes);
    EXPECT_EQ(sharedPressCount, 2);
    dispatch_mice_event(Motion(1, 0, 3), sharedPressCount, &vis, kTypes);
    dispatch_mice_event(Button(1, 0), sharedPressCount, &vis, kTypes);
    dispatch_mice_event(Button(0, 0), sharedPressCount, &vis, kTypes);
    EXPECT_EQ(sharedPressCount, 0);

    const std::vector<std::string> expected = {"PRESS 0@100,200 on", "DRAG 0@110,200", "RELEASE 0@110,200"};
    EXPECT_EQ(vis.sent, expected);
    EXPECT_EQ(vis.updated, std::vector<int>{7});
}

TEST_F(TwoMiceTest, DrainReadsTheDevicesAndResetDiscardsWhatWaits)
{
    MakeMice({"a", "b"});
    InitMice();
    // Mouse 1 moves without a button: its dot moves, nothing is sent.
    Write(1, {{EV_REL, REL_X, 20}, {EV_REL, REL_Y, -30}, {EV_SYN, SYN_REPORT, 0}});
    // Mouse 0 presses, drags and releases.
    Write(0, {{EV_REL, REL_X, 50}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0},
              {EV_REL, REL_X, 5}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}});
    drain_mice(sharedPressCount, &vis, kTypes);
    const std::vector<std::string> expected = {"PRESS 0@50,0 on", "DRAG 0@55,0", "RELEASE 0@55,0"};
    EXPECT_EQ(vis.sent, expected);
    EXPECT_EQ(mice_real[1].x, 20);
    EXPECT_EQ(mice_real[1].y, 30);
    EXPECT_EQ(sharedPressCount, 0);

    // Switching the mode on again: what waits is thrown away, the dots go home.
    Write(0, {{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}});
    reset_mice();
    EXPECT_EQ(mice_real[0].x, 0);
    EXPECT_EQ(mice_real[1].y, 0);
    EXPECT_EQ(std::string(mice_real[1].name), dir + "/b");
    drain_mice(sharedPressCount, &vis, kTypes);
    EXPECT_EQ(vis.sent.size(), 3u);
    EXPECT_EQ(sharedPressCount, 0);
}

} // namespace
