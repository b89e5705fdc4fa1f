// The program's window on a virtual X display, driven by real input from
// outside the process: X pointer and key events through xdotool, TUIO cursor
// packets over loopback UDP through oscsend, and recorded input-event streams
// for the whiteboard and the extra mice, fed through FIFOs in place of
// devices. Needs DISPLAY (the test script runs the suite under Xvfb) and both
// tools; skipped without them.
#include "app/MyApp.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "app/TwoMice.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/ombra/VisComponent.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"
#include "tests/support/InputEvents.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int argcStore = 1;
char nameStore[] = "Pravik";
char* argvStore[] = {nameStore, nullptr};

class InputEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("oscsend").isEmpty())
            GTEST_SKIP() << "needs xdotool and oscsend";
        // One application for the whole run, as in the program: the X
        // connection of a second one is not to be relied on.
        if (!app) app = new MyApp(argcStore, argvStore);
        ASSERT_TRUE(dir.isValid());
        // The board and two mice, as FIFOs whose write ends the test holds.
        boardPath = dir.filePath("board").toStdString();
        ASSERT_EQ(mkfifo(boardPath.c_str(), 0600), 0);
        board = open(boardPath.c_str(), O_RDWR | O_NONBLOCK);
        setenv("TRELLAN_BOARD_DEVICE", boardPath.c_str(), 1);
        std::string mice;
        for (int i = 0; i < 2; ++i) {
            const std::string path = dir.filePath(QString("mouse%1").arg(i)).toStdString();
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            mouse[i] = open(path.c_str(), O_RDWR | O_NONBLOCK);
            mice += (i ? ":" : "") + path;
        }
        setenv("TRELLAN_MICE", mice.c_str(), 1);
        // A window that fits the virtual screen, the 3D area in its middle.
        const QString config = dir.filePath("config.xml");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<config>\n"
                "  <startup condition=\"0\" participantID=\"1\"/>\n"
                "  <mainwindow width=\"1000\" height=\"800\" fullscreen=\"0\"/>\n"
                "  <kelvowindow positionx=\"0.5\" positiony=\"0.5\" width=\"0.8\" height=\"0.8\"/>\n"
                "  <render mode=\"on-demand\"/>\n"
                "</config>\n");
        f.close();
        configuration = new QTConfiguration(config);
        window = new QTPravik(configuration);
        StudyManager::Instance()->setConditionId(configuration->condition);
        FerrowManager::Instance()->PravikSelectionStart();
        window->resize(configuration->mainWidth, configuration->mainHeight);
        window->move(0, 0);
        window->show();
        view = window->getView();
        WaitUntil([this] {
            KelvoVis* vis = view->getVis();
            return vis && vis->DensitiesReady() && (view->getFramesPainted() > 10 || !view->isAwake());
        }, 120000);
        ASSERT_NE(view->getVis(), nullptr);
        ASSERT_TRUE(view->getVis()->DensitiesReady());
        window->activateWindow();
        view->setFocus();
        Settle();
    }
    void TearDown() override
    {
        delete window; // the view, and with it the visualization
        unsetenv("TRELLAN_BOARD_DEVICE");
        unsetenv("TRELLAN_MICE");
        for (int fd : {board, mouse[0], mouse[1]})
            if (fd >= 0) close(fd);
    }

    // Writes input events {type, code, value} to a FIFO standing for a device.
    static void Feed(int fd, const std::vector<std::vector<int>>& events)
    {
        const std::string bytes = InputEventBytes(events);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    template <class Done>
    bool WaitUntil(Done done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    // Lets a few frames go by, or lets the view come to rest: the view draws
    // on demand, and input reaches it within a few of its resting polls.
    void Settle(unsigned frames = 5)
    {
        const unsigned long target = view->getFramesPainted() + frames;
        QElapsedTimer clock;
        clock.start();
        WaitUntil([&] { return view->getFramesPainted() >= target || (clock.elapsed() > 100 && !view->isAwake()); },
                  10000);
    }
    // Runs a tool to its end while the program keeps handling its events.
    bool Run(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.start(program, args);
        if (!p.waitForStarted(5000)) return false;
        WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // The 3D area in view pixels, origin upper left.
    QRect Area() const
    {
        const VisComponent* frame = view->getVis()->GetFrameComponent();
        const int h = view->getViewHeight();
        return QRect(int(frame->getLeft()), h - int(frame->getBottom() + frame->getHeight()), int(frame->getWidth()),
                     int(frame->getHeight()));
    }
    static double ChangedFraction(const QImage& a, const QImage& b, const QRect& r)
    {
        long changed = 0, total = 0;
        for (int y = r.top(); y <= r.bottom(); y += 2) {
            for (int x = r.left(); x <= r.right(); x += 2) {
                ++total;
                if (a.pixel(x, y) != b.pixel(x, y)) ++changed;
            }
        }
        return total ? double(changed) / total : 0.0;
    }

    static MyApp* app;
    QTemporaryDir dir;
    std::string boardPath;
    int board = -1;
    int mouse[2] = {-1, -1};
    QTConfiguration* configuration = nullptr;
    QTPravik* window = nullptr;
    QTKelvoWidgetGL* view = nullptr;
};

MyApp* InputEndToEndTest::app = nullptr;

TEST_F(InputEndToEndTest, HoldingQAndDrawingALassoWithTheMouseSelectsACluster)
{
    const std::vector<bool>& mask = view->getVis()->GetSelectionMask();
    ASSERT_FALSE(mask.empty());
    EXPECT_EQ(std::count(mask.begin(), mask.end(), true), 0);

    // A closed loop around the middle of the 3D area, where the clusters are.
    const QRect area = Area();
    const QPoint centre = view->mapToGlobal(area.center());
    const double radius = 0.3 * std::min(area.width(), area.height());
    QStringList args;
    auto at = [&](double angle) {
        return QStringList{"mousemove", QString::number(int(centre.x() + radius * std::cos(angle))),
                           QString::number(int(centre.y() + radius * std::sin(angle))), "sleep", "0.03"};
    };
    args << at(0.0) << "keydown" << "q" << "sleep" << "0.1" << "mousedown" << "1";
    for (int i = 1; i <= 36; ++i) args << at(i * 2.0 * M_PI / 36.0);
    args << "mouseup" << "1" << "sleep" << "0.1" << "keyup" << "q";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Run("xdotool", args));

    // The lasso is completed in the frames that follow, without a word from
    // the triangulator on the console.
    EXPECT_TRUE(WaitUntil([&] { return std::count(mask.begin(), mask.end(), true) > 0; }, 30000));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find("triangulation"), std::string::npos) << console;
    const long selected = std::count(mask.begin(), mask.end(), true);
    EXPECT_GT(selected, 0);
    EXPECT_LT(selected, long(mask.size()));
    EXPECT_EQ(view->getKeyMode(), 0);
    EXPECT_EQ(view->getMouseButtonsDown(), 0);
}

