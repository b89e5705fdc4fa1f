// A study trial recorded through the program's window with real X input (two
// lassos, an undo between them, a slider drag), then replayed from its logs:
// by trellan-select and by Pravik --replay, both with every count equal to
// the logged one; without the events log both show the difference.
#include "app/MyApp.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/XdoTool.h"
#include "tests/support/WaitUntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

int argcStore = 1;
char nameStore[] = "Pravik";
char* argvStore[] = {nameStore, nullptr};
MyApp* app = nullptr;

struct Result {
    int exitCode = -1;
    QString output;
};

// Runs a program to its end while this one keeps handling its events.
Result RunTool(const QString& program, const QStringList& args, const QString& folder = QString())
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty()) p.setWorkingDirectory(folder);
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(5000)) return r;
    WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 180000);
    r.output = QString::fromLocal8Bit(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long Selected(const KelvoVis* vis)
{
    const std::vector<bool>& mask = vis->GetSelectionMask();
    return long(std::count(mask.begin(), mask.end(), true));
}

}  // namespace

TEST(ReplayEndToEnd, ALoggedTrialReplaysWithEveryCountAndShowsWhatIsMissingWithoutItsEvents)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) GTEST_SKIP() << "needs xdotool";
    if (!app) app = new MyApp(argcStore, argvStore);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString study = dir.filePath("study.xml"), config = dir.filePath("config.xml");
    std::ofstream(study.toStdString()) << "<study results=\"results\">\n<dataset id=\"c\" builtin=\"clusters\"/>\n"
                                          "<trial name=\"one\" dataset=\"c\" targetLabel=\"1\" technique=\"density\"/>\n"
                                          "</study>\n";
    std::ofstream(config.toStdString()) << "<config>\n<startup condition=\"0\" participantID=\"5\"/>\n"
                                           "<mainwindow width=\"800\" height=\"600\" fullscreen=\"0\"/>\n"
                                           "<kelvowindow positionx=\"0.5\" positiony=\"0.5\" width=\"0.9\" height=\"0.9\"/>\n"
                                           "<render mode=\"on-demand\"/>\n</config>\n";
    StudyRunner* runner = StudyRunner::Instance();
    ASSERT_TRUE(runner->Load(study.toStdString()).empty());
    ASSERT_EQ(runner->Begin(5, 0), "");
    const std::string lassos = runner->LassosPath(), events = runner->EventsPath();

    QTConfiguration* configuration = new QTConfiguration(config);
    QTPravik* window = new QTPravik(configuration);
    StudyManager::Instance()->setConditionId(0);
    FerrowManager::Instance()->PravikSelectionStart();
    window->resize(800, 600);
    window->move(0, 0);
    window->show();
    QTKelvoWidgetGL* view = window->getView();
    ASSERT_TRUE(WaitUntil([&] { return view->getVis() && view->getVis()->DensitiesReady(); }, 120000));
    KelvoVis* vis = view->getVis();
    window->activateWindow();
    view->setFocus();
    WaitUntil([] { return false; }, 500);

    // Vis pixels (origin lower left) to the screen.
    auto screen = [&](double x, double y) { return view->mapToGlobal(QPoint(int(x), view->getViewHeight() - int(y))); };
    auto centreOf = [&](const VisComponent* c) {
        return screen(c->getLeft() + c->getWidth() / 2, c->getBottom() + c->getHeight() / 2);
    };
    auto click = [&](QPoint p) {
        RunTool("xdotool", {"mousemove", QString::number(p.x()), QString::number(p.y()), "sleep", "0.1", "click", "1"});
    };
    const VisComponent* area = vis->GetFrameComponent();
    const QPoint middle = centreOf(area);
    const double r = 0.12 * std::min(area->getWidth(), area->getHeight());

    ASSERT_TRUE(WaitUntil([&] { return vis->GetStudyButton()->isVisible(); }, 10000));
    click(centreOf(vis->GetStudyButton()));
    ASSERT_TRUE(WaitUntil([&] { return runner->IsRunning(); }, 10000));
    // Lasso, undo, another lasso beside it, a slider drag, done.
    RunTool("xdotool", XdoTool::LassoLoop(middle, r, "q"));
    ASSERT_TRUE(WaitUntil([&] { return Selected(vis) > 0; }, 30000));
    click(centreOf(vis->GetUndoButton()));
    ASSERT_TRUE(WaitUntil([&] { return Selected(vis) == 0; }, 10000));
    RunTool("xdotool", XdoTool::LassoLoop(middle + QPoint(int(r), int(r / 2)), r, "q"));
    ASSERT_TRUE(WaitUntil([&] { return Selected(vis) > 0; }, 30000));
    const SliderComponent* slider = vis->GetThresholdSlider();
    const double along = slider->isVertical() ? slider->getHeight() : slider->getWidth();
    auto sliderAt = [&](double f) {
        return slider->isVertical() ? screen(slider->getLeft() + slider->getWidth() / 2, slider->getBottom() + along * f)
                                    : screen(slider->getLeft() + along * f, slider->getBottom() + slider->getHeight() / 2);
    };
    const QPoint from = sliderAt(0.3), to = sliderAt(0.2);
    RunTool("xdotool", {"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1", "sleep", "0.1",
                    "mousemove", QString::number(to.x()), QString::number(to.y()), "sleep", "0.1", "mouseup", "1"});
    WaitUntil([] { return false; }, 700);
    click(centreOf(vis->GetStudyButton()));
    ASSERT_TRUE(WaitUntil([&] { return runner->IsFinished(); }, 10000));
    delete window;
    StudyRunner::Destroy();

    // The events log: the undo after the first lasso, the drag after the second.
    const auto rows = CsvFormat::Parse(ReadFile(events));
    ASSERT_EQ(rows.size(), 3u) << ReadFile(events);
    EXPECT_EQ(rows[1][2], "1");
    EXPECT_EQ(rows[1][5], "undo");
    EXPECT_EQ(rows[1][7], "0");
    EXPECT_EQ(rows[2][2], "2");
    EXPECT_EQ(rows[2][5], "threshold");

    const QString select = SELECT_BINARY;
    const QString log = QString::fromStdString(lassos);
    Result tool = RunTool(select, {"--replay", log, "--dataset", "clusters"});
    EXPECT_EQ(tool.exitCode, 0) << tool.output.toStdString();
    EXPECT_FALSE(tool.output.contains("differs")) << tool.output.toStdString();
    EXPECT_TRUE(tool.output.contains("undo: selected 0 of 300000 particles (logged 0)")) << tool.output.toStdString();

    // Space pauses the replay, the right arrow steps on, the left one back.
    const QString shot = dir.filePath("replay.png");
    QProcess pravik;
    pravik.setProcessChannelMode(QProcess::MergedChannels);
    pravik.setWorkingDirectory(dir.path());
    pravik.start(PRAVIK_BINARY, {"--replay", log, "--study", study, "--snapshot", shot});
    Result replay;
    auto printed = [&](const QString& text) {
        return WaitUntil([&] {
            replay.output += QString::fromLocal8Bit(pravik.readAll());
            return replay.output.contains(text) || pravik.state() == QProcess::NotRunning;
        }, 120000) && replay.output.contains(text);
    };
    ASSERT_TRUE(printed("step 1 of 4")) << replay.output.toStdString();
    const QString replayWindow = XdoTool::FindWindow("Selection Demo Application");
    XdoTool::Keys(replayWindow, "space");
    ASSERT_TRUE(printed("replay paused")) << replay.output.toStdString();
    const int stepsWhenPaused = replay.output.count("step ");
    WaitUntil([] { return false; }, 2500);
    replay.output += QString::fromLocal8Bit(pravik.readAll());
    EXPECT_EQ(replay.output.count("step "), stepsWhenPaused) << replay.output.toStdString();
    XdoTool::Keys(replayWindow, "Right");
    ASSERT_TRUE(printed(QString("step %1 of 4").arg(stepsWhenPaused + 1))) << replay.output.toStdString();
    XdoTool::Keys(replayWindow, "Left");
    WaitUntil([] { return false; }, 3000);
    replay.output += QString::fromLocal8Bit(pravik.readAll());
    // Back one step: the trial is rebuilt up to the step before.
    EXPECT_EQ(replay.output.count("step 1 of 4"), 2) << replay.output.toStdString();
    XdoTool::Keys(replayWindow, "space");
    ASSERT_TRUE(printed("snapshot written")) << replay.output.toStdString();
    ASSERT_TRUE(WaitUntil([&] { return pravik.state() == QProcess::NotRunning; }, 30000));
    replay.exitCode = pravik.exitCode();
    EXPECT_EQ(replay.exitCode, 0) << replay.output.toStdString();
    EXPECT_TRUE(replay.output.contains("step 4 of 4: threshold")) << replay.output.toStdString();
    EXPECT_TRUE(replay.output.contains("4 steps, every count equals the log")) << replay.output.toStdString();
    // The picture: the selected particles in the selection colour.
    QImage image(shot);
    ASSERT_FALSE(image.isNull());
    long selectedPixels = 0;
    const osg::Vec4ub c = ParticleScene::SelectedColour;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            selectedPixels += std::abs(qRed(p) - c.r()) + std::abs(qGreen(p) - c.g()) + std::abs(qBlue(p) - c.b()) < 60;
        }
    EXPECT_GT(selectedPixels, 200);

    // Without the events log the second lasso adds to the first: shown.
    ASSERT_TRUE(QFile::rename(QString::fromStdString(events), dir.filePath("events.csv")));
    tool = RunTool(select, {"--replay", log, "--dataset", "clusters"});
    EXPECT_EQ(tool.exitCode, 3) << tool.output.toStdString();
    EXPECT_TRUE(tool.output.contains("differs")) << tool.output.toStdString();
    replay = RunTool(PRAVIK_BINARY, {"--replay", log, "--study", study, "--snapshot", shot}, dir.path());
    EXPECT_TRUE(replay.output.contains("no events log")) << replay.output.toStdString();
    EXPECT_TRUE(replay.output.contains("(differs)")) << replay.output.toStdString();
    EXPECT_TRUE(replay.output.contains("1 counts differ from the log")) << replay.output.toStdString();
}
