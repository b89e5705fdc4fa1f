// PairedSummary from trial and answers files' text: per-participant means
// over non-practice trials, questionnaire scores from the answers (a resumed
// session's rows included), every pair of three techniques with Holm over
// each measure's pairs, and the CSV and tidy outputs. Runs in well under a
// second (the bootstrap of a few short samples).
#include "framework/runner/PairedSummary.h"

#include "framework/runner/AnswersLog.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/Questionnaire.h"
#include "framework/runner/ResultsSummary.h"
#include "framework/runner/SummaryPlot.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Participant p's time under technique k is 10 + 2k + p; participant 3
// never used "wand".
std::string Trials(int participant)
{
    std::string text = "participant,trial,practice,dataset,technique,completion_time_s,f1\n";
    int trial = 0;
    for (const char* technique : {"density", "cylinder", "wand"}) {
        const int k = std::string(technique) == "density" ? 0 : std::string(technique) == "cylinder" ? 1 : 2;
        if (participant == 3 && k == 2) continue;
        const double time = 10 + 2 * k + participant;
        for (int r = 0; r < 3; ++r)
            text += std::to_string(participant) + "," + std::to_string(++trial) + "," + (r == 0 ? "1" : "0") +
                    ",d," + technique + "," + CsvFormat::Number(r == 0 ? 99.0 : time + (r == 1 ? -1 : 1)) + "," +
                    CsvFormat::Number(0.5 + 0.1 * k + 0.03 * ((participant * (k + 1)) % 4) + 0.01 * r) + "\n";
    }
    return text;
}

std::string Answer(int participant, int session, int block, const std::string& technique,
                   const std::string& questionnaire, const std::string& item, const std::string& value)
{
    AnswerRow a;
    a.participant = participant;
    a.session = session;
    a.block = block;
    a.technique = technique;
    a.questionnaire = questionnaire;
    a.item = item;
    a.value = value;
    a.timeUtc = "2026-12-01T10:00:00Z";
    return AnswersLog::RecordText(a) + "\n";
}

std::string Header()
{
    std::string h;
    for (const std::string& c : AnswersLog::Columns()) h += (h.empty() ? "" : ",") + c;
    return h + "\n";
}

double MeanOf(const std::vector<ParticipantMean>& means, const std::string& participant,
              const std::string& technique, const std::string& measure)
{
    for (const ParticipantMean& m : means)
        if (m.participant == participant && m.technique == technique && m.measure == measure) return m.value;
    return std::nan("");
}

}  // namespace

