#include "framework/kelvo/StudyTrialControl.h"

#include "framework/kelvo/StudyTrialView.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/LassoRecord.h"
#include "framework/runner/StudyRunner.h"
#include "framework/runner/WriteFaults.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/CsvRecords.h"
#include "tests/support/VisTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// Two blobs in a sparse box: label 1 around (-5,0,0), label 2 around (5,0,0).
void AddDataset(const std::string& name)
{
    osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
    std::vector<int> labels;
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1u << 24) - 0.5;
    };
    for (int i = 0; i < 600; ++i) {
        const int label = i < 200 ? 1 : i < 400 ? 2 : 0;
        const double spread = label ? 1.0 : 20.0;
        const double cx = label == 1 ? -5.0 : label == 2 ? 5.0 : 0.0;
        p->push_back(osg::Vec3(cx + next() * spread, next() * spread, next() * spread));
        labels.push_back(label);
    }
    FerrowDatasetManager::Instance()->Add(name, p, labels);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A study over the "blobs" dataset with these <trial> elements, loaded and
// begun for participant 1, its logs in the folder.
void BeginBlobStudy(const QTemporaryDir& dir, const std::string& trials, const std::string& studyAttributes = "")
{
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
    StudyRunner::Destroy();
    AddDataset("blobs");
    const std::string study = dir.filePath("study.xml").toStdString();
    std::ofstream(study) << "<study" << studyAttributes << ">\n<dataset id=\"b\" builtin=\"blobs\"/>\n" << trials
                         << "</study>\n";
    StudyRunner* runner = StudyRunner::Instance();
    runner->SetResultsFolder(dir.path().toStdString());
    ASSERT_TRUE(runner->Load(study).empty());
    ASSERT_EQ(runner->Begin(1, 0), "");
}

// What the trial control asks of the visualization, recorded; no window.
struct StandInView : StudyTrialView {
    bool DensitiesReady() const override { return true; }
    const std::vector<bool>& GetSelectionMask() const override { return mask; }
    bool IsLassoInProgress() const override { return lassoInProgress; }
    bool DescribeBuiltLasso(LassoRecord& lasso) const override
    {
        lasso.mode = LassoRecord::Minus;
        lasso.viewportWidth = 640;
        lasso.points = {osg::Vec2f(1, 2), osg::Vec2f(30, 2), osg::Vec2f(30, 40)};
        return true;
    }
    void ResetSelection() override { ++resets; }
    void PresetThreshold(float t) override { threshold = t; }
    void SetView(const osg::Quat&, double z) override { zoom = z; }
    void ColourParticles(const std::vector<bool>& flagged, bool target) override
    {
        colouredTarget = target;
        colouredFlags = std::count(flagged.begin(), flagged.end(), true);
    }
    void SetMessage(const std::string& text) override { message = text; }

    std::vector<bool> mask;
    bool lassoInProgress = false;
    int resets = 0;
    float threshold = 0.0f;
    double zoom = 0.0;
    bool colouredTarget = false;
    long colouredFlags = -1;
    std::string message;
};

}  // namespace

TEST(StudyTrialControl, WorksThroughItsViewAloneAndWaitsForALassoInProgress)
{
    QTemporaryDir dir;
    ASSERT_NO_FATAL_FAILURE(BeginBlobStudy(dir, "<trial name=\"one\" dataset=\"b\" targetLabel=\"2\" "
                                                "technique=\"density\" threshold=\"0.5\">\n<view zoom=\"2\"/>\n</trial>\n"));
    StudyRunner* runner = StudyRunner::Instance();

    StudyTrialControl control(runner);
    StandInView view;
    view.mask.assign(600, false);
    ASSERT_TRUE(control.Update(view));  // presented: reset, threshold, view, target
    EXPECT_EQ(view.resets, 1);
    EXPECT_FLOAT_EQ(view.threshold, 0.5f);
    EXPECT_DOUBLE_EQ(view.zoom, 2.0);
    EXPECT_TRUE(view.colouredTarget);
    EXPECT_EQ(view.colouredFlags, 200);
    EXPECT_NE(view.message.find("Trial 1 of 1"), std::string::npos) << view.message;

    control.PressButton(view);
    ASSERT_TRUE(control.Update(view));  // running: the selection's colours
    EXPECT_FALSE(view.colouredTarget);
    view.mask[3] = view.mask[4] = true;
    control.LassoBuilt(view);
    // Done waits for the lasso still being drawn.
    view.lassoInProgress = true;
    control.PressButton(view);
    EXPECT_TRUE(runner->IsRunning());
    view.lassoInProgress = false;
    control.Update(view);
    EXPECT_TRUE(runner->IsFinished());

    const auto lassos = ReadCsvRecords(runner->LassosPath());
    ASSERT_EQ(lassos.size(), 1u);
    std::map<std::string, std::string> row = lassos[0];
    EXPECT_EQ(row["mode"], "minus");
    EXPECT_EQ(row["selected"], "2");
    EXPECT_EQ(row["viewport_width"], "640");
    StudyRunner::Destroy();
    FerrowManager::Destroy();
}

