#include "framework/runner/StudyRunner.h"

#include "framework/runner/CsvFormat.h"
#include "framework/runner/LatinSquare.h"
#include "geometry/TechniqueRegistry.h"
#include "tests/framework/runner/StudyTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* kStudy = R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <dataset id="f" builtin="filaments"/>
  <trial name="practice" dataset="c" targetLabel="1" technique="density" practice="true"/>
  <block technique="counterbalanced">
    <trial name="a" dataset="c" targetLabel="2" threshold="0.5"/>
    <trial name="b" dataset="f" targetFile="t.txt"/>
  </block>
  <trial name="last" dataset="f" targetLabel="1" technique="cylinder"/>
</study>
)";

struct LoadedStudy {
    StudyTestFolder folder;
    StudyRunner runner;
    std::string path;
    LoadedStudy(const char* text = kStudy)
    {
        ResetFrameworkWithDatasets({"clusters", "filaments"});
        folder.Write("t.txt", "# target of trial b\n0, 1\n9\n");
        path = folder.Write("study.xml", text);
    }
};

std::vector<bool> Flags(const char* bits)
{
    std::vector<bool> v;
    for (const char* c = bits; *c; ++c) v.push_back(*c == '1');
    return v;
}

std::vector<std::vector<std::string>> Rows(const std::string& path)
{
    return CsvFormat::Parse(StudyTestFolder::Read(path));
}

std::string Column(const std::vector<std::vector<std::string>>& rows, size_t row, const std::string& name)
{
    for (size_t c = 0; c < rows[0].size(); ++c)
        if (rows[0][c] == name) return rows.at(row).at(c);
    return "<no column " + name + ">";
}

}  // namespace

TEST(StudyRunner, CounterbalancedBlocksFollowTheParticipantsOrder)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    auto names = [&](int participant) {
        EXPECT_EQ(s.runner.Begin(participant, 0), "");
        std::string text;
        for (const StudyTrial& t : s.runner.Sequence())
            text += t.name + ":" + t.techniqueName + ":" + std::to_string(t.datasetNr) + " ";
        while (!s.runner.IsFinished()) {
            s.runner.StartTrial(0.0);
            s.runner.FinishTrial({}, 1.0);
        }
        return text;
    };
    EXPECT_EQ(names(1), "practice:density:0 a:density:0 b:density:1 a:cylinder:0 b:cylinder:1 last:cylinder:1 ");
    EXPECT_EQ(names(2), "practice:density:0 a:cylinder:0 b:cylinder:1 a:density:0 b:density:1 last:cylinder:1 ");
    EXPECT_EQ(names(3), names(1));
    const std::vector<StudyTrial>& seq = s.runner.Sequence();
    EXPECT_EQ(seq[1].number, 2);
    EXPECT_TRUE(seq[0].practice);
    EXPECT_FLOAT_EQ(seq[1].startThreshold, 0.5f);
    EXPECT_EQ(seq[1].targetSize, 2);
    EXPECT_EQ(seq[2].targetSize, 3);
}

namespace {

// A third lasso technique; the runner only names it.
class NamedOnlyTechnique : public Technique {
public:
    std::string Name() const override { return "third"; }
    std::string Description() const override { return "a technique the runner only names"; }
    Takes Input() const override { return Takes::Lasso; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs&) const override { return nullptr; }
};

}  // namespace

TEST(StudyRunner, ABlockOfThreeTechniquesRunsInTheLatinSquaresOrders)
{
    if (!TechniqueRegistry::Instance().Find("third"))
        TechniqueRegistry::Instance().Add(std::make_unique<NamedOnlyTechnique>());
    LoadedStudy s(R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <block techniques="density cylinder third">
    <trial name="p" dataset="c" targetLabel="1" practice="true"/>
    <trial name="a" dataset="c" targetLabel="2"/>
  </block>
  <trial name="alone" dataset="c" targetLabel="1" technique="third"/>
</study>
)");
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    const std::string listed[] = {"density", "cylinder", "third"};
    // Two balanced blocks of the odd count's six orders, then one row more.
    for (int participant = 1; participant <= 2 * LatinSquare::RowCount(3) + 1; ++participant) {
        ASSERT_EQ(s.runner.Begin(participant, 0), "");
        std::string expected, got;
        for (int position : LatinSquare::Order(3, participant))
            expected += "p:" + listed[position] + ":1 a:" + listed[position] + ":0 ";
        expected += "alone:third:0 ";
        for (const StudyTrial& t : s.runner.Sequence()) {
            got += t.name + ":" + t.techniqueName + ":" + (t.practice ? "1 " : "0 ");
            EXPECT_EQ(t.technique, t.techniqueName == "density"    ? FerrowManager::PravikTechnique
                                   : t.techniqueName == "cylinder" ? FerrowManager::CylinderTechnique
                                                                   : FerrowManager::OtherTechnique);
        }
        EXPECT_EQ(got, expected) << "participant " << participant;
        // A running trial hands the study framework its technique by name.
        ASSERT_TRUE(s.runner.StartTrial(0.0));
        EXPECT_EQ(FerrowManager::Instance()->GetTechniqueName(), s.runner.Sequence()[0].techniqueName);
        s.runner.FinishTrial({}, 1.0);
        while (!s.runner.IsFinished()) {
            s.runner.StartTrial(0.0);
            s.runner.FinishTrial({}, 1.0);
        }
    }

    // Names the registry does not know, and lists that counterbalance nothing.
    LoadedStudy bad(R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <block techniques="density nothing"><trial dataset="c" targetLabel="1"/></block>
  <block techniques="cylinder"><trial dataset="c" targetLabel="1"/></block>
  <trial dataset="c" targetLabel="1" technique="nothing"/>
</study>
)");
    const std::vector<std::string> problems = bad.runner.Load(bad.path);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("technique \"nothing\" in \"techniques\" on <block> is not registered"), std::string::npos)
        << problems[0];
    EXPECT_NE(problems[1].find("needs two or more techniques"), std::string::npos) << problems[1];
    EXPECT_NE(problems[2].find("technique \"nothing\" on <trial> is not one of density, cylinder, structure, point"), std::string::npos)
        << problems[2];
}

