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

TEST(StudyFileReader, QuestionnairesBreaksAndTheFormAreReadAndChecked)
{
    StudyTestFolder folder;
    const std::string file = folder.Path("study.xml");
    StudyDefinition study;
    // Lines 1-4: a study of one counterbalanced block and one trial after it.
    const std::string head = "<study>\n<dataset id=\"c\" builtin=\"clusters\"/>\n"
                             "<block technique=\"counterbalanced\">\n<trial dataset=\"c\" targetLabel=\"1\"/>\n";
    const std::string tail = "<trial dataset=\"c\" targetLabel=\"2\" technique=\"density\"/>\n";

    ASSERT_TRUE(ReadText(folder, "<study>\n<form>\n<field id=\"age\"/>\n<field id=\"hand\" label=\"Hand\" "
                                 "choices=\"right | left\" required=\"no\"/>\n</form>\n" + head.substr(8) +
                                 "<questionnaire type=\"tlx\" weighted=\"true\"/>\n"
                                 "<questionnaire type=\"sus\" after=\"block\" skippable=\"true\"/>\n"
                                 "<questionnaire type=\"ranking\" after=\"block\"/>\n</block>\n"
                                 "<break seconds=\"30\" text=\"Rest.\"/>\n" + tail +
                                 "<questionnaire type=\"likert\" id=\"comfort\" points=\"7\" low=\"no\" high=\"yes\">\n"
                                 "<item id=\"q1\" text=\"Comfortable?\"/>\n</questionnaire>\n</study>\n",
                         study)
                    .empty());
    ASSERT_EQ(study.form.size(), 2u);
    EXPECT_EQ(study.form[0].kind, FormField::Number);
    EXPECT_EQ(study.form[0].minimum, 16);
    EXPECT_EQ(study.form[1].choices, (std::vector<std::string>{"right", "left"}));
    EXPECT_FALSE(study.form[1].required);
    ASSERT_EQ(study.questionnaires.size(), 4u);
    EXPECT_EQ(study.questionnaires[0].placement, StudyQuestionnaireEntry::AfterTechnique);
    EXPECT_EQ(study.questionnaires[0].questionnaire.items.size(), 21u) << "six scales and fifteen pairs";
    EXPECT_TRUE(study.questionnaires[1].questionnaire.skippable);
    EXPECT_FALSE(study.questionnaires[0].questionnaire.skippable);
    EXPECT_EQ(study.questionnaires[2].questionnaire.items[0].choices, (std::vector<std::string>{"density", "cylinder"}));
    const StudyQuestionnaireEntry& likert = study.questionnaires[3];
    EXPECT_EQ(likert.placement, StudyQuestionnaireEntry::AtEnd);
    EXPECT_EQ(likert.block, -1);
    EXPECT_EQ(likert.questionnaire.items[0].maximum, 7);
    EXPECT_EQ(likert.questionnaire.items[0].highAnchor, "yes");
    ASSERT_EQ(study.breaks.size(), 1u);
    EXPECT_EQ(study.breaks[0].afterTrials, 1u);
    EXPECT_EQ(study.breaks[0].seconds, 30.0);

    // Inside the block (line 5 on), then after it.
    const std::string end = "</block>\n" + tail + "</study>\n";
    auto inBlock = [&](const std::string& lines) { return ReadText(folder, head + lines + end, study); };
    // Lines 1-6 are the whole study; what is added starts on line 7.
    auto atEnd = [&](const std::string& lines) {
        return ReadText(folder, head + "</block>\n" + tail + lines + "</study>\n", study);
    };
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"nasa\"/>\n"), file, 5,
                           "needs a type: tlx, sus, likert or ranking (not \"nasa\")"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"sus\" after=\"each\"/>\n"), file, 5,
                           "after \"each\" of <questionnaire> is neither technique nor block"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"ranking\"/>\n"), file, 5, "it needs after=\"block\""));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"sus\" weighted=\"true\"/>\n"), file, 5,
                           "\"weighted\" is for type=\"tlx\" only"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"tlx\"/>\n<questionnaire type=\"tlx\" after=\"block\"/>\n"),
                           file, 6, "\"tlx\" is already asked in this block (line 5)"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"likert\" id=\"x\" points=\"12\">\n"
                                   "<item id=\"a\" text=\"?\"/>\n</questionnaire>\n"),
                           file, 5, "points \"12\""));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"likert\" id=\"x\">\n<item id=\"a b\" text=\"?\"/>\n"
                                   "<item id=\"c\" text=\"?\"/>\n</questionnaire>\n"),
                           file, 6, "an \"id\" of letters, digits and _ (not \"a b\")"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"likert\" id=\"sus\">\n<item id=\"a\" text=\"?\"/>\n"
                                   "</questionnaire>\n"),
                           file, 5, "other than tlx, sus and ranking"));
    EXPECT_TRUE(OneProblem(inBlock("<questionnaire type=\"likert\" id=\"x\"/>\n"), file, 5, "needs one or more <item"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "</block>\n<questionnaire type=\"sus\"/>\n" + tail + "</study>\n",
                                    study),
                           file, 6, "is asked at the end; move it after the last trial"));
    EXPECT_TRUE(OneProblem(atEnd("<questionnaire type=\"sus\" after=\"block\"/>\n"), file, 7,
                           "one directly inside <study> comes at the end"));
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "</block>\n<break/>\n" + tail + "</study>\n", study), file, 6,
                           "<break> needs \"seconds\""));
    EXPECT_TRUE(OneProblem(atEnd("<break seconds=\"5\"/>\n"), file, 7,
                           "a <break> after the last trial has nothing to go on to"));
    EXPECT_TRUE(OneProblem(ReadText(folder, "<study>\n<break seconds=\"5\"/>\n" + head.substr(8) + end, study), file, 2,
                           "before the first trial"));
    EXPECT_TRUE(inBlock("<break seconds=\"5\"/>\n").empty()) << "between the runs of a counterbalanced block";
    EXPECT_TRUE(OneProblem(ReadText(folder, head + "</block>\n<block technique=\"density\">\n"
                                                "<trial dataset=\"c\" targetLabel=\"2\"/>\n<break seconds=\"5\"/>\n"
                                                "</block>\n</study>\n", study),
                           file, 8, "a <break> inside a block of one technique"));
    EXPECT_TRUE(OneProblem(atEnd("<form>\n<field id=\"job\"/>\n</form>\n"), file, 8,
                           "<field id=\"job\"> needs choices=\"a|b|...\" or min and max"));
    EXPECT_TRUE(OneProblem(atEnd("<form>\n<field id=\"n\" min=\"9\" max=\"1\"/>\n</form>\n"), file, 8,
                           "min of <field> is above its max"));
    EXPECT_TRUE(OneProblem(atEnd("<form>\n<field id=\"pilot\" choices=\"a|b\"/>\n</form>\n"), file, 8,
                           "is a column the participant file has anyway"));
    EXPECT_TRUE(OneProblem(atEnd("<form>\n<field id=\"age\"/>\n<field id=\"age\"/>\n</form>\n"), file, 9,
                           "field id \"age\" is already used on line 8"));
    // All of them at once, in file order.
    EXPECT_EQ(inBlock("<questionnaire type=\"nasa\"/>\n<questionnaire type=\"sus\" after=\"each\"/>\n").size(), 2u);
}
