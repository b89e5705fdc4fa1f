#include "framework/runner/ResultsSummary.h"

#include "framework/runner/SummaryPlot.h"
#include "tests/framework/runner/StudyTestFiles.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Columns in another order than the runner writes them, and extra ones: the
// summary finds its columns by name.
const char* kParticipant1 =
    "trial,participant,practice,technique,dataset,completion_time_s,f1,precision\n"
    "1,1,1,density,c,99,0.1,0\n"          // practice: left out
    "2,1,0,density,c,10,0.5,0\n"
    "3,1,0,density,c,12,0.7,0\n"
    "4,1,0,cylinder,c,20,0.4,0\n"
    "5,1,0,cylinder,\"f, large\",30,0.8,0\n";
const char* kParticipant2 =
    "trial,participant,practice,technique,dataset,completion_time_s,f1,precision\n"
    "1,2,0,cylinder,c,22,0.6,0\n"
    "2,2,0,density,c,14,0.9,0\n"
    "3,2,0,density,c,";                   // cut off by a crash: ignored

const SummaryGroup& Find(const std::vector<SummaryGroup>& groups, const std::string& technique,
                         const std::string& dataset)
{
    for (const SummaryGroup& g : groups)
        if (g.technique == technique && g.dataset == dataset) return g;
    throw std::runtime_error("no group " + technique + "/" + dataset);
}

}  // namespace

TEST(ResultsSummary, MeansAndIntervalsPerTechniqueAndDataset)
{
    StudyTestFolder folder;
    ResultsSummary summary;
    ASSERT_TRUE(summary.AddFile(folder.Write("P1_trials.csv", kParticipant1)).empty());
    ASSERT_TRUE(summary.AddFile(folder.Write("P2_trials.csv", kParticipant2)).empty());
    EXPECT_EQ(summary.TrialCount(), 6);

    const std::vector<SummaryGroup> groups = summary.Groups();
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups[0].technique, "density");  // density before cylinder, datasets as first seen
    EXPECT_EQ(groups[0].dataset, "c");
    EXPECT_EQ(groups[1].technique, "cylinder");
    EXPECT_EQ(groups[2].dataset, "f, large");
    EXPECT_EQ(groups[3].dataset, ResultsSummary::AllDatasets);

    const SummaryGroup& dc = Find(groups, "density", "c");
    EXPECT_EQ(dc.time.n, 3);
    EXPECT_DOUBLE_EQ(dc.time.mean, 12.0);
    EXPECT_NEAR(dc.time.halfWidth, 4.302652729749464 * 2.0 / std::sqrt(3.0), 1e-9);
    EXPECT_NEAR(dc.f1.mean, 0.7, 1e-12);
    EXPECT_NEAR(dc.f1.halfWidth, 4.302652729749464 * 0.2 / std::sqrt(3.0), 1e-9);

    const SummaryGroup& cc = Find(groups, "cylinder", "c");
    EXPECT_DOUBLE_EQ(cc.time.mean, 21.0);
    EXPECT_NEAR(cc.time.halfWidth, 12.706204736174707, 1e-8);  // sd sqrt(2), n 2
    EXPECT_TRUE(std::isnan(Find(groups, "cylinder", "f, large").time.halfWidth));
    EXPECT_EQ(Find(groups, "cylinder", "all").time.n, 3);
    EXPECT_DOUBLE_EQ(Find(groups, "cylinder", "all").time.mean, 24.0);

    const std::string table = ResultsSummary::Table(groups);
    EXPECT_NE(table.find("density    c         3  12.000"), std::string::npos) << table;
    // Resamples of 10, 12, 14: all three the same value has a chance of 1 in 27.
    EXPECT_NE(table.find("[10.000, 14.000]"), std::string::npos) << table;
    const std::string csv = ResultsSummary::Csv(groups);
    EXPECT_NE(csv.find("\ncylinder,\"f, large\",1,30,0,nan,nan,0.8,0,nan,nan\n"), std::string::npos) << csv;

    // Every participant once: P1 density/c mean 11, P2 14.
    ResultsSummary perParticipant;
    perParticipant.perParticipant = true;
    perParticipant.includePractice = false;
    perParticipant.AddFile(folder.Path("P1_trials.csv"));
    perParticipant.AddFile(folder.Path("P2_trials.csv"));
    const std::vector<SummaryGroup> participantGroups = perParticipant.Groups();
    const SummaryGroup& pc = Find(participantGroups, "density", "c");
    EXPECT_EQ(pc.time.n, 2);
    EXPECT_DOUBLE_EQ(pc.time.mean, 12.5);

    ResultsSummary withPractice;
    withPractice.includePractice = true;
    withPractice.AddFile(folder.Path("P1_trials.csv"));
    EXPECT_EQ(withPractice.TrialCount(), 5);
}