TEST(StudyRunner, FrameworkAnswersFollowTheTrialState)
{
    LoadedStudy s;
    FerrowManager* fm = FerrowManager::Instance();
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    ASSERT_EQ(s.runner.Begin(2, 1), "");

    // Presenting the practice trial: its dataset, no technique, target shown.
    ASSERT_TRUE(s.runner.IsPresenting());
    EXPECT_EQ(s.runner.CurrentTrial()->name, "practice");
    EXPECT_EQ(fm->GetCurrentDatasetNr(), 0);
    EXPECT_FALSE(fm->IsPravikSelection());
    EXPECT_FALSE(fm->IsCylinderSelection());
    EXPECT_EQ(s.runner.TargetMask(), Flags("0011100000"));
    EXPECT_FALSE(s.runner.OnLasso(LassoRecord()));
    EXPECT_FALSE(s.runner.OnUndo());
    EXPECT_FALSE(s.runner.FinishTrial({}, 0.0));

    ASSERT_TRUE(s.runner.StartTrial(10.0));
    EXPECT_FALSE(s.runner.StartTrial(11.0));
    EXPECT_TRUE(fm->IsPravikSelection());
    EXPECT_FALSE(fm->IsCylinderSelection());
    // The other key family and dataset switches cannot change a running trial.
    fm->SetTechnique(FerrowManager::CylinderTechnique);
    fm->SetCurrentDatasetNr(1);
    EXPECT_TRUE(fm->IsPravikSelection());
    EXPECT_EQ(fm->GetCurrentDatasetNr(), 0);
    ASSERT_TRUE(s.runner.FinishTrial(Flags("0011100000"), 12.5));

    // Participant 2 starts the block with the cylinder.
    EXPECT_EQ(s.runner.CurrentTrial()->name, "a");
    EXPECT_EQ(s.runner.TargetMask(), Flags("0000011000"));
    s.runner.StartTrial(20.0);
    EXPECT_FALSE(fm->IsPravikSelection());
    EXPECT_TRUE(fm->IsCylinderSelection());
    s.runner.FinishTrial({}, 21.0);
    EXPECT_EQ(fm->GetCurrentDatasetNr(), 1);  // trial b presented

    while (!s.runner.IsFinished()) {
        s.runner.StartTrial(0.0);
        s.runner.FinishTrial({}, 1.0);
    }
    EXPECT_EQ(s.runner.CurrentTrial(), nullptr);
    EXPECT_TRUE(s.runner.TargetMask().empty());
    EXPECT_FALSE(fm->IsPravikSelection());
    EXPECT_FALSE(fm->IsCylinderSelection());
    EXPECT_FALSE(s.runner.StartTrial(0.0));
    {
        // A runner that goes away gives the framework back.
        StudyRunner other;
        ASSERT_TRUE(other.Load(s.path).empty());
        ASSERT_EQ(other.Begin(9, 0), "");
        EXPECT_TRUE(fm->IsTrialLocked());
    }
    EXPECT_FALSE(fm->IsTrialLocked());
}