TEST(StudyTrialControl, TakesTheParticipantThroughTheTrials)
{
    QTemporaryDir dir;
    ASSERT_NO_FATAL_FAILURE(BeginBlobStudy(
        dir, "<trial name=\"one\" dataset=\"b\" targetLabel=\"1\" technique=\"cylinder\" threshold=\"1.5\">\n"
             "<view azimuth=\"90\"/>\n</trial>\n"
             "<trial name=\"two\" dataset=\"b\" targetLabel=\"2\" technique=\"density\" instruction=\"Select it\"/>\n"));
    StudyRunner* runner = StudyRunner::Instance();

    KelvoVis vis(nullptr, 0, 800, 600);
    StudyTrialControl* control = vis.GetStudyControl();
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->IsActive());
    EXPECT_FALSE(control->Update(vis));  // densities not ready: nothing yet
    vis.ComputeDensitiesNow();
    ASSERT_NE(vis.GetSelection(), nullptr);

    // Presented: target highlighted, start view, instruction, lassos off.
    EXPECT_TRUE(control->Update(vis));
    EXPECT_FALSE(control->Update(vis));
    EXPECT_TRUE(control->ButtonVisible());
    EXPECT_TRUE(control->ButtonStarts());
    EXPECT_FALSE(control->SelectionAllowed());
    const osg::Vec4ubArray& colours = *vis.GetScene()->GetColours();
    EXPECT_EQ(colours[0], ParticleScene::TargetColour);
    EXPECT_EQ(colours[300], ParticleScene::UnselectedColour);
    EXPECT_NE(vis.GetMessage().find("Trial 1 of 2"), std::string::npos) << vis.GetMessage();
    EXPECT_DOUBLE_EQ(vis.GetThresholdSlider()->getValue(), 1.5);
    const osg::Vec3d turned = vis.GetScene()->GetDataTransform()->getMatrix().getRotate() * osg::Vec3d(1, 0, 0);
    EXPECT_NEAR(turned.z(), -1.0, 1e-9);
    vis.GetFrameStrategy()->applyStartPlusSelect(400, 300);
    EXPECT_FALSE(vis.GetFrameStrategy()->IsLassoActive());
    control->Undone(vis);  // not counted before the start

    // Started: the participant's selection colours, the trial's technique.
    control->PressButton(vis);
    ASSERT_TRUE(runner->IsRunning());
    EXPECT_TRUE(control->Update(vis));
    EXPECT_EQ(colours[0], ParticleScene::UnselectedColour);
    EXPECT_EQ(vis.GetMessage(), "");
    EXPECT_TRUE(control->SelectionAllowed());
    EXPECT_FALSE(control->ButtonStarts());
    EXPECT_TRUE(FerrowManager::Instance()->IsCylinderSelection());
    control->Undone(vis);
    control->Cleared(vis);
    control->ThresholdChanged(vis, 2.0f);
    // A finger turns the view: counted, logged after the threshold change it
    // ends, and the finger named; so is the mouse that presses Done.
    vis.SetPointerSource("touch");
    const VisComponent* area = vis.GetFrameComponent();
    const double cx = area->getLeft() + area->getWidth() / 2, cy = area->getBottom() + area->getHeight() / 2;
    vistest::Send(vis, "PRESS", cx, cy, 3);
    vistest::Send(vis, "DRAG", cx + 80, cy + 10, 3);
    vistest::Send(vis, "RELEASE", cx + 80, cy + 10, 3);
    vistest::Send(vis, "PRESS", cx, cy, 3); // a tap turns nothing
    vistest::Send(vis, "RELEASE", cx, cy, 3);
    vis.SetPointerSource("mouse");
    vistest::Send(vis, "PRESS", cx, cy, 0);
    vistest::Send(vis, "RELEASE", cx, cy, 0);
    control->PressButton(vis);

    // The second trial is presented with its own instruction, and without a
    // view of its own at the start view, not turned as the first left it.
    ASSERT_TRUE(runner->IsPresenting());
    EXPECT_TRUE(control->Update(vis));
    EXPECT_NE(vis.GetMessage().find("Select it"), std::string::npos) << vis.GetMessage();
    const osg::Vec3d unturned = vis.GetScene()->GetDataTransform()->getMatrix().getRotate() * osg::Vec3d(1, 0, 0);
    EXPECT_NEAR(unturned.x(), 1.0, 1e-9);
    EXPECT_EQ(colours[300], ParticleScene::TargetColour);
    EXPECT_DOUBLE_EQ(vis.GetThresholdSlider()->getValue(), 1.0);
    control->PressButton(vis);
    control->PressButton(vis);

    // The end: message, no button, no lassos.
    ASSERT_TRUE(runner->IsFinished());
    EXPECT_TRUE(control->Update(vis));
    EXPECT_EQ(vis.GetMessage(), StudyTrialControl::EndMessage);
    EXPECT_FALSE(control->ButtonVisible());
    EXPECT_FALSE(control->SelectionAllowed());

    const auto rows = CsvFormat::Parse(ReadFile(runner->TrialsPath()));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][5], "cylinder");
    EXPECT_EQ(rows[1][11], "1");   // undos: only the one after the start
    EXPECT_EQ(rows[1][13], "1");   // clears
    EXPECT_EQ(rows[1][14], "1");   // threshold changes
    EXPECT_EQ(rows[1][15], "2");   // final threshold
    const auto column = [&](const std::string& name) {
        return static_cast<size_t>(std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin());
    };
    EXPECT_EQ(rows[1].at(column("rotations")), "1");
    EXPECT_EQ(rows[1].at(column("input")), "touch+mouse");
    EXPECT_EQ(rows[1].at(column("touch_only")), "0");
    EXPECT_EQ(rows[2].at(column("rotations")), "0");
    // The events log has the same commands in order, the threshold change
    // written when the trial ended, each with the count it left.
    const auto events = CsvFormat::Parse(ReadFile(runner->EventsPath()));
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0], EventsLog::Columns());
    EXPECT_EQ(events[1][5], "undo");
    EXPECT_EQ(events[2][5], "clear");
    EXPECT_EQ(events[3][5], "threshold");
    EXPECT_EQ(events[3][6], "2");
    EXPECT_EQ(events[4][5], "rotate");
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(events[i][1], "1");  // trial
        EXPECT_EQ(events[i][2], "0");  // after no lasso
        EXPECT_EQ(events[i][7], "0");  // nothing selected
    }
    EXPECT_EQ(rows[2][5], "density");
    // The study is over: the framework's technique is free again.
    StudyRunner::Destroy();
    EXPECT_FALSE(FerrowManager::Instance()->IsTrialLocked());
}

