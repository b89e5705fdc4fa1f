// Reading config.xml: element table, precision, the framework calls made while
// reading, and what happens with bad files.
#include "app/QTConfiguration.h"

#include "framework/kelvo/StudyManager.h"
#include "framework/marlo/TaskCommunicator.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class QTConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StudyManager::Instance()->ClearCalls();
        TaskCommunicator::Instance()->ClearCalls();
        ASSERT_TRUE(dir.isValid());
    }

    QString write(const std::string& xml)
    {
        const QString path = dir.filePath("config.xml");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(xml.data(), static_cast<qint64>(xml.size()));
        return path;
    }

    // Every call both singletons received, merged in the order they came.
    static std::vector<std::string> callNames()
    {
        std::vector<FrameworkCall> all = StudyManager::Instance()->GetCalls();
        for (const FrameworkCall& c : TaskCommunicator::Instance()->GetCalls()) {
            FrameworkCall tagged = c;
            tagged.name = "Task." + c.name;
            all.push_back(tagged);
        }
        std::sort(all.begin(), all.end(),
                  [](const FrameworkCall& a, const FrameworkCall& b) { return a.seq < b.seq; });
        std::vector<std::string> names;
        for (const FrameworkCall& c : all) names.push_back(c.name);
        return names;
    }

    QTemporaryDir dir;
};

}

TEST_F(QTConfigurationTest, MissingFileKeepsDefaultsAndSendsTheDefaultAspectTwice)
{
    const QTConfiguration c(dir.filePath("absent.xml"));
    EXPECT_TRUE(c.isClean());
    EXPECT_EQ(c.condition, 0);
    EXPECT_EQ(c.participantId, 1);
    EXPECT_EQ(c.mainWidth, 2400);
    EXPECT_EQ(c.mainHeight, 1600);
    EXPECT_EQ(c.fullscreen, 0);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"Task.SetAspectRatio", "SetAspectRatio"}));
    EXPECT_FLOAT_EQ(TaskCommunicator::Instance()->GetCalls().at(0).args.at(0), 1.2f);
    EXPECT_FLOAT_EQ(StudyManager::Instance()->GetCalls().at(0).args.at(0), 1.2f);

    // An empty file is as good as none.
    const QTConfiguration empty(write(""));
    EXPECT_TRUE(empty.isClean());
    EXPECT_EQ(empty.mainWidth, 2400);
}

TEST_F(QTConfigurationTest, StartupAndMainWindow)
{
    const QTConfiguration c(write("<config><startup condition=\"1\" participantID=\"17\"/>"
                                  "<mainwindow width=\"1920\" height=\"1080\" fullscreen=\"1\"/></config>"));
    EXPECT_TRUE(c.isClean());
    EXPECT_EQ(c.condition, 1);
    EXPECT_EQ(c.participantId, 17);
    EXPECT_EQ(c.mainWidth, 1920);
    EXPECT_EQ(c.mainHeight, 1080);
    EXPECT_EQ(c.fullscreen, 1);
    EXPECT_EQ(c.unitSize, 76);
    // No kelvo window: the default layout and no view size for the framework.
    EXPECT_EQ(c.kelvoMainArea.x, 648);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"Task.SetAspectRatio", "SetAspectRatio"}));
}

TEST_F(QTConfigurationTest, KelvoWindowExampleAndItsCalls)
{
    const QTConfiguration c(write("<config><kelvowindow positionx=\"0.25\" positiony=\"0.5\" width=\"0.5\" "
                                  "height=\"0.5\" framesize=\"0.01\"/></config>"));
    EXPECT_EQ(c.kelvoPosition, Point3d(600, 800, 0));
    EXPECT_EQ(c.kelvoWidth, 1200);
    EXPECT_EQ(c.kelvoHeight, 800);
    EXPECT_EQ(c.kelvoMainArea.x, 600);
    EXPECT_EQ(c.kelvoMainArea.y, 840);
    EXPECT_EQ(c.kelvoMainArea.width, 960);
    EXPECT_EQ(c.kelvoMainArea.height, 720);
    EXPECT_EQ(c.kelvoSideArea.x, 60);
    EXPECT_EQ(c.kelvoSideArea.width, 120);
    EXPECT_EQ(c.kelvoSideArea.height, 800);
    EXPECT_EQ(c.kelvoExtraArea.y, 440);
    EXPECT_EQ(c.kelvoExtraArea.height, 80);
    EXPECT_FLOAT_EQ(c.kelvoFrameSize, 24.0f);

    EXPECT_EQ(callNames(), (std::vector<std::string>{"Task.SetAspectRatio", "SetAspectRatio", "SetView",
                                                     "Task.SetAspectRatio", "SetAspectRatio"}));
    const auto& study = StudyManager::Instance()->GetCalls();
    EXPECT_EQ(study.at(1).args, (std::vector<double>{2400, 1600, 1200, 800, 2400, 1600}));
    EXPECT_EQ(study.at(2).args.at(0), static_cast<double>(960.0f / 720.0f));
    EXPECT_EQ(TaskCommunicator::Instance()->GetCalls().at(1).args.at(0), static_cast<double>(960.0f / 720.0f));
}