TEST(StudyRunner, CountsScoresAndLogsEveryTrialAndLasso)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    ASSERT_EQ(s.runner.Begin(7, 1), "");
    EXPECT_EQ(s.runner.TrialsPath(), s.folder.Path("out/P7_trials.csv"));
    EXPECT_EQ(s.runner.LassosPath(), s.folder.Path("out/P7_lassos.csv"));

    s.runner.StartTrial(100.0);
    LassoRecord lasso;
    lasso.time = 101.5;
    lasso.mode = LassoRecord::Plus;
    lasso.threshold = 1.0f;
    lasso.viewportWidth = 800;
    lasso.viewportHeight = 600;
    lasso.viewportX = 240;
    lasso.viewportY = 0;
    lasso.model = osg::Matrixd::translate(0.1, 2.0, -3.0);
    lasso.view = osg::Matrixd::lookAt(osg::Vec3d(0, 0, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    lasso.projection = osg::Matrixd::perspective(30.0, 800.0 / 600.0, 1.0, 100.0);
    lasso.points = {osg::Vec2f(10.5f, 20.25f), osg::Vec2f(0.1f, 300.0f), osg::Vec2f(400.0f, 1e-3f)};
    lasso.selectedAfter = 4;
    EXPECT_TRUE(s.runner.OnLasso(lasso));
    lasso.mode = LassoRecord::Minus;
    lasso.time = 102.0;
    s.runner.OnLasso(lasso);
    lasso.mode = LassoRecord::Intersection;
    s.runner.OnLasso(lasso);
    s.runner.OnLasso(lasso);
    s.runner.OnUndo();
    s.runner.OnUndo();
    s.runner.OnRedo();
    s.runner.OnClear();
    s.runner.OnThresholdChange(1.0f, 103.0);  // unchanged: not a change
    // One slider drag: many updates close together count once.
    for (int i = 1; i <= 20; ++i) s.runner.OnThresholdChange(1.0f + 0.025f * i, 104.0 + 0.05 * i);
    s.runner.OnThresholdChange(1.5f, 105.2);  // same value again
    s.runner.OnThresholdChange(0.75f, 107.0);  // a second drag, later
    // Target particles 2-4; selected 1-4: TP 3, P 3/4, R 1.
    ASSERT_TRUE(s.runner.FinishTrial(Flags("0111100000"), 112.25));
    ASSERT_NE(s.runner.LastTrialRow(), nullptr);
    EXPECT_DOUBLE_EQ(s.runner.LastTrialRow()->f1, 2 * 0.75 / 1.75);

    // The next trial counts from zero and starts at its own threshold.
    s.runner.StartTrial(200.0);
    s.runner.OnThresholdChange(0.5f, 201.0);  // trial a starts at 0.5
    s.runner.OnThresholdChange(0.6f, 201.1);
    s.runner.OnUndo();  // ends the drag: the next update is a new change
    s.runner.OnThresholdChange(0.7f, 201.2);
    s.runner.FinishTrial(Flags("0000000000"), 203.0);

    const auto trials = Rows(s.runner.TrialsPath());
    ASSERT_EQ(trials.size(), 3u);
    EXPECT_EQ(CsvFormat::Record(trials[0]),
              "participant,condition,trial,practice,dataset,technique,target_size,completion_time_s,lassos_plus,"
              "lassos_minus,lassos_intersection,undos,redos,clears,threshold_changes,final_threshold,selected,"
              "true_positives,precision,recall,f1,trial_name,started_utc,rotations,input,touch_only,pilot");
    std::vector<std::string> first(trials[1].begin(), trials[1].begin() + 22);  // up to the wall-clock time
    EXPECT_EQ(CsvFormat::Record(first), "7,1,1,1,c,density,3,12.25,1,1,2,2,1,1,2,0.75,4,3,0.75,1,0.857142857,practice");
    EXPECT_EQ(CsvFormat::Record({trials[1].begin() + 23, trials[1].end()}), "0,,0,0");  // no pointer: driven directly
    EXPECT_EQ(Column(trials, 2, "threshold_changes"), "2");
    EXPECT_EQ(Column(trials, 2, "final_threshold"), "0.699999988");
    EXPECT_EQ(Column(trials, 2, "lassos_plus"), "0");
    EXPECT_EQ(Column(trials, 2, "precision"), "0");
    EXPECT_EQ(Column(trials, 2, "technique"), "density");  // participant 7: density first

    const auto lassos = Rows(s.runner.LassosPath());
    ASSERT_EQ(lassos.size(), 5u);
    EXPECT_EQ(CsvFormat::Record(lassos[0]),
              "participant,trial,lasso,time_s,dataset,mode,technique,threshold,viewport_width,viewport_height,"
              "model_matrix,view_matrix,projection_matrix,points,selected,viewport_x,viewport_y,pilot");
    EXPECT_EQ(Column(lassos, 1, "lasso"), "1");
    EXPECT_EQ(Column(lassos, 1, "time_s"), "1.5");
    EXPECT_EQ(Column(lassos, 1, "mode"), "plus");
    EXPECT_EQ(Column(lassos, 2, "mode"), "minus");
    EXPECT_EQ(Column(lassos, 4, "mode"), "intersection");
    EXPECT_EQ(Column(lassos, 4, "lasso"), "4");
    EXPECT_EQ(Column(lassos, 1, "technique"), "density");
    EXPECT_EQ(Column(lassos, 1, "dataset"), "c");
    EXPECT_EQ(Column(lassos, 1, "viewport_width"), "800");
    EXPECT_EQ(Column(lassos, 1, "selected"), "4");
    EXPECT_EQ(Column(lassos, 1, "viewport_x"), "240");
    EXPECT_EQ(Column(lassos, 1, "viewport_y"), "0");
    EXPECT_EQ(Column(lassos, 1, "model_matrix"), "1 0 0 0 0 1 0 0 0 0 1 0 0.10000000000000001 2 -3 1");
    EXPECT_EQ(Column(lassos, 1, "points"), "10.5 20.25;0.100000001 300;400 0.00100000005");
    // The matrices read back bit for bit.
    std::istringstream projection(Column(lassos, 1, "projection_matrix"));
    for (int i = 0; i < 16; ++i) {
        double v = 0.0;
        std::string word;
        projection >> word;
        ASSERT_TRUE(CsvFormat::ToNumber(word, v)) << word;
        EXPECT_EQ(v, lasso.projection.ptr()[i]) << i;
    }

    // The events log: each command, and each drag once with its last value,
    // in order and placed after the lassos before it.
    EXPECT_EQ(s.runner.EventsPath(), s.folder.Path("out/P7_events.csv"));
    const auto events = Rows(s.runner.EventsPath());
    std::string order;
    for (size_t r = 1; r < events.size(); ++r)
        order += Column(events, r, "trial") + ":" + Column(events, r, "after_lasso") + ":" +
                 Column(events, r, "command") + ":" + Column(events, r, "threshold") + " ";
    EXPECT_EQ(order, "1:4:undo:1 1:4:undo:1 1:4:redo:1 1:4:clear:1 1:4:threshold:1.5 1:4:threshold:0.75 "
                     "2:0:threshold:0.600000024 2:0:undo:0.600000024 2:0:threshold:0.699999988 ");
    EXPECT_EQ(Column(events, 5, "time_s"), "5");
}

TEST(StudyRunner, ResultsAreNeverOverwritten)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    ASSERT_EQ(s.runner.Begin(3, 0), "");
    const std::string first = s.runner.TrialsPath();
    s.runner.StartTrial(0.0);
    s.runner.FinishTrial({}, 1.0);
    while (!s.runner.IsFinished()) {
        s.runner.StartTrial(0.0);
        s.runner.FinishTrial({}, 1.0);
    }
    const std::string before = StudyTestFolder::Read(first);

    // The same participant again, and a stray lasso file for the third session.
    s.folder.Write("out/P3_lassos_3.csv", "keep me\n");
    ASSERT_EQ(s.runner.Begin(3, 0), "");
    EXPECT_EQ(s.runner.TrialsPath(), s.folder.Path("out/P3_trials_2.csv"));
    EXPECT_EQ(s.runner.LassosPath(), s.folder.Path("out/P3_lassos_2.csv"));
    ASSERT_EQ(s.runner.Begin(3, 0), "the study is already running");
    while (!s.runner.IsFinished()) {
        s.runner.StartTrial(0.0);
        s.runner.FinishTrial({}, 1.0);
    }
    ASSERT_EQ(s.runner.Begin(3, 0), "");
    EXPECT_EQ(s.runner.TrialsPath(), s.folder.Path("out/P3_trials_4.csv"));
    EXPECT_EQ(StudyTestFolder::Read(first), before);
    EXPECT_EQ(StudyTestFolder::Read(s.folder.Path("out/P3_lassos_3.csv")), "keep me\n");

    // A session that ends before its first trial leaves no files; one that
    // finished keeps them.
    {
        StudyRunner once;
        ASSERT_TRUE(once.Load(s.path).empty());
        ASSERT_EQ(once.Begin(8, 0), "");
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(once.TrialsPath())));
    }
    for (const char* name : {"out/P8_trials.csv", "out/P8_lassos.csv", "out/P8_events.csv"})
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(s.folder.Path(name)))) << name;
    EXPECT_EQ(StudyTestFolder::Read(first), before);

    // A results folder that cannot be created stops the session before it starts.
    StudyRunner other;
    ASSERT_TRUE(other.Load(s.path).empty());
    s.folder.Write("blocked", "a file where the folder should be");
    other.SetResultsFolder(s.folder.Path("blocked/out"));
    EXPECT_NE(other.Begin(4, 0).find("blocked/out"), std::string::npos);
    EXPECT_FALSE(other.IsPresenting());
}