TEST_F(InputEndToEndTest, AnOnDemandViewRestsWhenIdleAndWakesForInput)
{
    ASSERT_TRUE(view->rendersOnDemand());
    ASSERT_TRUE(WaitUntil([&] { return !view->isAwake(); }, 5000));
    const unsigned long resting = view->getFramesPainted();
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(view->getFramesPainted(), resting);

    // A plain drag across the 3D area wakes the view, and the rotation is drawn.
    const QRect area = Area();
    const QImage before = view->grabFramebuffer();
    const unsigned long grabbed = view->getFramesPainted();
    const QPoint from = view->mapToGlobal(QPoint(area.left() + area.width() * 3 / 10, area.center().y()));
    QStringList args{"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1"};
    for (int i = 1; i <= 8; ++i)
        args << "mousemove" << QString::number(from.x() + i * area.width() / 20) << QString::number(from.y())
             << "sleep" << "0.03";
    args << "mouseup" << "1";
    ASSERT_TRUE(Run("xdotool", args));
    EXPECT_TRUE(WaitUntil([&] { return view->getFramesPainted() > grabbed; }, 5000));
    Settle();
    EXPECT_GT(ChangedFraction(before, view->grabFramebuffer(), area), 0.05);
    // ... and it comes to rest again.
    EXPECT_TRUE(WaitUntil([&] { return !view->isAwake(); }, 5000));
}

