// A lasso drawn during a running trial reaches the study's lasso log with what
// a replay needs, and its selected count is the participant's mask.
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/StudyTrialControl.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/CsvRecords.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/VisTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>

using namespace vistest;

TEST(StudyLassoLog, ALassoInATrialIsLoggedForReplay)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (the test script runs under Xvfb)";
    StudyRunner::Destroy();
    FerrowManager::Destroy();
    std::vector<int> labels;
    DatasetFixture data(DatasetFixture::BlobInNoise(4000, 4000, 3, &labels).get(), labels);
    OffscreenContext context;
    ASSERT_TRUE(context.gc.valid()) << "no OpenGL context on this display";

    QTemporaryDir dir;
    const std::string study = dir.filePath("study.xml").toStdString();
    std::ofstream(study) << "<study>\n<dataset id=\"b\" builtin=\"fixture\"/>\n"
                            "<trial name=\"blob\" dataset=\"b\" targetLabel=\"1\" technique=\"density\"/>\n"
                            "</study>\n";
    StudyRunner* runner = StudyRunner::Instance();
    runner->SetResultsFolder(dir.path().toStdString());
    ASSERT_TRUE(runner->Load(study).empty());
    ASSERT_EQ(runner->Begin(3, 0), "");

    std::unique_ptr<KelvoVis> vis(new KelvoVis(nullptr, 0, ViewWidth, ViewHeight));
    vis->setLayout(TestLayout(), KelvoLayout());
    Paint(*vis);
    Paint(*vis);
    StudyTrialControl* control = vis->GetStudyControl();
    ASSERT_NE(control, nullptr);
    control->Update(*vis);
    control->PressButton(*vis);
    ASSERT_TRUE(runner->IsRunning());
    control->Update(*vis);

    // A plus stroke of the other key family: the trial's technique holds.
    const double pi = 3.14159265358979323846;
    const osg::Vec3d c = Project(*vis, osg::Vec3d(0, 0, 0));
    const double r = (Project(*vis, osg::Vec3d(1.3, 0, 0)) - c).length();
    Send(*vis, "CYSPLUSS", c.x() + r, c.y());
    for (int i = 1; i < 90; ++i) Send(*vis, "CYSPLUS", c.x() + r * std::cos(2 * pi * i / 90), c.y() + r * std::sin(2 * pi * i / 90));
    Send(*vis, "CYSPLUSE", c.x() + r, c.y() - 0.5);
    Paint(*vis);
    Paint(*vis);
    ASSERT_FALSE(vis->GetFrameStrategy()->IsBuildPending());
    size_t selected = 0;
    for (bool b : vis->GetSelectionMask()) selected += b;
    EXPECT_GT(selected, 3000u);

    const auto lassos = ReadCsvRecords(runner->LassosPath());
    ASSERT_EQ(lassos.size(), 1u);
    std::map<std::string, std::string> row = lassos[0];
    EXPECT_EQ(row["participant"], "3");
    EXPECT_EQ(row["mode"], "plus");
    EXPECT_EQ(row["technique"], "density");
    EXPECT_EQ(row["dataset"], "b");
    EXPECT_EQ(row["selected"], std::to_string(selected));
    const osg::Viewport* vp = vis->GetOsgViewer().front()->getCamera()->getViewport();
    EXPECT_EQ(row["viewport_width"], std::to_string(static_cast<int>(vp->width())));
    EXPECT_EQ(row["viewport_x"], std::to_string(static_cast<int>(vp->x())));
    // 16 numbers per matrix, and the points as drawn (thinned by the 2-unit rule).
    for (const char* m : {"model_matrix", "view_matrix", "projection_matrix"}) {
        std::istringstream numbers(row[m]);
        double v;
        int n = 0;
        while (numbers >> v) ++n;
        EXPECT_EQ(n, 16) << m;
    }
    const size_t points = std::count(row["points"].begin(), row["points"].end(), ';') + 1;
    EXPECT_GE(points, 30u);
    EXPECT_LE(points, 90u);

    vis.reset();
    StudyRunner::Destroy();
    FerrowManager::Destroy();
}