TEST(StudyRunner, PilotSessionsKeepToThePilotFolderAndSaySo)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    ASSERT_EQ(s.runner.Begin(3, 0), "");
    s.runner.StartTrial(0.0);
    s.runner.FinishTrial({}, 1.0);  // a real session, cut off after trial 1
    const std::string real = StudyTestFolder::Read(s.folder.Path("out/P3_trials.csv"));

    // The pilot of the same participant neither resumes nor touches it.
    StudyRunner pilot;
    ASSERT_TRUE(pilot.Load(s.path).empty());
    pilot.SetPilot(true);
    EXPECT_EQ(pilot.ResultsFolder(), s.folder.Path("out/pilot"));
    ASSERT_EQ(pilot.Begin(3, 0), "");
    EXPECT_EQ(pilot.TrialsPath(), s.folder.Path("out/pilot/P3_trials.csv"));
    EXPECT_EQ(pilot.FinishedEarlier(), 0);
    pilot.StartTrial(0.0);
    LassoRecord lasso;
    lasso.points = {osg::Vec2f(1, 1), osg::Vec2f(5, 1), osg::Vec2f(5, 5)};
    pilot.OnLasso(lasso);
    pilot.OnUndo(0, 0.5);
    pilot.FinishTrial({}, 1.0);
    for (const std::string& path : {pilot.TrialsPath(), pilot.LassosPath(), pilot.EventsPath()}) {
        const auto rows = Rows(path);
        ASSERT_EQ(rows.size(), 2u) << path;
        EXPECT_EQ(Column(rows, 1, "pilot"), "1") << path;
    }
    EXPECT_EQ(Column(Rows(s.folder.Path("out/P3_trials.csv")), 1, "pilot"), "0");
    EXPECT_EQ(StudyTestFolder::Read(s.folder.Path("out/P3_trials.csv")), real);
}

TEST(StudyRunner, KilledMidTrialLosesOnlyThatTrial)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        if (!s.runner.Begin(5, 0).empty()) _exit(1);
        for (int t = 0; t < 2; ++t) {
            s.runner.StartTrial(t * 10.0);
            LassoRecord lasso;
            lasso.time = t * 10.0 + 1.0;
            s.runner.OnLasso(lasso);
            s.runner.FinishTrial(Flags("0011100000"), t * 10.0 + 5.0);
        }
        s.runner.StartTrial(30.0);
        LassoRecord lasso;
        lasso.time = 31.0;
        s.runner.OnLasso(lasso);
        s.runner.OnUndo();
        // Tell the parent we are in the middle of the third trial, then wait
        // for the kill.
        const char byte = 1;
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto trials = Rows(s.folder.Path("out/P5_trials.csv"));
    ASSERT_EQ(trials.size(), 3u);
    EXPECT_EQ(Column(trials, 1, "trial"), "1");
    EXPECT_EQ(Column(trials, 2, "trial"), "2");
    EXPECT_EQ(Column(trials, 2, "completion_time_s"), "5");
    const std::string raw = StudyTestFolder::Read(s.folder.Path("out/P5_trials.csv"));
    EXPECT_EQ(raw.back(), '\n');
    // The lasso of the interrupted trial was already on the disk.
    const auto lassos = Rows(s.folder.Path("out/P5_lassos.csv"));
    ASSERT_EQ(lassos.size(), 4u);
    EXPECT_EQ(Column(lassos, 3, "trial"), "3");

    // The participant comes back: the same order, on at the trial that was
    // cut off, into new files; the finished trials are not run again.
    StudyRunner resumed;
    ASSERT_TRUE(resumed.Load(s.path).empty());
    ASSERT_EQ(resumed.Begin(5, 0), "");
    EXPECT_EQ(resumed.FinishedEarlier(), 2);
    EXPECT_NE(resumed.SessionNote().find("at trial 3 of 6"), std::string::npos) << resumed.SessionNote();
    ASSERT_NE(resumed.CurrentTrial(), nullptr);
    EXPECT_EQ(resumed.CurrentTrial()->number, 3);
    EXPECT_EQ(resumed.TrialsPath(), s.folder.Path("out/P5_trials_2.csv"));
    EXPECT_EQ(resumed.EventsPath(), s.folder.Path("out/P5_events_2.csv")) << "beside the resumed lasso log";
    std::vector<std::string> names;
    while (!resumed.IsFinished()) {
        names.push_back(resumed.CurrentTrial()->name);
        resumed.StartTrial(0.0);
        resumed.FinishTrial({}, 1.0);
    }
    std::vector<std::string> expected;
    for (size_t k = 2; k < resumed.Sequence().size(); ++k) expected.push_back(resumed.Sequence()[k].name);
    EXPECT_EQ(names, expected);
    const auto second = Rows(s.folder.Path("out/P5_trials_2.csv"));
    ASSERT_EQ(second.size(), 5u);
    EXPECT_EQ(Column(second, 1, "trial"), "3");
    EXPECT_EQ(Column(second, 4, "trial"), "6");

    // The session is complete now: the next start is a new session at trial 1.
    ASSERT_EQ(resumed.Begin(5, 0), "");
    EXPECT_EQ(resumed.CurrentTrial()->number, 1);
    EXPECT_EQ(resumed.FinishedEarlier(), 0);
    EXPECT_NE(resumed.SessionNote().find("finished this study before"), std::string::npos);

    // Rows that do not fit the rebuilt order (the file changed) refuse to
    // resume, naming the row; --restart starts over anyway.
    s.folder.Write("out/P6_trials.csv", StudyTestFolder::Read(s.folder.Path("out/P5_trials.csv")));
    StudyRunner changed;
    ASSERT_TRUE(changed.Load(s.path).empty());
    const std::string refusal = changed.Begin(6, 0);
    EXPECT_EQ(refusal.rfind(s.folder.Path("out/P6_trials.csv") + ":3: trial 2 was \"", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("--restart"), std::string::npos) << refusal;
    EXPECT_FALSE(changed.IsPresenting());
    changed.SetRestart(true);
    ASSERT_EQ(changed.Begin(6, 0), "");
    EXPECT_EQ(changed.CurrentTrial()->number, 1);
    EXPECT_EQ(changed.TrialsPath(), s.folder.Path("out/P6_trials_2.csv"));
}