TEST(StudyTrialControl, AStudyMayKeepTheTargetAndInstructionDuringTheTrialAndNameTheTechnique)
{
    QTemporaryDir dir;
    const std::string trial = "<trial name=\"one\" dataset=\"b\" targetLabel=\"2\" technique=\"cylinder\" "
                              "instruction=\"Select the ring\"/>\n";
    for (bool keep : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(BeginBlobStudy(
            dir, trial, keep ? " targetDuringTrial=\"yes\" instructionDuringTrial=\"1\" nameTechnique=\"true\"" : ""));
        StudyTrialControl control(StudyRunner::Instance());
        StandInView view;
        view.mask.assign(600, false);
        ASSERT_TRUE(control.Update(view));
        EXPECT_EQ(view.message.find("cylinder lasso") != std::string::npos, keep) << view.message;
        control.PressButton(view);
        ASSERT_TRUE(control.Update(view));
        // Blind by default: target and instruction go once the trial runs.
        EXPECT_EQ(control.Highlight() != nullptr, keep);
        EXPECT_EQ(view.message.find("Select the ring") != std::string::npos, keep) << view.message;
        EXPECT_EQ(view.colouredFlags == -1 || view.colouredTarget, keep) << "the selection's colours replace the target";
    }
}

// A full disk while the study runs: the participant is told, the study
// pauses before the next trial, a retry writes each waiting row once, and
// rows still waiting at the end are saved beside the results.
TEST(StudyTrialControl, RowsThatCannotBeWrittenPauseTheStudyUntilARetrySavesThem)
{
    struct ClearFaults {
        ~ClearFaults() { WriteFaults::Clear(); }
    } clear;
    QTemporaryDir dir;
    ASSERT_NO_FATAL_FAILURE(BeginBlobStudy(dir, "<trial name=\"one\" dataset=\"b\" targetLabel=\"2\" technique=\"density\"/>\n"
                                                "<trial name=\"two\" dataset=\"b\" targetLabel=\"1\" technique=\"density\"/>\n"));
    StudyRunner* runner = StudyRunner::Instance();
    StudyTrialControl control(runner);
    StandInView view;
    view.mask.assign(600, false);
    control.Update(view);
    control.PressButton(view);
    control.Update(view);
    control.LassoBuilt(view);
    control.Undone(view);
    const std::string trialsPath = runner->TrialsPath(), lassosPath = runner->LassosPath();
    const std::string eventsPath = runner->EventsPath();
    const std::string lassosBefore = ReadFile(lassosPath), eventsBefore = ReadFile(eventsPath);
    const std::string trialsBefore = ReadFile(trialsPath);

    // The disk fills up in the middle of the trial row.
    WriteFaults::FailAfter(0, 9);
    control.PressButton(view);
    EXPECT_FALSE(runner->LastWriteError().empty());
    ASSERT_TRUE(runner->IsPresenting());
    EXPECT_TRUE(control.Update(view));
    EXPECT_NE(view.message.find("The results cannot be saved"), std::string::npos) << view.message;
    EXPECT_NE(view.message.find("No space left"), std::string::npos) << view.message;
    EXPECT_FALSE(control.Update(view));
    EXPECT_NE(view.message.find("cannot be saved"), std::string::npos) << "a frame later";
    // Paused: Start retries, but the disk is still full.
    EXPECT_TRUE(control.ButtonStarts());
    control.PressButton(view);
    control.PressButton(view);
    EXPECT_FALSE(runner->StartTrial(StudyRunner::Now()));
    EXPECT_FALSE(runner->IsRunning());
    EXPECT_EQ(ReadFile(trialsPath), trialsBefore);
    EXPECT_EQ(ReadFile(lassosPath), lassosBefore);

    // Space again: one press writes the row once; the trial is shown again.
    WriteFaults::Clear();
    control.PressButton(view);
    EXPECT_FALSE(runner->IsRunning());
    EXPECT_TRUE(control.Update(view));
    EXPECT_NE(view.message.find("Trial 2 of 2"), std::string::npos) << view.message;
    auto rows = CsvFormat::Parse(ReadFile(trialsPath));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], "1");
    EXPECT_EQ(ReadFile(trialsPath).substr(0, trialsBefore.size()), trialsBefore);

    // A lasso row lost during the last trial: the end waits for a retry too,
    // and at the end of the session the waiting rows are saved beside.
    control.PressButton(view);
    ASSERT_TRUE(runner->IsRunning());
    control.Update(view);
    WriteFaults::FailAfter(0, 0);
    control.LassoBuilt(view);
    EXPECT_TRUE(control.Update(view));
    EXPECT_NE(view.message.find("cannot be saved"), std::string::npos) << view.message;
    control.Undone(view);
    control.PressButton(view);  // done: the participant may finish the trial
    ASSERT_TRUE(runner->IsFinished());
    control.Update(view);
    EXPECT_NE(view.message.find("cannot be saved"), std::string::npos) << view.message;
    EXPECT_TRUE(control.ButtonVisible());
    EXPECT_EQ(ReadFile(lassosPath), lassosBefore);
    EXPECT_EQ(ReadFile(eventsPath), eventsBefore);
    WriteFaults::Clear();
    testing::internal::CaptureStderr();
    StudyRunner::Destroy();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(trialsPath).substr(0, trialsBefore.size()), trialsBefore);
    EXPECT_EQ(CsvFormat::Parse(ReadFile(trialsPath)).size(), 2u);
    const std::string aside = dir.filePath("P1_trials_unsaved.csv").toStdString();
    EXPECT_NE(said.find("saved in " + aside), std::string::npos) << said;
    rows = CsvFormat::Parse(ReadFile(aside));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], "2");
    EXPECT_EQ(CsvFormat::Parse(ReadFile(dir.filePath("P1_lassos_unsaved.csv").toStdString())).size(), 2u);
    EXPECT_EQ(CsvFormat::Parse(ReadFile(dir.filePath("P1_events_unsaved.csv").toStdString())).size(), 2u);
    FerrowManager::Destroy();
}
