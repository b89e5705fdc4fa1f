// The program's window on a virtual X display, driven by real input from
// outside the process: X pointer and key events through xdotool, TUIO cursor
// packets over loopback UDP through oscsend, and recorded input-event streams
// for the whiteboard and the extra mice, fed through FIFOs in place of
// devices. Needs DISPLAY (the test script runs the suite under Xvfb) and both
// tools; skipped without them. TUIO bundles (alive, set, fseq in one
// datagram, as trackers send them) go out through liblo.
#include "app/MyApp.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "app/TwoMice.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/kelvo/StudyPanel.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/tuio/TuioReceiver.h"
#include "framework/ombra/VisComponent.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"
#include "tests/support/InputEvents.h"
#include "tests/support/WaitUntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <lo/lo.h>
#include <map>
#include <queue>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int argcStore = 1;
char nameStore[] = "Pravik";
char* argvStore[] = {nameStore, nullptr};

// A TUIO 1.1 client: each frame is one bundle of alive, set and fseq.
class TuioClient {
public:
    explicit TuioClient(int port) : address(lo_address_new("127.0.0.1", std::to_string(port).c_str())) {}
    ~TuioClient() { lo_address_free(address); }
    TuioClient(const TuioClient&) = delete;
    TuioClient& operator=(const TuioClient&) = delete;

    // Cursors by session id, positions normalised with the origin upper left.
    bool Frame(const std::map<int, QPointF>& cursors)
    {
        lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
        lo_message alive = lo_message_new();
        lo_message_add_string(alive, "alive");
        for (const auto& c : cursors) lo_message_add_int32(alive, c.first);
        lo_bundle_add_message(bundle, "/tuio/2Dcur", alive);
        for (const auto& c : cursors) {
            lo_message set = lo_message_new();
            lo_message_add_string(set, "set");
            lo_message_add_int32(set, c.first);
            lo_message_add_float(set, float(c.second.x()));
            lo_message_add_float(set, float(c.second.y()));
            for (int i = 0; i < 3; ++i) lo_message_add_float(set, 0.0f);
            lo_bundle_add_message(bundle, "/tuio/2Dcur", set);
        }
        lo_message seq = lo_message_new();
        lo_message_add_string(seq, "fseq");
        lo_message_add_int32(seq, fseq++);
        lo_bundle_add_message(bundle, "/tuio/2Dcur", seq);
        const int sent = lo_send_bundle(address, bundle);
        lo_bundle_free_recursive(bundle);
        return sent > 0;
    }
    int fseq = 1;

private:
    lo_address address;
};

class InputEndToEndTest : public ::testing::Test {
protected:
    // A study to run (the study file's text), or null for free exploration.
    virtual const char* Study() const { return nullptr; }

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
        if (Study()) {
            QFile study(dir.filePath("study.xml"));
            ASSERT_TRUE(study.open(QIODevice::WriteOnly));
            study.write(Study());
            study.close();
            std::vector<std::string> lines;
            ASSERT_EQ(StudyRunner::Instance()->OpenSession(study.fileName().toStdString(), 1, 0, lines),
                      StudyRunner::SessionStarted);
        }
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
        tuio.reset();
        if (Study()) {
            // The next test explores the built-in datasets again.
            StudyRunner::Destroy();
            FerrowDatasetManager::Destroy();
            FerrowManager::Destroy();
        }
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