TEST(StudyRunner, EveryMistakeOfAStudyFileIsListedInOneRun)
{
    // Mistakes the reader finds, a dataset that cannot be loaded, a label the
    // dataset lacks and a broken target file: all of them, each with its line.
    LoadedStudy s(R"(<study results="out">
  <dataset id="c" builtin="clusters" colour="red"/>
  <dataset id="g" builtin="galaxy"/>
  <trial dataset="c" targetLabel="9" technique="density"/>
  <trial dataset="c" targetFile="bad.txt" technique="sideways"/>
  <trial dataset="g" targetLabel="1" technique="cylinder" zoom="2"/>
  <trial dataset="nowhere" targetLabel="1" technique="density"/>
</study>
)");
    s.folder.Write("bad.txt", "1\n99\n");
    const std::vector<std::string> p = s.runner.Load(s.path);
    const std::vector<std::string> expected = {
        ":2: unknown attribute \"colour\"", ":5: technique \"sideways\"", ":6: unknown attribute \"zoom\"",
        ":7: trial \"line 7\" names dataset \"nowhere\"", ":3: dataset \"g\": no built-in dataset",
        ":4: dataset \"c\" has no structure labelled 9", ":5: target of trial \"line 5\": "};
    ASSERT_EQ(p.size(), expected.size());
    for (size_t k = 0; k < p.size(); ++k)
        EXPECT_EQ(p[k].rfind(s.path + expected[k], 0), 0u) << p[k];
    EXPECT_NE(p.back().find("bad.txt:2: particle index 99"), std::string::npos) << p.back();
    EXPECT_FALSE(s.runner.IsLoaded());
}

TEST(StudyRunner, ImpossibleTrialsStopTheStudyBeforeItStarts)
{
    LoadedStudy s;
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    const std::string good = s.path;
    const std::string file = s.folder.Path("bad.xml");
    auto load = [&](const std::string& body) {
        s.folder.Write("bad.xml", "<study>\n<dataset id=\"c\" builtin=\"clusters\"/>\n" + body + "</study>\n");
        return s.runner.Load(file);
    };

    std::vector<std::string> p = load("<trial dataset=\"c\" targetLabel=\"9\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0], file + ":3: dataset \"c\" has no structure labelled 9 (its labels: 1, 2)");

    p = load("<trial dataset=\"c\" targetFile=\"t2.txt\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].rfind(file + ":3: target of trial \"line 3\": " + s.folder.Path("t2.txt") + ": cannot open", 0), 0u)
        << p[0];

    s.folder.Write("t2.txt", "1 2\n3 10 x\n");
    p = load("<trial dataset=\"c\" targetFile=\"t2.txt\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], file + ":3: target of trial \"line 3\": " + s.folder.Path("t2.txt") +
                        ":2: particle index 10 is out of range (the dataset has 10 particles)");
    EXPECT_NE(p[1].find("t2.txt:2: \"x\" is not a particle index"), std::string::npos) << p[1];

    s.folder.Write("t3.txt", "# nothing yet\n");
    p = load("<trial dataset=\"c\" targetFile=\"t3.txt\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_NE(p[0].find("holds no particle indices"), std::string::npos) << p[0];

    // Unknown built-in and unreadable file go through the real loaders.
    p = load("<dataset id=\"x\" builtin=\"galaxy\"/>\n<dataset id=\"y\" file=\"cloud.txt\"/>\n"
             "<trial dataset=\"x\" targetLabel=\"1\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].rfind(file + ":3: dataset \"x\": no built-in dataset is named \"galaxy\" (known: ", 0), 0u) << p[0];
    EXPECT_EQ(p[1].rfind(file + ":4: dataset \"y\": ", 0), 0u) << p[1];
    EXPECT_NE(p[1].find("cloud.txt"), std::string::npos) << p[1];

    // A file dataset has no labels: its targets come from index files.
    s.folder.Write("cloud.txt", "0 0 0\n1 1 1\n2 2 2\n");
    p = load("<dataset id=\"y\" file=\"cloud.txt\"/>\n<trial dataset=\"y\" targetLabel=\"1\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0], file + ":4: dataset \"y\" has no structure labels; give the target as a targetFile");
    s.folder.Write("t4.txt", "2\n");
    p = load("<dataset id=\"y\" file=\"cloud.txt\"/>\n<trial dataset=\"y\" targetFile=\"t4.txt\" technique=\"density\"/>\n");
    EXPECT_TRUE(p.empty()) << p[0];

    // After failed loads the runner still holds the last good study.
    ASSERT_TRUE(s.runner.Load(good).empty());
    load("<trial dataset=\"c\" targetLabel=\"9\" technique=\"density\"/>\n");
    EXPECT_EQ(s.runner.Definition().path, good);
    EXPECT_EQ(s.runner.Begin(1, 0), "");
    EXPECT_EQ(s.runner.Sequence().size(), 6u);
    EXPECT_EQ(s.runner.Load(good).size(), 1u);  // not while it runs
}

TEST(StudyRunner, LabelsOfAnyFileFormatServeAsTargets)
{
    LoadedStudy s;
    s.folder.Write("labelled.csv", "X,Y,Z,label\n0,0,0,0\n1,0,0,1\n2,0,0,1\n3,0,0,2\n4,0,0,0\n");
    s.folder.Write("molecule.xyz", "3\n\nC 0 0 0\nO 1 0 0\nC 2 0 0\n");
    const std::string file = s.folder.Path("labels.xml");
    auto load = [&](const std::string& trials) {
        s.folder.Write("labels.xml", "<study>\n<dataset id=\"t\" file=\"labelled.csv\"/>\n"
                                     "<dataset id=\"m\" file=\"molecule.xyz\"/>\n" + trials + "</study>\n");
        return s.runner.Load(file);
    };
    std::vector<std::string> p = load("<trial dataset=\"t\" targetLabel=\"1\" technique=\"density\"/>\n"
                                      "<trial dataset=\"m\" targetLabel=\"2\" technique=\"cylinder\"/>\n");
    EXPECT_TRUE(p.empty()) << p[0];
    p = load("<trial dataset=\"t\" targetLabel=\"3\" technique=\"density\"/>\n"
             "<trial dataset=\"m\" targetLabel=\"3\" technique=\"density\"/>\n");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], file + ":4: dataset \"t\" has no structure labelled 3 (its labels: 1, 2)");
    EXPECT_EQ(p[1], file + ":5: dataset \"m\" has no structure labelled 3 (its labels: 1, 2)");
}

TEST(StudyRunner, TheExampleStudyIsValid)
{
    // Real built-in clouds: the example's labels must exist in them.
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
    std::string source = __FILE__;
    source.erase(source.rfind("/tests/"));
    StudyRunner runner;
    const std::vector<std::string> problems = runner.Load(source + "/examples/study.xml");
    for (const std::string& p : problems) ADD_FAILURE() << p;
    EXPECT_EQ(runner.Definition().trials.size(), 7u);
    EXPECT_EQ(FerrowDatasetManager::Instance()->datasets.size(), 3u);
    FerrowDatasetManager::Destroy();
}

