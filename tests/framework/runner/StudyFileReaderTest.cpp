#include "framework/runner/StudyFileReader.h"

#include "tests/framework/runner/StudyTestFiles.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> ReadText(StudyTestFolder& folder, const std::string& text, StudyDefinition& study)
{
    return StudyFileReader::Read(folder.Write("study.xml", text), study);
}

// True when exactly one problem was found and it names the study file, the
// line and contains `what`.
::testing::AssertionResult OneProblem(const std::vector<std::string>& problems, const std::string& file, int line,
                                      const std::string& what)
{
    if (problems.size() != 1) {
        std::string all;
        for (const std::string& p : problems) all += "\n  " + p;
        return ::testing::AssertionFailure() << problems.size() << " problems:" << all;
    }
    const std::string prefix = file + ":" + std::to_string(line) + ": ";
    if (problems[0].rfind(prefix, 0) != 0 || problems[0].find(what) == std::string::npos)
        return ::testing::AssertionFailure() << "got \"" << problems[0] << "\", expected \"" << prefix << "..."
                                             << what << "...\"";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(StudyFileReader, ReadsDatasetsBlocksTrialsAndViews)
{
    StudyTestFolder folder;
    StudyDefinition study;
    const std::vector<std::string> problems = ReadText(folder, R"(<?xml version="1.0"?>
<!-- two datasets, one counterbalanced block, one fixed trial -->
<study name="Lasso comparison">
  <dataset id="c" builtin="clusters"/>
  <dataset id="scan" file="data/../scan.txt"/>
  <block technique="counterbalanced" order="random">
    <trial name="warm-up" dataset="c" targetLabel="2" practice="true">
      <view azimuth="90" elevation="90" zoom="1.5"/>
    </trial>
    <trial dataset="scan" targetFile="targets/a.txt" threshold="1.25" instruction="Select the arm, then press Done"/>
  </block>
  <trial dataset="c" targetLabel="1" technique="cylinder">
    <view rotation="0 0 2 0"/>
  </trial>
  <trial dataset="c" targetLabel="3" technique="counterbalanced"/>
</study>
)", study);
    ASSERT_TRUE(problems.empty()) << problems[0];
    EXPECT_EQ(study.name, "Lasso comparison");
    EXPECT_EQ(study.resultsDir, folder.Path("results"));
    ASSERT_EQ(study.datasets.size(), 2u);
    EXPECT_EQ(study.datasets[0].builtIn, "clusters");
    EXPECT_EQ(study.datasets[1].file, folder.Path("scan.txt"));
    EXPECT_EQ(study.datasets[1].line, 5);

    ASSERT_EQ(study.trials.size(), 4u);
    const StudyTrialEntry& a = study.trials[0];
    EXPECT_EQ(a.name, "warm-up");
    EXPECT_TRUE(a.practice);
    EXPECT_EQ(a.targetLabel, 2);
    EXPECT_EQ(a.technique, TechniqueChoice::Counterbalanced);
    EXPECT_EQ(a.group, 0);
    EXPECT_EQ(a.block, 0);
    EXPECT_TRUE(a.shuffle);
    EXPECT_TRUE(a.view.given);
    EXPECT_DOUBLE_EQ(a.view.zoom, 1.5);
    // Azimuth first (x -> -z about the vertical axis), then elevation (-z -> +y).
    const osg::Vec3d x = a.view.rotation * osg::Vec3d(1, 0, 0);
    EXPECT_NEAR(x.x(), 0.0, 1e-12);
    EXPECT_NEAR(x.y(), 1.0, 1e-12);
    EXPECT_NEAR(x.z(), 0.0, 1e-12);

    const StudyTrialEntry& b = study.trials[1];
    EXPECT_EQ(b.name, "line 10");
    EXPECT_FALSE(b.practice);
    EXPECT_EQ(b.targetLabel, -1);
    EXPECT_EQ(b.targetFile, folder.Path("targets/a.txt"));
    EXPECT_FLOAT_EQ(b.startThreshold, 1.25f);
    EXPECT_EQ(b.instruction, "Select the arm, then press Done");
    EXPECT_EQ(b.group, 0);
    EXPECT_FALSE(b.view.given);

    const StudyTrialEntry& c = study.trials[2];
    EXPECT_EQ(c.technique, TechniqueChoice::Cylinder);
    EXPECT_EQ(c.group, -1);
    EXPECT_EQ(c.block, -1);
    EXPECT_FALSE(c.shuffle);
    // The quaternion is normalised: a half turn about z.
    EXPECT_NEAR(c.view.rotation.z(), 1.0, 1e-12);
    const StudyTrialEntry& d = study.trials[3];
    EXPECT_EQ(d.group, 1);
    EXPECT_EQ(study.groupCount, 2);
}

TEST(StudyFileReader, EachProblemNamesFileAndLine)
{
    StudyTestFolder folder;
    const std::string file = folder.Path("study.xml");
    StudyDefinition study;
    const std::string head = "<study>\n<dataset id=\"c\" builtin=\"clusters\"/>\n";  // lines 1-2

    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\">\n"
                                                   "</study>\n", study),
                           file, 4, "malformed XML"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trail dataset=\"c\"/>\n</study>\n", study), file, 3,
                           "unknown element <trail>"));
    EXPECT_TRUE(OneProblem(
        ReadText(folder, head + "<trial dataset=\"c\" targetlabel=\"1\" targetLabel=\"1\" technique=\"density\"/>\n"
                                "</study>\n", study),
        file, 3, "unknown attribute \"targetlabel\""));
    EXPECT_TRUE(OneProblem(
        ReadText(folder, head + "\n<trial dataset=\"c\" targetLabel=\"1\" technique=\"lasso\"/>\n</study>\n", study),
        file, 4, "technique \"lasso\""));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trial dataset=\"c\" technique=\"density\"/>\n</study>\n", study),
                           file, 3, "exactly one of \"targetLabel\" and \"targetFile\""));
    EXPECT_TRUE(OneProblem(
        ReadText(folder, head + "<trial dataset=\"c\" targetLabel=\"0\" technique=\"density\"/>\n</study>\n", study),
        file, 3, "0 marks noise"));
    EXPECT_TRUE(OneProblem(
        ReadText(folder, head + "<trial dataset=\"d\" targetLabel=\"1\" technique=\"density\"/>\n</study>\n", study),
        file, 3, "names dataset \"d\", which no <dataset> declares"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trial dataset=\"c\" targetLabel=\"1\"/>\n</study>\n", study),
                           file, 3, "needs a \"technique\""));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<block technique=\"counterbalanced\">\n"
                                                   "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\"/>\n"
                                                   "</block>\n</study>\n", study),
                           file, 4, "differs from its block's"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<block technique=\"density\" order=\"shuffled\">\n"
                                                   "<trial dataset=\"c\" targetLabel=\"1\"/>\n</block>\n</study>\n", study),
                           file, 3, "order \"shuffled\" of <block> is neither fixed nor random"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<block technique=\"density\">\n</block>\n</study>\n", study),
                           file, 3, "<block> holds no trials"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\">\n"
                                                   "<view zoom=\"0\"/>\n</trial>\n</study>\n", study),
                           file, 4, "zoom must be greater than 0"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\">\n"
                                                   "<view rotation=\"0 0 1\"/>\n</trial>\n</study>\n", study),
                           file, 4, "not four numbers"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "<dataset id=\"c\" file=\"x.txt\"/>\n"
                                                   "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\"/>\n"
                                                   "</study>\n", study),
                           file, 3, "already used on line 2"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "</study>\n", study), file, 1, "the study has no trials"));
    EXPECT_TRUE(OneProblem(ReadText(folder, "<experiment/>\n", study), file, 1, "expected <study>"));

    // Several independent problems are all reported, in file order.
    const std::vector<std::string> several = ReadText(
        folder, head + "<trial dataset=\"c\" targetLabel=\"x\" technique=\"density\"/>\n"
                       "<trial dataset=\"c\" targetLabel=\"1\" technique=\"density\" threshold=\"-1\"/>\n</study>\n",
        study);
    ASSERT_EQ(several.size(), 2u);
    EXPECT_EQ(several[0].rfind(file + ":3: ", 0), 0u) << several[0];
    EXPECT_EQ(several[1].rfind(file + ":4: ", 0), 0u) << several[1];

    const std::vector<std::string> missing = StudyFileReader::Read(folder.Path("none.xml"), study);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].rfind(folder.Path("none.xml") + ": cannot open", 0), 0u) << missing[0];
}