TEST(ResultsSummary, BrokenFilesAreNamedAndAddNothing)
{
    StudyTestFolder folder;
    ResultsSummary summary;
    const std::string bad = folder.Write("bad.csv", "participant,practice,technique,dataset,completion_time_s,f1\n"
                                                    "1,0,density,c,10,0.5\n"
                                                    "1,0,density,c,ten,0.5\n"
                                                    "1,maybe,density,c,10,0.5\n");
    std::vector<std::string> p = summary.AddFile(bad);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], bad + ":3: completion time \"ten\" is not a number");
    EXPECT_EQ(p[1], bad + ":4: practice \"maybe\" is neither 0 nor 1");
    EXPECT_EQ(summary.TrialCount(), 0);

    const std::string lassos = folder.Write("P1_lassos.csv", "participant,trial,lasso,time_s\n1,1,1,0.5\n");
    p = summary.AddFile(lassos);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p[0], lassos + ":1: no column \"practice\"; is this a trials file?");
    EXPECT_EQ(summary.AddFile(folder.Path("none.csv")),
              std::vector<std::string>{folder.Path("none.csv") + ": cannot open the trials file"});
}

TEST(ResultsSummary, ATrialWithRowsInSeveralSessionsCountsOnceWithItsLatestRow)
{
    // Session 1 was cut off in trial 3; the resumed session 2 ran trial 3
    // again (row 3 of session 1 was already complete before a later crash in
    // trial 4, say) and trial 4. Files in any order on the command line.
    StudyTestFolder folder;
    const char* header = "participant,trial,practice,technique,dataset,completion_time_s,f1,started_utc\n";
    const std::string first = folder.Write("P1_trials.csv", std::string(header) +
                                                                "1,1,0,density,c,10,0.5,2026-01-01T10:00:00.000Z\n"
                                                                "1,2,0,density,c,20,0.5,2026-01-01T10:01:00.000Z\n"
                                                                "1,3,0,density,c,99,0.1,2026-01-01T10:02:00.000Z\n");
    const std::string second = folder.Write("P1_trials_2.csv", std::string(header) +
                                                                   "1,3,0,density,c,30,0.5,2026-01-01T11:00:00.000Z\n"
                                                                   "1,4,0,density,c,40,0.5,2026-01-01T11:01:00.000Z\n");
    ResultsSummary summary;
    ASSERT_TRUE(summary.AddFile(second).empty());
    ASSERT_TRUE(summary.AddFile(first).empty());
    EXPECT_EQ(summary.TrialCount(), 4);
    EXPECT_EQ(summary.RepeatedTrials(), 1);
    const SummaryGroup& g = Find(summary.Groups(), "density", "c");
    EXPECT_EQ(g.time.n, 4);
    EXPECT_DOUBLE_EQ(g.time.mean, 25.0);  // 10, 20, 30, 40: the latest row of trial 3
}

TEST(SummaryPlot, DrawsEveryGroupIntoWellFormedSvg)
{
    ResultsSummary summary;
    ASSERT_TRUE(summary.AddText("P1", kParticipant1).empty());
    ASSERT_TRUE(summary.AddText("P2", kParticipant2).empty());
    const std::vector<SummaryGroup> groups = summary.Groups();
    const std::string svg = SummaryPlot::Svg(groups, "Lasso <study> & more");

    QXmlStreamReader xml(QByteArray::fromStdString(svg));
    int circles = 0, texts = 0;
    bool sawTitle = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("circle")) ++circles;
        if (xml.isStartElement() && xml.name() == QLatin1String("text")) {
            ++texts;
            const QString t = xml.readElementText();
            sawTitle = sawTitle || t == "Lasso <study> & more";
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(sawTitle);
    // Two panels with one point per group, plus one legend dot per technique.
    EXPECT_EQ(circles, 2 * static_cast<int>(groups.size()) + 2);
    EXPECT_NE(svg.find("f, large"), std::string::npos);
}