TEST_F(InputEndToEndTest, AOneFingerTuioDragRotatesTheView)
{
    // Our own port, so that parallel runs do not meet.
    int port = 0;
    std::unique_ptr<TuioInit> tuio;
    for (int attempt = 0; attempt < 20 && !(tuio && tuio->IsListening()); ++attempt) {
        port = 41000 + (getpid() * 13 + attempt * 97) % 20000;
        tuio = std::make_unique<TuioInit>(port);
    }
    ASSERT_TRUE(tuio->IsListening());

    const QRect area = Area();
    const QImage before = view->grabFramebuffer();
    Settle();
    const QImage still = view->grabFramebuffer();
    // Without input the picture holds still.
    EXPECT_LT(ChangedFraction(before, still, area), 0.01);

    const double w = view->getViewWidth(), h = view->getViewHeight();
    // The datagrams wait in the socket until the program reads them, so the
    // sender need not run beside the event loop.
    auto send = [&](const QStringList& message) {
        return QProcess::execute("oscsend", QStringList{"127.0.0.1", QString::number(port), "/tuio/2Dcur"} +
                                                message) == 0;
    };
    const int steps = 8;
    for (int i = 0; i <= steps; ++i) {
        // Across the middle of the 3D area, normalised, origin upper left.
        const double x = (area.left() + area.width() * (0.3 + 0.4 * i / steps)) / w;
        const double y = (area.top() + area.height() * 0.5) / h;
        ASSERT_TRUE(send({"si", "alive", "17"}));
        ASSERT_TRUE(send({"sifffff", "set", "17", QString::number(x), QString::number(y), "0", "0", "0"}));
        ASSERT_TRUE(send({"si", "fseq", QString::number(i + 1)}));
        Settle(2);
    }
    ASSERT_TRUE(send({"s", "alive"}));
    ASSERT_TRUE(send({"si", "fseq", QString::number(steps + 2)}));
    EXPECT_TRUE(WaitUntil([&] { return view->getSharedPressCount() == 0; }, 10000));
    Settle();

    const QImage after = view->grabFramebuffer();
    EXPECT_GT(ChangedFraction(before, after, area), 0.05);
    EXPECT_EQ(std::count(view->getVis()->GetSelectionMask().begin(), view->getVis()->GetSelectionMask().end(), true),
              0);
}

TEST_F(InputEndToEndTest, AWhiteboardPenDragRotatesTheView)
{
    const QRect area = Area();
    const QImage before = view->grabFramebuffer();
    // Board units 0..32767 span the view; the pen goes across the middle.
    const double w = view->getViewWidth(), h = view->getViewHeight();
    auto bx = [&](double f) { return int((area.left() + area.width() * f) / (w - 1) * 32767); };
    const int by = int((area.top() + area.height() * 0.5) / (h - 1) * 32767);
    Feed(board, {{EV_ABS, ABS_MT_SLOT, 0}, {EV_ABS, ABS_MT_TRACKING_ID, 1}, {EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_PEN},
                 {EV_ABS, ABS_MT_POSITION_X, bx(0.3)}, {EV_ABS, ABS_MT_POSITION_Y, by}, {EV_SYN, SYN_REPORT, 0}});
    Settle(2);
    for (int i = 1; i <= 8; ++i) {
        Feed(board, {{EV_ABS, ABS_MT_POSITION_X, bx(0.3 + 0.05 * i)}, {EV_SYN, SYN_REPORT, 0}});
        Settle(2);
    }
    Feed(board, {{EV_ABS, ABS_MT_TRACKING_ID, -1}, {EV_SYN, SYN_REPORT, 0}});
    Settle();
    EXPECT_GT(ChangedFraction(before, view->grabFramebuffer(), area), 0.05);
}

TEST_F(InputEndToEndTest, ExtraMiceMoveTheirDotsAndOneDragRotatesTheView)
{
    const QRect area = Area();
    const int h = view->getViewHeight();
    view->toggleTwomice();
    ASSERT_TRUE(view->isTwoMiceEnabled());
    Settle();
    const QImage before = view->grabFramebuffer();

    // Mouse 1 wanders without a button: its dot moves, the view stays.
    Feed(mouse[1], {{EV_REL, REL_X, 40}, {EV_REL, REL_Y, -30}, {EV_SYN, SYN_REPORT, 0}});
    Settle();
    EXPECT_EQ(mice_real[1].x, 40);
    EXPECT_EQ(mice_real[1].y, 30);
    EXPECT_LT(ChangedFraction(before, view->grabFramebuffer(), area), 0.01);

    // Mouse 0 goes to the middle of the 3D area (rows count up from the
    // bottom in the view, down on the device) and drags to the right.
    const int startX = area.left() + area.width() * 3 / 10;
    const int startY = h - (area.top() + area.height() / 2);
    Feed(mouse[0], {{EV_REL, REL_X, startX}, {EV_REL, REL_Y, -startY}, {EV_SYN, SYN_REPORT, 0},
                    {EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}});
    Settle(2);
    EXPECT_EQ(view->getSharedPressCount(), 1);
    for (int i = 0; i < 8; ++i) {
        Feed(mouse[0], {{EV_REL, REL_X, area.width() / 20}, {EV_SYN, SYN_REPORT, 0}});
        Settle(2);
    }
    Feed(mouse[0], {{EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}});
    Settle();
    EXPECT_EQ(view->getSharedPressCount(), 0);
    EXPECT_EQ(mice_real[0].x, startX + 8 * (area.width() / 20));
    EXPECT_GT(ChangedFraction(before, view->grabFramebuffer(), area), 0.05);
}

} // namespace