    // Listens for TUIO on a port of this test's own, so that parallel runs do
    // not meet; returns the port.
    int StartTuio()
    {
        int port = 0;
        for (int attempt = 0; attempt < 20 && !(tuio && tuio->IsListening()); ++attempt) {
            port = 41000 + (getpid() * 13 + attempt * 97) % 20000;
            tuio = std::make_unique<TuioInit>(port);
        }
        return tuio && tuio->IsListening() ? port : 0;
    }
    // View pixel (origin lower left) as a TUIO position: a fraction of the
    // screen, as a tracker over the whole touch surface sends it (origin
    // upper left).
    QPointF Normalised(double x, double y) const
    {
        const QRect screen = view->screen()->geometry();
        const QPoint topLeft = view->mapToGlobal(QPoint(0, 0));
        return QPointF((topLeft.x() - screen.x() + x) / screen.width(),
                       (topLeft.y() - screen.y() + view->getViewHeight() - y) / screen.height());
    }
    QPointF Centre(const VisComponent* c) const
    {
        return Normalised(c->getLeft() + c->getWidth() * 0.5, c->getBottom() + c->getHeight() * 0.5);
    }
    // A finger taps a component: press, then lift.
    void Tap(TuioClient& client, int session, const VisComponent* c)
    {
        ASSERT_TRUE(client.Frame({{session, Centre(c)}}));
        Settle(2);
        ASSERT_TRUE(client.Frame({}));
        Settle(2);
    }
    // A closed loop of `points` positions round the middle of the 3D area, in
    // view pixels (origin lower left).
    std::vector<QPointF> Loop(int points, double share) const
    {
        const VisComponent* frame = view->getVis()->GetFrameComponent();
        const double cx = frame->getLeft() + frame->getWidth() * 0.5;
        const double cy = frame->getBottom() + frame->getHeight() * 0.5;
        const double r = share * std::min(frame->getWidth(), frame->getHeight());
        std::vector<QPointF> loop;
        for (int i = 0; i <= points; ++i)
            loop.emplace_back(cx + r * std::cos(i * 2.0 * M_PI / points), cy + r * std::sin(i * 2.0 * M_PI / points));
        return loop;
    }
    // One finger draws the loop: every position its own frame. `burst`: the
    // frames come 8 ms apart while the program is busy (they wait in the
    // socket together), else the program takes each one as it comes.
    void Draw(TuioClient& client, int session, const std::vector<QPointF>& loop, bool burst = false)
    {
        for (const QPointF& p : loop) {
            ASSERT_TRUE(client.Frame({{session, Normalised(p.x(), p.y())}}));
            if (burst)
                QThread::msleep(8);
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        ASSERT_TRUE(client.Frame({}));
        EXPECT_TRUE(WaitUntil([&] { return view->getSharedPressCount() == 0; }, 10000));
    }
    long Selected() const
    {
        const std::vector<bool>& mask = view->getVis()->GetSelectionMask();
        return std::count(mask.begin(), mask.end(), true);
    }

    static MyApp* app;
    std::unique_ptr<TuioInit> tuio;
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
    // A cluster: most of one dense structure is taken, and the background
    // noise (label 0, 15 % of the particles; 1.3 % of the selection when
    // this was written) is mostly left out.
    const std::vector<int>& labels =
        FerrowDatasetManager::Instance()->labels[static_cast<size_t>(FerrowManager::Instance()->GetCurrentDatasetNr())];
    ASSERT_EQ(labels.size(), mask.size());
    std::map<int, std::pair<long, long>> byLabel;  // label: selected, all
    for (size_t i = 0; i < mask.size(); ++i) {
        byLabel[labels[i]].first += mask[i];
        byLabel[labels[i]].second += 1;
    }
    double bestCluster = 0.0;
    for (const auto& l : byLabel)
        if (l.first > 0) bestCluster = std::max(bestCluster, double(l.second.first) / double(l.second.second));
    EXPECT_GT(bestCluster, 0.5) << "no structure is mostly selected";
    EXPECT_LT(double(byLabel[0].first) / double(selected), 0.025) << byLabel[0].first << " of the " << selected
                                                                 << " selected particles are noise";
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
    const int port = StartTuio();
    ASSERT_NE(port, 0);

    const QRect area = Area();
    const QImage before = view->grabFramebuffer();
    Settle();
    const QImage still = view->grabFramebuffer();
    // Without input the picture holds still.
    EXPECT_LT(ChangedFraction(before, still, area), 0.01);

    const double h = view->getViewHeight();
    // The datagrams wait in the socket until the program reads them, so the
    // sender need not run beside the event loop.
    auto send = [&](const QStringList& message) {
        return QProcess::execute("oscsend", QStringList{"127.0.0.1", QString::number(port), "/tuio/2Dcur"} +
                                                message) == 0;
    };
    const int steps = 8;
    for (int i = 0; i <= steps; ++i) {
        // Across the middle of the 3D area, as fractions of the screen.
        const QPointF at = Normalised(area.left() + area.width() * (0.3 + 0.4 * i / steps),
                                      h - (area.top() + area.height() * 0.5));
        const double x = at.x(), y = at.y();
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

TEST_F(InputEndToEndTest, TwoFingersAFloodAndARestartedClientLeaveOneFingerLassosWorking)
{
    const int port = StartTuio();
    ASSERT_NE(port, 0);
    KelvoVis* vis = view->getVis();
    const QRect area = Area();
    const double h = view->getViewHeight();
    auto inArea = [&](double fx, double fy) {
        return Normalised(area.left() + area.width() * fx, h - (area.top() + area.height() * fy));
    };
    {
        TuioClient client(port);
        // Two fingers land, move together and lift in one frame.
        ASSERT_TRUE(client.Frame({{3, inArea(0.4, 0.5)}, {4, inArea(0.6, 0.5)}}));
        Settle(2);
        for (int i = 1; i <= 4; ++i) {
            ASSERT_TRUE(client.Frame({{3, inArea(0.4 + 0.02 * i, 0.5)}, {4, inArea(0.6 - 0.02 * i, 0.5)}}));
            Settle(1);
        }
        EXPECT_EQ(vis->GetPointersDown(), 2u);
        ASSERT_TRUE(client.Frame({}));
        EXPECT_TRUE(WaitUntil([&] { return view->getSharedPressCount() == 0; }, 10000));
        Settle();
        EXPECT_EQ(vis->GetPointersDown(), 0u);

        // A flood of 999 cursors, over the 3D area and then over the slider:
        // only the first ten are followed, with one console line.
        std::map<int, QPointF> flood;
        const SliderComponent* slider = vis->GetThresholdSlider();
        for (int i = 0; i < 900; ++i) flood[100 + i] = inArea((i % 30 + 0.5) / 30.0, (i / 30 + 0.5) / 30.0);
        for (int i = 900; i < 999; ++i)
            flood[100 + i] = Normalised(slider->getLeft() + slider->getWidth() * 0.5,
                                        slider->getBottom() + slider->getHeight() * (i - 900 + 0.5) / 99.0);
        const double threshold = vis->GetThresholdSlider()->getValue();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(client.Frame(flood));
        QElapsedTimer responsive;
        responsive.start();
        Settle();
        EXPECT_EQ(vis->GetPointersDown(), TuioReceiver::kMaxCursors);
        ASSERT_TRUE(client.Frame(flood));
        Settle();
        const std::string console = testing::internal::GetCapturedStdout();
        EXPECT_LT(responsive.elapsed(), 5000);
        size_t lines = 0;
        for (size_t at = console.find("cursors at once"); at != std::string::npos;
             at = console.find("cursors at once", at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << console;
        ASSERT_TRUE(client.Frame({}));
        EXPECT_TRUE(WaitUntil([&] { return view->getSharedPressCount() == 0; }, 10000));
        Settle();
        EXPECT_EQ(vis->GetPointersDown(), 0u);
        // None of the flood reached the slider (it lies outside the first ten).
        EXPECT_EQ(vis->GetThresholdSlider()->getValue(), threshold);

        // A finger stays down when its client dies.
        client.fseq = 40; // a restart counting from 1 lies less than 100 frames back
        ASSERT_TRUE(client.Frame({{7, inArea(0.5, 0.5)}}));
        Settle();
        EXPECT_EQ(vis->GetPointersDown(), 1u);
    }
    // The client restarts after a pause, counting from 1 again: its first
    // frame ends the old finger (released once) and is taken.
    WaitUntil([] { return false; }, 1100);
    TuioClient restarted(port);
    // The stroke mode is chosen by touch: "Lasso +".
    Tap(restarted, 1, vis->GetModeButton(KelvoVis::PlusMode));
    EXPECT_EQ(vis->GetStrokeMode(), KelvoVis::PlusMode);
    EXPECT_EQ(vis->GetPointersDown(), 0u);
    EXPECT_EQ(view->getSharedPressCount(), 0);

    ASSERT_EQ(Selected(), 0);
    Draw(restarted, 2, Loop(24, 0.3));
    EXPECT_TRUE(WaitUntil([&] { return Selected() > 0; }, 30000));
    EXPECT_LT(Selected(), long(vis->GetSelectionMask().size()));
    EXPECT_EQ(vis->GetPointersDown(), 0u);
}

// A study of one trial with the density-aware technique.
class TouchStudyTest : public InputEndToEndTest {
protected:
    const char* Study() const override
    {
        return "<study name=\"touch\" results=\"results\">\n"
               "  <dataset id=\"clusters\" builtin=\"clusters\"/>\n"
               "  <trial dataset=\"clusters\" targetLabel=\"1\" technique=\"density\"\n"
               "         instruction=\"Select the green cluster.\"/>\n"
               "</study>\n";
    }
    // Lines of a results file, header first.
    QStringList Rows(const QString& name) const
    {
        QFile f(dir.filePath("results/" + name));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    static QString Column(const QStringList& rows, int row, const QString& name)
    {
        const int at = rows[0].split(',').indexOf(name);
        return at < 0 || row >= rows.size() ? QString() : rows[row].split(',').value(at);
    }
};

TEST_F(TouchStudyTest, TheStartButtonIsFoundByItsPixelsAndATouchLassoOnSlowFramesIsLogged)
{
    KelvoVis* vis = view->getVis();
    StudyRunner* runner = StudyRunner::Instance();
    ASSERT_TRUE(runner->IsPresenting());
    Settle();

    // The start button, found in the picture: the tallest region of button
    // colour that is at least 40 pixels in both directions.
    const QImage shot = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const QRgb face = qRgb(76, 84, 102);
    auto isFace = [&](int x, int y) {
        const QRgb c = shot.pixel(x, y);
        return std::abs(qRed(c) - qRed(face)) <= 3 && std::abs(qGreen(c) - qGreen(face)) <= 3 &&
               std::abs(qBlue(c) - qBlue(face)) <= 3;
    };
    std::vector<char> seen(size_t(shot.width()) * shot.height(), 0);
    QRect button;
    for (int y0 = 0; y0 < shot.height(); ++y0) {
        for (int x0 = 0; x0 < shot.width(); ++x0) {
            if (seen[size_t(y0) * shot.width() + x0] || !isFace(x0, y0)) continue;
            QRect box(x0, y0, 1, 1);
            std::queue<QPoint> todo;
            todo.push(QPoint(x0, y0));
            seen[size_t(y0) * shot.width() + x0] = 1;
            while (!todo.empty()) {
                const QPoint p = todo.front();
                todo.pop();
                box = box.united(QRect(p, QSize(1, 1)));
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (!shot.rect().contains(q) || seen[size_t(q.y()) * shot.width() + q.x()] || !isFace(q.x(), q.y()))
                        continue;
                    seen[size_t(q.y()) * shot.width() + q.x()] = 1;
                    todo.push(q);
                }
            }
            if (box.width() >= 40 && box.height() >= 40 && box.height() > box.width() * 3 / 2 &&
                box.height() > button.height())
                button = box;
        }
    }
    ASSERT_FALSE(button.isNull()) << "no start button in the picture";
    // The instruction is in the band above the 3D area, not over it.
    double bandLeft, bandBottom, bandWidth, bandHeight;
    vis->GetMessageBand(bandLeft, bandBottom, bandWidth, bandHeight);
    EXPECT_GE(bandBottom, vis->GetFrameComponent()->getBottom() + vis->GetFrameComponent()->getHeight());
    // The target is shown in green.
    long green = 0;
    const QRect area = Area();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            if (qGreen(c) > 180 && qRed(c) < 100 && qBlue(c) < 130) ++green;
        }
    EXPECT_GT(green, 200);

    // Clicked with the X pointer.
    const QPoint at = view->mapToGlobal(button.center());
    ASSERT_TRUE(Run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}));
    ASSERT_TRUE(WaitUntil([&] { return runner->IsRunning(); }, 10000));
    Settle();
    EXPECT_EQ(vis->GetStudyButton()->getText(), "Done");

    // Touch: "Lasso +" chosen by a tap, then one finger draws a 36-point loop
    // while every frame takes 150 ms.
    const int port = StartTuio();
    ASSERT_NE(port, 0);
    TuioClient client(port);
    Tap(client, 1, vis->GetModeButton(KelvoVis::PlusMode));
    ASSERT_EQ(vis->GetStrokeMode(), KelvoVis::PlusMode);
    view->setMinimumFrameMilliseconds(150);
    Settle(2);
    const unsigned long framesBefore = view->getFramesPainted();
    Draw(client, 2, Loop(36, 0.3), true);
    EXPECT_TRUE(WaitUntil([&] { return Selected() > 0; }, 30000));
    // All the samples went into the lasso before a frame drew it: it was
    // built within a few frames, not one frame per sample.
    EXPECT_LE(view->getFramesPainted() - framesBefore, 10u);
    view->setMinimumFrameMilliseconds(0);
    // Every position reached the lasso (the loop's points lie far more than
    // 2 pixels apart).
    EXPECT_GE(vis->GetFrameStrategy()->GetBuiltLasso().size(), 36u);

    // Done, by touch.
    Tap(client, 3, vis->GetStudyButton());
    ASSERT_TRUE(WaitUntil([&] { return runner->IsFinished(); }, 10000));

    const QStringList trials = Rows("P1_trials.csv");
    ASSERT_EQ(trials.size(), 2) << trials.join('\n').toStdString();
    EXPECT_EQ(Column(trials, 1, "technique"), "density");
    EXPECT_EQ(Column(trials, 1, "lassos_plus"), "1");
    EXPECT_GT(Column(trials, 1, "selected").toLong(), 0);
    const QStringList lassos = Rows("P1_lassos.csv");
    ASSERT_EQ(lassos.size(), 2) << lassos.join('\n').toStdString();
    EXPECT_EQ(Column(lassos, 1, "mode"), "plus");
    EXPECT_EQ(Column(lassos, 1, "technique"), "density");
    EXPECT_GE(Column(lassos, 1, "points").count(';') + 1, 36);
}

// A trial, the raw TLX about it, a break of a second, a second trial.
class TuioQuestionnaireTest : public TouchStudyTest {
protected:
    const char* Study() const override
    {
        return "<study name=\"questions\" results=\"results\">\n"
               "  <dataset id=\"clusters\" builtin=\"clusters\"/>\n"
               "  <block technique=\"density\">\n"
               "    <trial name=\"a\" dataset=\"clusters\" targetLabel=\"1\"/>\n"
               "    <questionnaire type=\"tlx\"/>\n"
               "  </block>\n"
               "  <break seconds=\"1\" text=\"A short rest.\"/>\n"
               "  <trial name=\"b\" dataset=\"clusters\" targetLabel=\"2\" technique=\"density\"/>\n"
               "</study>\n";
    }
    // The view pixel of `slider` that gives `value`: the middle of the
    // positions that round to it.
    static double XFor(const SliderComponent* slider, double value)
    {
        double first = -1.0, last = -1.0;
        const double y = slider->getBottom() + slider->getHeight() * 0.5;
        for (double x = slider->getLeft(); x <= slider->getLeft() + slider->getWidth(); x += 0.5) {
            if (std::fabs(slider->valueAt(x, y) - value) > 2.5) continue;
            if (first < 0) first = x;
            last = x;
        }
        return first < 0 ? -1.0 : (first + last) * 0.5;
    }
    static ButtonComponent* ButtonCalled(const QuestionnaireForm& form, const std::string& text)
    {
        for (VisComponent* c : form.Components())
            if (auto* b = dynamic_cast<ButtonComponent*>(c))
                if (b->getText() == text) return b;
        return nullptr;
    }
};

TEST_F(TuioQuestionnaireTest, ATlxIsAnsweredByTouchAloneAndTheBreakHoldsItsMinimum)
{
    KelvoVis* vis = view->getVis();
    StudyRunner* runner = StudyRunner::Instance();
    ASSERT_TRUE(runner->IsPresenting());
    const int port = StartTuio();
    ASSERT_NE(port, 0);
    TuioClient client(port);
    int finger = 1;
    Settle();
    Tap(client, finger++, vis->GetStudyButton());
    ASSERT_TRUE(WaitUntil([&] { return runner->IsRunning(); }, 10000));
    Settle();
    Tap(client, finger++, vis->GetStudyButton());
    ASSERT_TRUE(WaitUntil([&] { return runner->IsQuestioning(); }, 10000));
    Settle();

    StudyPanel* panel = vis->GetStudyPanel();
    ASSERT_TRUE(panel->IsShown());
    QuestionnaireForm* form = panel->Form();
    ASSERT_NE(form, nullptr);
    const double cell = vis->GetModeButton(KelvoVis::RotateMode)->getWidth();
    // Nothing else on the view takes a press: not the 3D area, not the study button.
    const VisComponent* frame = vis->GetFrameComponent();
    EXPECT_EQ(vis->getComponentAt(frame->getLeft() + 2, frame->getBottom() + 2, true), nullptr);
    const double values[6] = {10, 25, 40, 55, 70, 85};
    for (int k = 0; k < 6; ++k) {
        ASSERT_EQ(form->CurrentItem(), size_t(k));
        const SliderComponent* slider = nullptr;
        for (VisComponent* c : form->Components()) {
            EXPECT_GE(c->getHeight(), cell) << "item " << k;
            EXPECT_GE(c->getWidth(), cell) << "item " << k;
            if (auto* s = dynamic_cast<SliderComponent*>(c)) slider = s;
        }
        ASSERT_NE(slider, nullptr) << "item " << k;
        ButtonComponent* next = ButtonCalled(*form, "Next");
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(ButtonCalled(*form, "Skip"), nullptr) << "the study file does not allow skipping";
        // Next before the slider was touched records nothing.
        Tap(client, finger++, next);
        ASSERT_EQ(form->CurrentItem(), size_t(k));
        const double x = XFor(slider, values[k]);
        ASSERT_GE(x, 0.0);
        const double y = slider->getBottom() + slider->getHeight() * 0.5;
        ASSERT_TRUE(client.Frame({{finger, Normalised(x, y)}}));
        Settle(2);
        ASSERT_TRUE(client.Frame({}));
        ++finger;
        Settle(2);
        Tap(client, finger++, next);
        ASSERT_TRUE(WaitUntil([&] { return form->CurrentItem() == size_t(k + 1) || !runner->IsQuestioning(); }, 5000))
            << "item " << k;
    }

    // The break: Continue waits for the minimum, then takes the finger.
    ASSERT_TRUE(WaitUntil([&] { return runner->IsOnBreak() && panel->ContinueButton(); }, 10000));
    ButtonComponent* go = panel->ContinueButton();
    EXPECT_GE(go->getHeight(), cell);
    if (runner->BreakSecondsLeft(StudyRunner::Now()) > 0.3) {
        EXPECT_FALSE(go->isEnabled());
        Tap(client, finger++, go);
        EXPECT_TRUE(runner->IsOnBreak());
    }
    ASSERT_TRUE(WaitUntil([&] { return go->isEnabled(); }, 5000)) << "the view counted down by itself";
    Tap(client, finger++, go);
    ASSERT_TRUE(WaitUntil([&] { return runner->IsPresenting(); }, 5000));
    EXPECT_EQ(runner->CurrentTrial()->name, "b");
    Settle();
    EXPECT_FALSE(panel->IsShown());
    EXPECT_NE(vis->getComponentAt(frame->getLeft() + 2, frame->getBottom() + 2, true), nullptr);

    const QStringList answers = Rows("P1_answers.csv");
    ASSERT_EQ(answers.size(), 7) << answers.join('\n').toStdString();
    const char* items[6] = {"mental", "physical", "temporal", "performance", "effort", "frustration"};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(Column(answers, k + 1, "item").toStdString(), items[k]);
        EXPECT_EQ(Column(answers, k + 1, "value").toDouble(), values[k]) << items[k];
        EXPECT_EQ(Column(answers, k + 1, "technique"), "density");
        EXPECT_EQ(Column(answers, k + 1, "block"), "1");
    }
}

} // namespace