TEST(StudyRunner, RandomBlocksDrawAnOrderPerParticipantAndTechnique)
{
    LoadedStudy s(R"(<study>
  <dataset id="c" builtin="clusters"/>
  <block technique="counterbalanced" order="random">
    <trial name="p" dataset="c" targetLabel="1" practice="true"/>
    <trial name="m1" dataset="c" targetLabel="1"/>
    <trial name="m2" dataset="c" targetLabel="2"/>
    <trial name="m3" dataset="c" targetLabel="1"/>
    <trial name="m4" dataset="c" targetLabel="2"/>
    <trial name="m5" dataset="c" targetLabel="1"/>
  </block>
  <block technique="cylinder">
    <trial name="f1" dataset="c" targetLabel="1"/>
    <trial name="f2" dataset="c" targetLabel="2"/>
  </block>
</study>
)");
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    auto sequence = [&](int participant) {
        s.runner.Begin(participant, 0);
        std::vector<std::string> names;
        for (const StudyTrial& t : s.runner.Sequence()) names.push_back(t.name);
        while (!s.runner.IsFinished()) {
            s.runner.StartTrial(0.0);
            s.runner.FinishTrial({}, 1.0);
        }
        return names;
    };
    std::set<std::vector<std::string>> distinct;
    bool repetitionsDiffer = false;
    for (int participant = 1; participant <= 12; ++participant) {
        const std::vector<std::string> names = sequence(participant);
        ASSERT_EQ(names.size(), 14u);
        // Practice first in each repetition, the fixed block last and in order.
        EXPECT_EQ(names[0], "p");
        EXPECT_EQ(names[6], "p");
        EXPECT_EQ(names[12], "f1");
        EXPECT_EQ(names[13], "f2");
        for (int r = 0; r < 2; ++r) {
            std::vector<std::string> measured(names.begin() + 1 + 6 * r, names.begin() + 6 + 6 * r);
            std::sort(measured.begin(), measured.end());
            EXPECT_EQ(measured, (std::vector<std::string>{"m1", "m2", "m3", "m4", "m5"}));
        }
        repetitionsDiffer = repetitionsDiffer || !std::equal(names.begin(), names.begin() + 6, names.begin() + 6);
        distinct.insert(names);
        EXPECT_EQ(sequence(participant), names) << "participant " << participant << " got another order";
    }
    EXPECT_GE(distinct.size(), 10u);
    EXPECT_TRUE(repetitionsDiffer);
}

TEST(StudyRunner, ProgramStartFindsTheStudyOrExploresFreely)
{
    LoadedStudy s;
    std::vector<std::string> lines;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir(s.folder.dir.path()).mkdir("run"));
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(s.folder.Path("run"))));

    // No study.xml in the working directory: free exploration, nothing written.
    EXPECT_EQ(s.runner.OpenSession("", 4, 0, lines), StudyRunner::FreeExploration);
    EXPECT_FALSE(s.runner.IsLoaded());
    EXPECT_FALSE(QFileInfo::exists("out"));

    // A named file with a problem: the problems and one closing line.
    s.folder.Write("run/broken.xml", "<study>\n<trial/>\n</study>\n");
    EXPECT_EQ(s.runner.OpenSession("broken.xml", 4, 0, lines), StudyRunner::SessionFailed);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("broken.xml:2: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines.back(), "broken.xml: the study does not start");
    EXPECT_FALSE(s.runner.IsPresenting());

    // study.xml in the working directory is found by itself.
    s.folder.Write("run/study.xml", kStudy);
    s.folder.Write("run/t.txt", "0 1 9\n");
    EXPECT_EQ(s.runner.OpenSession("", 4, 1, lines), StudyRunner::SessionStarted);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Study study.xml: 6 trials for participant 4");
    EXPECT_NE(lines[1].find("P4_trials.csv"), std::string::npos);
    EXPECT_TRUE(s.runner.IsPresenting());
    EXPECT_EQ(s.runner.Condition(), 1);
    QDir::setCurrent(before);
}

namespace {

// Participant 1 runs block 1 with density, then cylinder.
const char* kQuestionedStudy = R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <block technique="counterbalanced">
    <trial name="a" dataset="c" targetLabel="1"/>
    <questionnaire type="tlx"/>
    <questionnaire type="ranking" after="block"/>
    <break seconds="10" text="Halfway."/>
  </block>
  <break seconds="30" text="Rest a little."/>
  <block technique="density">
    <trial name="b" dataset="c" targetLabel="2"/>
    <questionnaire type="likert" id="ease" points="3" skippable="true">
      <item id="e1" text="Easy?"/>
      <item id="e2" text="Fast?"/>
    </questionnaire>
  </block>
  <questionnaire type="sus"/>
</study>
)";

std::string StepsText(const StudyRunner& runner, int participant)
{
    std::string text;
    const std::vector<StudyTrial> trials = runner.PlanSequence(participant);
    for (const StudyStep& s : runner.PlanSteps(participant)) {
        if (s.kind == StudyStep::Trial) text += trials[s.trial].name + ":" + trials[s.trial].techniqueName + " ";
        if (s.kind == StudyStep::Break) text += "break ";
        if (s.kind == StudyStep::Questionnaire)
            text += runner.Definition().questionnaires[s.questionnaire].questionnaire.id + "@" +
                    std::to_string(s.block) + "/" + s.technique + " ";
    }
    return text;
}

// Answers the questionnaire asked now with `value` for every item (the first
// choice left for a choice); stops after `count` items.
void AnswerItems(StudyRunner& runner, const std::string& value, double now, size_t count = 1000)
{
    for (size_t k = 0; k < count && runner.IsQuestioning(); ++k) {
        const PendingQuestionnaire* q = runner.CurrentQuestionnaire();
        const QuestionnaireItem& item = q->Item();
        const std::string v = item.kind == QuestionnaireItem::Choice
                                  ? q->questionnaire.ChoicesLeft(q->firstUnanswered, q->answers).front()
                                  : value;
        ASSERT_TRUE(runner.Answer(item.id, v, now)) << item.id << " = " << v;
    }
}

void RunTrial(StudyRunner& runner, double at)
{
    ASSERT_TRUE(runner.IsPresenting());
    ASSERT_TRUE(runner.StartTrial(at));
    ASSERT_TRUE(runner.FinishTrial({}, at + 1.0));
}

}  // namespace

