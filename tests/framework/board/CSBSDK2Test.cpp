#include "framework/board/CSBSDK2.h"

#include "framework/board/CSBSDK2EventHandler.h"
#include "framework/board/CSBSDKWnd.h"
#include "tests/support/InputEvents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QSize>
#include <QVariant>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int argcStore = 1;
char nameStore[] = "test_board";
char* argvStore[] = {nameStore, nullptr};

struct Recorder : CSBSDK2EventHandler {
    std::vector<std::string> calls;
    void OnXYDown(int x, int y, int z, int p) override { Log("down", x, y, z, p); }
    void OnXYMove(int x, int y, int z, int p) override { Log("move", x, y, z, p); }
    void OnXYUp(int x, int y, int z, int p) override { Log("up", x, y, z, p); }
    void Log(const char* what, int x, int y, int z, int p)
    {
        calls.push_back(std::string(what) + " " + std::to_string(x) + "," + std::to_string(y) + " z" +
                        std::to_string(z) + " p" + std::to_string(p));
    }
};

// Stands for the view: takes the board's message and lets the board deliver.
class Window : public QObject {
public:
    CSBSDK2* board = nullptr;
    int messages = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == CSBSDK2::SBSDK_NEW_MESSAGE) {
            ++messages;
            board->SBSDKProcessData();
            return true;
        }
        return QObject::event(e);
    }
};

class CSBSDK2Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) new QCoreApplication(argcStore, argvStore);
        ASSERT_EQ(pipe(fds), 0);
        window.board = &board;
        window.setProperty("size", QSize(1920, 1080));
    }
    void TearDown() override
    {
        if (fds[1] >= 0) close(fds[1]);
    }
    void WaitForCalls(size_t n)
    {
        QElapsedTimer clock;
        clock.start();
        while (handler.calls.size() < n && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    int fds[2] = {-1, -1};
    CSBSDK2 board{false};
    Window window;
    CSBSDKWnd wnd{quintptr(0x1234), &window};
    Recorder handler;
};

TEST_F(CSBSDK2Test, ContactsReachTheHandlerInWindowPixelsOnTheGuiThread)
{
    ASSERT_TRUE(board.SBSDKAttachDescriptor(wnd, fds[0]));
    board.SetEventHandler(&handler);
    board.SBSDKSendMouseEvents(wnd, 2, -1);
    EXPECT_EQ(board.SBSDKGetSendMouseEvents(), 2);

    std::string s = InputEventBytes({
        {EV_ABS, ABS_MT_SLOT, 1},
        {EV_ABS, ABS_MT_TRACKING_ID, 5},
        {EV_ABS, ABS_MT_POSITION_X, 0},
        {EV_ABS, ABS_MT_POSITION_Y, 0},
        {EV_ABS, ABS_MT_PRESSURE, 12},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_POSITION_X, 32767},
        {EV_ABS, ABS_MT_POSITION_Y, 32767},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_POSITION_X, 16384},
        {EV_SYN, SYN_REPORT, 0},
        {EV_ABS, ABS_MT_TRACKING_ID, -1},
        {EV_SYN, SYN_REPORT, 0},
    });
    ASSERT_EQ(write(fds[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));

    // Nothing is delivered outside the window's message.
    EXPECT_TRUE(handler.calls.empty());
    WaitForCalls(4);
    const std::vector<std::string> expected = {"down 0,0 z12 p256", "move 1919,1079 z12 p256",
                                               "move 960,1079 z12 p256", "up 960,1079 z12 p256"};
    EXPECT_EQ(handler.calls, expected);
    EXPECT_EQ(window.messages, 1); // one message for the whole burst

    // The window shrinks: contacts follow its size.
    window.setProperty("size", QSize(800, 600));
    s.clear();
    s += InputEventBytes({
        {EV_ABS, ABS_MT_SLOT, 0},
        {EV_ABS, ABS_MT_TRACKING_ID, 6},
        {EV_ABS, ABS_MT_POSITION_X, 32767},
        {EV_ABS, ABS_MT_POSITION_Y, 32767},
        {EV_SYN, SYN_REPORT, 0},
    });
    ASSERT_EQ(write(fds[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
    WaitForCalls(5);
    ASSERT_EQ(handler.calls.size(), 5u);
    EXPECT_EQ(handler.calls[4], "down 799,599 z0 p0");

    // Unplugged with the finger down: the contact is lifted, one line says so.
    testing::internal::CaptureStdout();
    close(fds[1]);
    fds[1] = -1;
    WaitForCalls(6);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(handler.calls.size(), 6u);
    EXPECT_EQ(handler.calls[5], "up 799,599 z0 p0");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_FALSE(board.IsAttached());
}

TEST_F(CSBSDK2Test, WithoutABoardOneLineAndNothingElse)
{
    board.SetEventHandler(&handler);
    setenv("TRELLAN_BOARD_DEVICE", "/nonexistent/event9", 1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(board.SBSDKAttach(wnd, false));
    std::string out = testing::internal::GetCapturedStdout();
    unsetenv("TRELLAN_BOARD_DEVICE");
    EXPECT_NE(out.find("/nonexistent/event9"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_FALSE(board.IsAttached());

    // Processing with nothing read calls nothing.
    board.SBSDKProcessData();
    EXPECT_TRUE(handler.calls.empty());
    close(fds[0]);
}

} // namespace