TEST(PairedSummary, ComparesEveryPairOfTechniquesWithinSubjects)
{
    ResultsSummary summary;
    for (int p = 1; p <= 4; ++p) ASSERT_TRUE(summary.AddText("P" + std::to_string(p), Trials(p)).empty());
    // TLX of participant 1 about two techniques; the cylinder one cut off in
    // session 1 and finished in session 2. An incomplete TLX gives no score.
    std::string answers = Header();
    const char* scales[] = {"mental", "physical", "temporal", "performance", "effort", "frustration"};
    for (int s = 0; s < 6; ++s) answers += Answer(1, 1, 1, "density", "tlx", scales[s], std::to_string(10 * s));
    for (int s = 0; s < 3; ++s) answers += Answer(1, 1, 2, "cylinder", "tlx", scales[s], "40");
    ASSERT_TRUE(summary.AddText("P1_answers", answers).empty());
    std::string resumed = Header();
    for (int s = 3; s < 6; ++s) resumed += Answer(1, 2, 2, "cylinder", "tlx", scales[s], "70");
    for (int s = 0; s < 5; ++s) resumed += Answer(2, 1, 1, "wand", "tlx", scales[s], "50");
    for (int k = 1; k <= 10; ++k) resumed += Answer(1, 2, 3, "wand", "sus", "sus" + std::to_string(k), "3");
    ASSERT_TRUE(summary.AddText("P1_answers_2", resumed).empty());

    const std::vector<ParticipantMean> means = summary.ParticipantMeans();
    EXPECT_DOUBLE_EQ(MeanOf(means, "2", "cylinder", "completion_time_s"), 14.0);  // practice left out
    EXPECT_DOUBLE_EQ(MeanOf(means, "1", "density", "tlx"), 25.0);
    EXPECT_DOUBLE_EQ(MeanOf(means, "1", "cylinder", "tlx"), 55.0);
    EXPECT_DOUBLE_EQ(MeanOf(means, "1", "wand", "sus"), 50.0);
    EXPECT_TRUE(std::isnan(MeanOf(means, "2", "wand", "tlx")));
    EXPECT_TRUE(std::isnan(MeanOf(means, "3", "wand", "completion_time_s")));

    const std::vector<std::string> techniques = summary.Techniques();
    ASSERT_EQ(techniques, (std::vector<std::string>{"density", "cylinder", "wand"}));
    const std::vector<PairedRow> rows = PairedSummary::Rows(means, techniques);
    // Time and F1 for three pairs each; TLX only density-cylinder (one participant).
    ASSERT_EQ(rows.size(), 7u);
    const PairedRow& dc = rows[0];
    EXPECT_EQ(dc.measure, "completion_time_s");
    EXPECT_EQ(dc.a, "density");
    EXPECT_EQ(dc.b, "cylinder");
    EXPECT_EQ(dc.stats.n, 4);
    EXPECT_DOUBLE_EQ(dc.stats.meanDiff, -2.0);
    EXPECT_TRUE(std::isnan(dc.stats.t));     // every difference the same: no spread
    EXPECT_EQ(rows[1].b, "wand");
    EXPECT_EQ(rows[1].stats.n, 3);           // participant 3 has no wand trials
    EXPECT_EQ(rows[6].measure, "tlx");
    EXPECT_DOUBLE_EQ(rows[6].stats.meanDiff, -30.0);

    // Holm within F1 alone: its three p values, not time's or TLX's.
    std::vector<double> p;
    for (int k = 3; k < 6; ++k) p.push_back(rows[k].stats.pT);
    const std::vector<double> holm = PairedStatistics::Holm(p);
    for (int k = 3; k < 6; ++k) EXPECT_DOUBLE_EQ(rows[k].pHolm, holm[k - 3]);
    EXPECT_GT(rows[3].pHolm, rows[3].stats.pT);

    const std::vector<std::vector<std::string>> csv = CsvFormat::Parse(PairedSummary::Csv(rows));
    EXPECT_EQ(csv[0], (std::vector<std::string>{"measure", "technique_a", "technique_b", "n", "mean_diff", "ci_low",
                                                "ci_high", "t", "p_t", "w", "p_wilcoxon", "dz", "p_holm"}));
    ASSERT_EQ(csv.size(), rows.size() + 1);
    EXPECT_EQ(csv[1][7], "");                // undefined t: empty, not "nan"
    const std::vector<std::vector<std::string>> tidy = CsvFormat::Parse(PairedSummary::LongCsv(means));
    EXPECT_EQ(tidy[0], (std::vector<std::string>{"participant", "technique", "measure", "value"}));
    EXPECT_EQ(tidy.size(), means.size() + 1);

    const std::string svg = SummaryPlot::PairedSvg(means, rows, techniques, "t");
    EXPECT_NE(svg.find("NASA-TLX"), std::string::npos);
    EXPECT_NE(svg.find("density - cylinder: -2 ["), std::string::npos);
    EXPECT_EQ(svg.find("#1f77b4"), std::string::npos);  // no colour: it prints in grey
}

TEST(PairedSummary, QuestionnaireScoresAndResumePoint)
{
    std::map<std::string, std::string> a;
    const Questionnaire tlx = Questionnaire::Tlx(true);
    ASSERT_EQ(tlx.items.size(), 6u + 15u);
    EXPECT_EQ(tlx.items[3].lowAnchor, "Perfect");
    for (size_t k = 0; k < 6; ++k) a[tlx.items[k].id] = std::to_string(20 * (k % 2));  // 0, 20, 0, 20, ...
    EXPECT_EQ(tlx.FirstUnanswered(a), 6u);
    double score = 0.0;
    ASSERT_TRUE(Questionnaire::TlxRaw(a, score));
    EXPECT_DOUBLE_EQ(score, 10.0);
    EXPECT_FALSE(Questionnaire::TlxWeighted(a, score));
    // Each pair won by its second scale: wins 0, 1, 2, 3, 4, 5.
    for (size_t k = 6; k < tlx.items.size(); ++k) a[tlx.items[k].id] = tlx.items[k].choices[1];
    ASSERT_TRUE(Questionnaire::TlxWeighted(a, score));
    EXPECT_DOUBLE_EQ(score, (20.0 * 1 + 20.0 * 3 + 20.0 * 5) / 15.0);
    EXPECT_FALSE(tlx.Accepts(0, "42", a));   // off the 5-point grid
    EXPECT_TRUE(tlx.Accepts(0, "45", a));
    EXPECT_FALSE(tlx.Accepts(0, "105", a));

    std::map<std::string, std::string> s;
    for (int k = 1; k <= 10; ++k) s["sus" + std::to_string(k)] = k % 2 ? "5" : "1";
    ASSERT_TRUE(Questionnaire::SusScore(s, score));
    EXPECT_DOUBLE_EQ(score, 100.0);
    s["sus2"] = "2";
    ASSERT_TRUE(Questionnaire::SusScore(s, score));
    EXPECT_DOUBLE_EQ(score, 97.5);

    const Questionnaire ranking = Questionnaire::Ranking({"density", "cylinder", "wand"});
    std::map<std::string, std::string> r = {{"rank_1", "wand"}};
    EXPECT_EQ(ranking.FirstUnanswered(r), 1u);
    EXPECT_EQ(ranking.ChoicesLeft(1, r), (std::vector<std::string>{"density", "cylinder"}));
    EXPECT_FALSE(ranking.Accepts(1, "wand", r));
}
