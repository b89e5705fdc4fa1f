#include "framework/kelvo/ManyMouse.h"

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

// Three mice as FIFOs in a directory of their own; the test holds the write
// ends open (read-write, so that opening never waits for a reader).
class ManyMouseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/manymouse-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::string list;
        for (int i = 0; i < 3; ++i) {
            const std::string path = dir + "/mouse" + std::to_string(i);
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            writers.push_back(open(path.c_str(), O_RDWR | O_NONBLOCK));
            ASSERT_GE(writers.back(), 0);
            paths.push_back(path);
            list += (i ? ":" : "") + path;
        }
        setenv("TRELLAN_MICE", list.c_str(), 1);
    }
    void TearDown() override
    {
        ManyMouse_Quit();
        unsetenv("TRELLAN_MICE");
        unsetenv("TRELLAN_MICE_DIR");
        for (int fd : writers)
            if (fd >= 0) close(fd);
        for (const std::string& p : paths) unlink(p.c_str());
        rmdir(dir.c_str());
    }

    void Write(int mouse, const std::string& bytes)
    {
        ASSERT_EQ(write(writers[mouse], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<ManyMouseEvent> PollAll()
    {
        std::vector<ManyMouseEvent> out;
        ManyMouseEvent e;
        for (int i = 0; i < 1000 && ManyMouse_PollEvent(&e); ++i) out.push_back(e);
        return out;
    }

    std::string dir;
    std::vector<std::string> paths;
    std::vector<int> writers;
};

TEST_F(ManyMouseTest, NamedDevicesAreListedInOrder)
{
    ASSERT_EQ(ManyMouse_Init(), 3);
    for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(std::string(ManyMouse_DeviceName(i)), paths[i]);
    EXPECT_EQ(ManyMouse_DeviceName(3), nullptr);
    EXPECT_TRUE(PollAll().empty());

    // Init again starts over rather than adding to the list.
    EXPECT_EQ(ManyMouse_Init(), 3);
    ManyMouse_Quit();
    EXPECT_EQ(ManyMouse_DeviceName(0), nullptr);
    EXPECT_EQ(ManyMouse_PollEvent(nullptr), 0);
}

TEST_F(ManyMouseTest, EachDeviceReportsItsOwnMotionButtonsAndScroll)
{
    ASSERT_EQ(ManyMouse_Init(), 3);
    std::string a = InputEventBytes({
        {EV_REL, REL_X, 3},
        {EV_REL, REL_X, 4}, // one report: one motion of 7
        {EV_REL, REL_Y, -2},
        {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_Y, 5},
        {EV_KEY, BTN_LEFT, 1}, // the motion before it is reported first
        {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, BTN_LEFT, 2}, // key repeat: nothing
        {EV_SYN, SYN_REPORT, 0},
    });
    Write(0, a);
    std::string c = InputEventBytes({
        {EV_KEY, BTN_RIGHT, 1},
        {EV_REL, REL_WHEEL, -1},
        {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, BTN_RIGHT, 0},
        {EV_SYN, SYN_REPORT, 0},
    });
    Write(2, c);

    struct Want {
        int type;
        unsigned device, item;
        int value;
    };
    const std::vector<Want> want = {
        {MANYMOUSE_EVENT_RELMOTION, 0, 0, 7}, {MANYMOUSE_EVENT_RELMOTION, 0, 1, -2},
        {MANYMOUSE_EVENT_RELMOTION, 0, 1, 5}, {MANYMOUSE_EVENT_BUTTON, 0, 0, 1},
        {MANYMOUSE_EVENT_BUTTON, 2, 1, 1},    {MANYMOUSE_EVENT_SCROLL, 2, 0, -1},
        {MANYMOUSE_EVENT_BUTTON, 2, 1, 0},
    };
    const std::vector<ManyMouseEvent> got = PollAll();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].type, want[i].type) << i;
        EXPECT_EQ(got[i].device, want[i].device) << i;
        EXPECT_EQ(got[i].item, want[i].item) << i;
        EXPECT_EQ(got[i].value, want[i].value) << i;
    }
}

TEST_F(ManyMouseTest, BrokenStreamsAndUnpluggedDevicesDoNoHarm)
{
    ASSERT_EQ(ManyMouse_Init(), 3);
    // A record split across two writes waits for its second half.
    std::string m;
    AppendInputEvent(m, EV_REL, REL_X, 9);
    AppendInputEvent(m, EV_SYN, SYN_REPORT, 0);
    Write(1, m.substr(0, 30));
    EXPECT_TRUE(PollAll().empty());
    Write(1, m.substr(30));
    std::vector<ManyMouseEvent> got = PollAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value, 9);

    // Events lost by the kernel: the broken report is discarded whole.
    std::string d = InputEventBytes({
        {EV_REL, REL_X, 100},
        {EV_SYN, SYN_DROPPED, 0},
        {EV_REL, REL_X, 50},
        {EV_SYN, SYN_REPORT, 0},
        {EV_REL, REL_X, 1},
        {EV_SYN, SYN_REPORT, 0},
    });
    Write(1, d);
    got = PollAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value, 1);

    // Unplugged: reported once, then silent; the others go on.
    close(writers[1]);
    writers[1] = -1;
    got = PollAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, MANYMOUSE_EVENT_DISCONNECT);
    EXPECT_EQ(got[0].device, 1u);
    std::string z;
    AppendInputEvent(z, EV_REL, REL_Y, 2);
    AppendInputEvent(z, EV_SYN, SYN_REPORT, 0);
    Write(2, z);
    got = PollAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].device, 2u);
}

TEST_F(ManyMouseTest, ScanningFindsOnlyMice)
{
    unsetenv("TRELLAN_MICE");
    // Files that are not input devices are passed over.
    const std::string fake = dir + "/event0";
    close(open(fake.c_str(), O_CREAT | O_WRONLY, 0600));
    setenv("TRELLAN_MICE_DIR", dir.c_str(), 1);
    EXPECT_EQ(ManyMouse_Init(), 0);
    unlink(fake.c_str());
    setenv("TRELLAN_MICE_DIR", (dir + "/missing").c_str(), 1);
    EXPECT_EQ(ManyMouse_Init(), -1);
}

} // namespace