TEST(StudyRunner, QuestionnairesAndBreaksFollowTheirBlocksAndTechniques)
{
    LoadedStudy s(kQuestionedStudy);
    ASSERT_TRUE(s.runner.Load(s.path).empty());
    EXPECT_EQ(StepsText(s.runner, 1), "a:density tlx@1/density break a:cylinder tlx@1/cylinder ranking@1/ break "
                                      "b:density ease@2/density sus@0/ ");
    EXPECT_EQ(StepsText(s.runner, 2), "a:cylinder tlx@1/cylinder break a:density tlx@1/density ranking@1/ break "
                                      "b:density ease@2/density sus@0/ ");
    ASSERT_EQ(s.runner.Begin(1, 0), "");
    EXPECT_EQ(s.runner.CurrentQuestionnaire(), nullptr);
    EXPECT_FALSE(s.runner.Answer("mental", "50", 0.0)) << "no questionnaire during a trial";
    RunTrial(s.runner, 0.0);

    // The TLX about density: in order, on its grid, nothing skipped.
    ASSERT_TRUE(s.runner.IsQuestioning());
    const PendingQuestionnaire* q = s.runner.CurrentQuestionnaire();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->questionnaire.id, "tlx");
    EXPECT_EQ(q->block, 1);
    EXPECT_EQ(q->technique, "density");
    EXPECT_EQ(q->firstUnanswered, 0u);
    EXPECT_EQ(s.runner.CurrentTrial(), nullptr);
    EXPECT_FALSE(s.runner.StartTrial(2.0));
    EXPECT_FALSE(s.runner.Answer("physical", "50", 2.0)) << "items come in order";
    EXPECT_FALSE(s.runner.Answer("mental", "52", 2.0)) << "steps of 5";
    EXPECT_FALSE(s.runner.Answer("mental", "105", 2.0));
    EXPECT_FALSE(s.runner.SkipItem("mental", 2.0)) << "the study file does not allow skipping";
    EXPECT_EQ(q->firstUnanswered, 0u);
    AnswerItems(s.runner, "55", 3.0);
    // Between the techniques' runs, the block's own break.
    ASSERT_TRUE(s.runner.IsOnBreak());
    EXPECT_EQ(s.runner.BreakText(), "Halfway.");
    ASSERT_TRUE(s.runner.ContinueAfterBreak(3.0 + 10.0));
    RunTrial(s.runner, 4.0);
    ASSERT_TRUE(s.runner.IsQuestioning());
    EXPECT_EQ(s.runner.CurrentQuestionnaire()->technique, "cylinder");
    AnswerItems(s.runner, "20", 6.0, 6);

    // The ranking: a technique placed once offers itself no more.
    ASSERT_TRUE(s.runner.IsQuestioning());
    EXPECT_EQ(s.runner.CurrentQuestionnaire()->questionnaire.id, "ranking");
    EXPECT_EQ(s.runner.CurrentQuestionnaire()->technique, "");
    ASSERT_TRUE(s.runner.Answer("rank_1", "cylinder", 7.0));
    EXPECT_FALSE(s.runner.Answer("rank_2", "cylinder", 7.5));
    ASSERT_TRUE(s.runner.Answer("rank_2", "density", 8.0));

    // The break began with the last answer and holds for its 30 seconds.
    ASSERT_TRUE(s.runner.IsOnBreak());
    EXPECT_EQ(s.runner.BreakText(), "Rest a little.");
    EXPECT_DOUBLE_EQ(s.runner.BreakSecondsLeft(18.0), 20.0);
    EXPECT_FALSE(s.runner.ContinueAfterBreak(37.9));
    EXPECT_TRUE(s.runner.IsOnBreak());
    ASSERT_TRUE(s.runner.ContinueAfterBreak(38.0));
    RunTrial(s.runner, 40.0);

    // Skippable: an empty answer.
    ASSERT_TRUE(s.runner.IsQuestioning());
    EXPECT_FALSE(s.runner.Answer("e1", "4", 42.0)) << "three points";
    ASSERT_TRUE(s.runner.SkipItem("e1", 42.0));
    ASSERT_TRUE(s.runner.Answer("e2", "3", 43.0));
    EXPECT_EQ(s.runner.CurrentQuestionnaire()->questionnaire.id, "sus");
    EXPECT_EQ(s.runner.CurrentQuestionnaire()->block, 0);
    AnswerItems(s.runner, "4", 44.0);
    EXPECT_TRUE(s.runner.IsFinished());
    EXPECT_EQ(s.runner.AnswersPath(), s.folder.Path("out/P1_answers.csv"));

    // One row per answer, in the order given.
    const auto rows = Rows(s.folder.Path("out/P1_answers.csv"));
    ASSERT_EQ(rows.size(), 1u + 6 + 6 + 2 + 2 + 10);
    EXPECT_EQ(rows[0], AnswersLog::Columns());
    const std::vector<std::string> expected[] = {
        {"1", "1", "0", "1", "density", "tlx", "mental", "55"},
        {"1", "1", "0", "1", "cylinder", "tlx", "frustration", "20"},
        {"1", "1", "0", "1", "", "ranking", "rank_2", "density"},
        {"1", "1", "0", "2", "density", "ease", "e1", ""},
        {"1", "1", "0", "0", "", "sus", "sus10", "4"},
    };
    const size_t at[] = {1, 12, 14, 15, 26};
    for (size_t k = 0; k < 5; ++k) {
        std::vector<std::string> got(rows[at[k]].begin(), rows[at[k]].begin() + 8);
        EXPECT_EQ(got, expected[k]) << "row " << at[k];
        EXPECT_EQ(rows[at[k]][8].size(), 24u) << "ISO 8601 time with milliseconds";
    }
}