TEST_F(QTConfigurationTest, FractionsAreSinglePrecisionAndTruncated)
{
    const QTConfiguration c(write("<config><kelvowindow height=\"0.45\" positiony=\"0.3333\"/>"
                                  "<operatewindow positiony=\"0.3333\"/></config>"));
    EXPECT_EQ(c.kelvoHeight, 719);
    EXPECT_EQ(c.kelvoY, 533);
    EXPECT_EQ(c.operateY, static_cast<float>(0.3333f * 1600.0));
    EXPECT_NEAR(c.operateY, 533.28f, 0.01f);
    EXPECT_EQ(c.operatePosition.y, static_cast<double>(c.operateY));
}

TEST_F(QTConfigurationTest, TheDocumentedExampleReadsAsDocumented)
{
    std::string source = __FILE__;
    source.erase(source.rfind("/tests/"));
    const QTConfiguration c(QString::fromStdString(source + "/examples/config.xml"));
    EXPECT_TRUE(c.isClean());
    EXPECT_EQ(c.condition, 1);
    EXPECT_EQ(c.participantId, 7);
    EXPECT_EQ(c.mainWidth, 1920);
    const AreaRect& m = c.kelvoMainArea;
    EXPECT_EQ(std::vector<int>({m.x, m.y, m.width, m.height}), std::vector<int>({960, 585, 1228, 826}));
    EXPECT_EQ(c.kelvoSideArea.width, 153);
    const AreaRect& e = c.kelvoExtraArea;
    EXPECT_EQ(std::vector<int>({e.x, e.y, e.width, e.height}), std::vector<int>({960, 126, 1228, 91}));
}

TEST_F(QTConfigurationTest, AbsurdNumbersAreNamedAndLeaveTheirFieldsSane)
{
    // Found by fuzzing, then by a user with a black window: such values once
    // saturated the int conversions. Each is named in one line now, and its
    // field keeps what it had; the values around them still count.
    testing::internal::CaptureStdout();
    const QString file = write("<config>\n<mainwindow width=\"-1920\" height=\"1e30\"/>\n"
                               "<kelvowindow positionx=\"1e30\" positiony=\"-1e30\" width=\"nan\" height=\"0.5\" "
                               "framesize=\"inf\"/>\n<operatewindow width=\"-0.4\" height=\"99999\"/>\n"
                               "<mainwindow width=\"99999\" height=\"1080\"/></config>");
    const QTConfiguration c(file);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.mainWidth, 2400);
    EXPECT_EQ(c.mainHeight, 1080);
    EXPECT_EQ(c.kelvoX, 600.0f);
    EXPECT_EQ(c.kelvoY, 800);
    EXPECT_EQ(c.kelvoWidth, 960);
    EXPECT_EQ(c.kelvoHeight, 800);
    EXPECT_EQ(c.operateWidth, 960);
    EXPECT_EQ(c.operateHeight, 720);
    EXPECT_FALSE(c.isClean());
    const std::string f = file.toStdString();
    for (const std::string& line :
         {f + ":2: mainwindow width=\"-1920\" is no display size (0 to 16384 pixels); the value is ignored\n",
          f + ":2: mainwindow height=\"1e30\" is no display size",
          f + ":3: kelvowindow positionx=\"1e30\" is not a fraction of the display from -1 to 2; the value is ignored\n",
          f + ":3: kelvowindow positiony=\"-1e30\"", f + ":3: kelvowindow width=\"nan\"",
          f + ":3: kelvowindow framesize=\"inf\" is not a fraction of the display from 0 to 1",
          f + ":4: operatewindow width=\"-0.4\"", f + ":4: operatewindow height=\"99999\"",
          f + ":5: mainwindow width=\"99999\""})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nin:\n" << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 9) << out;

    // Text that is no number at all keeps the documented 0.
    const QTConfiguration d(write("<config><mainwindow width=\"wide\"/></config>"));
    EXPECT_EQ(d.mainWidth, 0);
}

