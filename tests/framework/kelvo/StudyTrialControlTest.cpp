#include "framework/kelvo/StudyTrialControl.h"

#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
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

}  // namespace

TEST(StudyTrialControl, TakesTheParticipantThroughTheTrials)
{
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
    StudyRunner::Destroy();
    AddDataset("blobs");
    QTemporaryDir dir;
    const std::string study = dir.filePath("study.xml").toStdString();
    std::ofstream(study) << "<study>\n<dataset id=\"b\" builtin=\"blobs\"/>\n"
                            "<trial name=\"one\" dataset=\"b\" targetLabel=\"1\" technique=\"cylinder\" threshold=\"1.5\">\n"
                            "<view azimuth=\"90\"/>\n</trial>\n"
                            "<trial name=\"two\" dataset=\"b\" targetLabel=\"2\" technique=\"density\" instruction=\"Select it\"/>\n"
                            "</study>\n";
    StudyRunner* runner = StudyRunner::Instance();
    ASSERT_TRUE(runner->Load(study).empty());
    ASSERT_EQ(runner->Begin(1, 0), "");

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
    control->Undone();  // not counted before the start

    // Started: the participant's selection colours, the trial's technique.
    control->PressButton(vis);
    ASSERT_TRUE(runner->IsRunning());
    EXPECT_TRUE(control->Update(vis));
    EXPECT_EQ(colours[0], ParticleScene::UnselectedColour);
    EXPECT_EQ(vis.GetMessage(), "");
    EXPECT_TRUE(control->SelectionAllowed());
    EXPECT_FALSE(control->ButtonStarts());
    EXPECT_TRUE(FerrowManager::Instance()->IsCylinderSelection());
    control->Undone();
    control->Cleared();
    control->ThresholdChanged(2.0f);
    control->PressButton(vis);

    // The second trial is presented with its own instruction.
    ASSERT_TRUE(runner->IsPresenting());
    EXPECT_TRUE(control->Update(vis));
    EXPECT_NE(vis.GetMessage().find("Select it"), std::string::npos) << vis.GetMessage();
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
    EXPECT_EQ(rows[2][5], "density");
    // The study is over: the framework's technique is free again.
    StudyRunner::Destroy();
    EXPECT_FALSE(FerrowManager::Instance()->IsTrialLocked());
}