TEST(StudyRunner, AQuestionnaireCutOffResumesAtItsFirstUnansweredItem)
{
    LoadedStudy s(kQuestionedStudy);
    {
        StudyRunner first;
        ASSERT_TRUE(first.Load(s.path).empty());
        ASSERT_EQ(first.Begin(1, 0), "");
        RunTrial(first, 0.0);
        AnswerItems(first, "55", 2.0);
        ASSERT_TRUE(first.ContinueAfterBreak(12.0));
        RunTrial(first, 3.0);
        AnswerItems(first, "20", 5.0, 3);  // the cylinder TLX cut off after three items
        ASSERT_TRUE(first.IsQuestioning());
    }
    StudyRunner second;
    ASSERT_TRUE(second.Load(s.path).empty());
    ASSERT_EQ(second.Begin(1, 0), "");
    EXPECT_NE(second.SessionNote().find("at questionnaire \"tlx\" after block 1 (cylinder), item 4 of 6"),
              std::string::npos)
        << second.SessionNote();
    ASSERT_TRUE(second.IsQuestioning());
    EXPECT_EQ(second.CurrentQuestionnaire()->technique, "cylinder");
    EXPECT_EQ(second.CurrentQuestionnaire()->firstUnanswered, 3u);
    EXPECT_EQ(second.CurrentQuestionnaire()->answers.at("temporal"), "20");
    EXPECT_EQ(second.AnswersPath(), s.folder.Path("out/P1_answers_2.csv"));
    AnswerItems(second, "30", 10.0, 3);
    AnswerItems(second, "", 11.0, 2);  // the ranking
    ASSERT_TRUE(second.IsOnBreak());
    ASSERT_TRUE(second.ContinueAfterBreak(41.0));
    RunTrial(second, 42.0);
    AnswerItems(second, "2", 44.0, 2);
    AnswerItems(second, "5", 45.0, 4);  // the end-of-study SUS cut off after four items
    const auto answers2 = Rows(s.folder.Path("out/P1_answers_2.csv"));
    ASSERT_EQ(answers2.size(), 1u + 3 + 2 + 2 + 4) << "no answer of the first session written again";
    EXPECT_EQ(Column(answers2, 1, "item"), "performance");
    EXPECT_EQ(Column(answers2, 1, "session"), "2");

    // A row cut off by a crash while it was written does not count: its item
    // is asked again.
    {
        std::ofstream cut(s.folder.Path("out/P1_answers_2.csv"), std::ios::app | std::ios::binary);
        cut << "1,2,0,0,,sus,sus5,5,2026-";
    }
    // Every trial has its row, yet the study is not finished: the third
    // session goes on with the SUS, not at trial 1.
    StudyRunner third;
    ASSERT_TRUE(third.Load(s.path).empty());
    ASSERT_EQ(third.Begin(1, 0), "");
    ASSERT_TRUE(third.IsQuestioning()) << third.SessionNote();
    EXPECT_EQ(third.CurrentQuestionnaire()->questionnaire.id, "sus");
    EXPECT_EQ(third.CurrentQuestionnaire()->Item().id, "sus5");
    EXPECT_EQ(third.CurrentQuestionnaire()->answers.at("sus1"), "5");
    AnswerItems(third, "1", 50.0);
    EXPECT_TRUE(third.IsFinished());
    EXPECT_EQ(Rows(s.folder.Path("out/P1_answers_3.csv")).size(), 1u + 6);

    // Now everything is answered: the next session is a new one.
    ASSERT_EQ(third.Begin(1, 0), "");
    EXPECT_TRUE(third.IsPresenting());
    EXPECT_EQ(third.CurrentTrial()->number, 1);
    EXPECT_NE(third.SessionNote().find("finished this study before"), std::string::npos) << third.SessionNote();
}

TEST(StudyRunner, TheParticipantFormIsAskedOnceAndChecked)
{
    LoadedStudy s(R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <form>
    <field id="age"/>
    <field id="hand" label="Hand" choices="right|left" required="false"/>
  </form>
  <trial name="a" dataset="c" targetLabel="1" technique="density"/>
  <trial name="b" dataset="c" targetLabel="2" technique="density"/>
</study>
)");
    {
        // A participant who never fills the form leaves no file at all.
        StudyRunner quitter;
        ASSERT_TRUE(quitter.Load(s.path).empty());
        ASSERT_EQ(quitter.Begin(2, 0), "");
        EXPECT_TRUE(quitter.IsAskingForm());
    }
    EXPECT_TRUE(QDir(QString::fromStdString(s.folder.Path("out"))).entryList(QDir::Files).isEmpty());

    ASSERT_TRUE(s.runner.Load(s.path).empty());
    s.runner.SetWallClock([](double) { return std::string("2026-01-02T03:04:05.000Z"); });
    ASSERT_EQ(s.runner.Begin(1, 0), "");
    ASSERT_TRUE(s.runner.IsAskingForm());
    EXPECT_EQ(s.runner.FormFields().size(), 2u);
    EXPECT_EQ(s.runner.CurrentTrial(), nullptr);
    EXPECT_FALSE(s.runner.StartTrial(0.0));
    std::string problem;
    EXPECT_FALSE(s.runner.SubmitForm({}, 0.0, &problem));
    EXPECT_EQ(problem, "\"Age\" is not answered");
    EXPECT_FALSE(s.runner.SubmitForm({{"age", "15"}}, 0.0, &problem));
    EXPECT_EQ(problem, "\"Age\" must be a whole number from 16 to 99, not \"15\"");
    EXPECT_FALSE(s.runner.SubmitForm({{"age", "30.5"}}, 0.0, &problem));
    EXPECT_FALSE(s.runner.SubmitForm({{"age", "30"}, {"hand", "middle"}}, 0.0, &problem));
    EXPECT_EQ(problem, "\"middle\" is not one of the choices of \"Hand\"");
    EXPECT_FALSE(s.runner.SubmitForm({{"age", "30"}, {"shoe", "44"}}, 0.0, &problem));
    EXPECT_EQ(problem, "the form has no field \"shoe\"");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(s.folder.Path("out/P1_participant.csv"))));
    ASSERT_TRUE(s.runner.SubmitForm({{"age", "30"}}, 0.0, &problem)) << problem;
    EXPECT_TRUE(s.runner.IsPresenting());
    EXPECT_FALSE(s.runner.SubmitForm({{"age", "31"}}, 0.0)) << "once";
    const auto rows = Rows(s.folder.Path("out/P1_participant.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"participant", "pilot", "time_utc", "age", "hand"}));
    EXPECT_EQ(Column(rows, 1, "participant"), "1");
    EXPECT_EQ(Column(rows, 1, "age"), "30");
    EXPECT_EQ(Column(rows, 1, "hand"), "");
    EXPECT_EQ(Column(rows, 1, "time_utc"), "2026-01-02T03:04:05.000Z") << "the clock given";
    RunTrial(s.runner, 0.0);
    EXPECT_EQ(Column(Rows(s.runner.TrialsPath()), 1, "started_utc"), "2026-01-02T03:04:05.000Z");

    // Resumed, the participant is not asked again.
    StudyRunner resumed;
    ASSERT_TRUE(resumed.Load(s.path).empty());
    ASSERT_EQ(resumed.Begin(1, 0), "");
    EXPECT_TRUE(resumed.IsPresenting());
    EXPECT_EQ(resumed.CurrentTrial()->number, 2);
}