TEST_F(QTConfigurationTest, EmptyAttributeLeavesFieldAndBadNumberStoresZero)
{
    const QTConfiguration c(write("<config><mainwindow width=\"\" height=\"abc\"/>"
                                  "<kelvowindow width=\"\" height=\"x0.5\"/></config>"));
    EXPECT_EQ(c.mainWidth, 2400);
    EXPECT_EQ(c.mainHeight, 0);
    EXPECT_EQ(c.kelvoWidth, 960);
    EXPECT_EQ(c.kelvoHeight, 0);
    EXPECT_FALSE(c.isClean());

    // Negative integers do not convert either.
    const QTConfiguration d(write("<config><startup condition=\"-1\"/></config>"));
    EXPECT_EQ(d.condition, 0);
}

TEST_F(QTConfigurationTest, WindowsScaleWithTheDisplayKnownWhenRead)
{
    const QTConfiguration c(write("<config><kelvowindow width=\"0.5\"/><mainwindow width=\"1000\"/>"
                                  "<operatewindow width=\"0.5\"/><pcpwindow positionx=\"0.5\" "
                                  "positiony=\"0.5\" width=\"0.1\" height=\"0.1\"/></config>"));
    EXPECT_EQ(c.kelvoWidth, 1200);
    EXPECT_EQ(c.operateWidth, 500);
    EXPECT_EQ(c.pcpPosition, Point3d(500, 800, 0));
    EXPECT_EQ(c.pcpWidth, 100);
    EXPECT_EQ(c.pcpHeight, 160);
}

TEST_F(QTConfigurationTest, SubspaceWindowsSendTheirAspectRatios)
{
    const QTConfiguration c(write("<a><b><subspace2dwindow width=\"0.3\" height=\"0.4\"/></b>"
                                  "<subspace3dwindow width=\"0.5\" height=\"0.5\" framesize=\"0.01\"/>"
                                  "<Subspace2dwindow width=\"0.9\"/></a>"));
    EXPECT_EQ(c.subspace2dWidth, 720);
    EXPECT_EQ(c.subspace2dHeight, 640);
    EXPECT_EQ(c.subspace2dAspect, 669.0f / 589.0f);
    const auto& calls = StudyManager::Instance()->GetCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].name, "Set2DwindowAspectRatio");
    EXPECT_EQ(calls[1].args.at(0), static_cast<double>(669.0f / 589.0f));
    // width 1200 - 2 * 24 - 72, height 800 - 2 * 24
    EXPECT_EQ(calls[2].name, "Set3DwindowAspectRatio");
    EXPECT_EQ(calls[2].args.at(0), static_cast<double>(1080.0f / 752.0f));
}

TEST_F(QTConfigurationTest, RepeatedElementsApplyAgainWithTheirCalls)
{
    const QTConfiguration c(write("<config><kelvowindow width=\"0.5\"/><kelvowindow height=\"0.5\"/></config>"));
    EXPECT_EQ(c.kelvoWidth, 1200);
    EXPECT_EQ(c.kelvoHeight, 800);
    const std::vector<std::string> names = callNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), std::string("SetView")), 2);
}

TEST_F(QTConfigurationTest, MalformedXmlKeepsWhatWasReadBeforeTheFault)
{
    testing::internal::CaptureStdout();
    const QTConfiguration c(write("<config>\n<startup condition=\"1\"/>\n<mainwindow width=\"1920\">\n"
                                  "</wrong>\n<kelvowindow width=\"0.5\"/>\n</config>\n"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.condition, 1);
    EXPECT_EQ(c.mainWidth, 1920);
    EXPECT_EQ(c.kelvoWidth, 960); // after the fault: not applied
    EXPECT_FALSE(c.isClean());
    EXPECT_NE(out.find("config.xml:4"), std::string::npos) << out;
    EXPECT_NE(out.find("malformed XML"), std::string::npos) << out;
}

TEST_F(QTConfigurationTest, RasterModeChoosesTheLassoImage)
{
    EXPECT_FALSE(QTConfiguration(dir.filePath("absent.xml")).computedLassoImage);
    const QTConfiguration cpu(write("<config><raster mode=\"cpu\"/></config>"));
    EXPECT_TRUE(cpu.isClean());
    EXPECT_TRUE(cpu.computedLassoImage);
    // The later element wins; an unknown mode is named and leaves gl.
    EXPECT_FALSE(QTConfiguration(write("<config><raster mode=\"cpu\"/><raster mode=\"gl\"/></config>")).computedLassoImage);
    const QTConfiguration bad(write("<config><raster mode=\"vulkan\"/></config>"));
    EXPECT_FALSE(bad.isClean());
    EXPECT_FALSE(bad.computedLassoImage);
}
