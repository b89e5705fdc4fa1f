// SimulatedParticipant: its lasso encloses the target it is drawn around, as
// a person's would; its draws repeat with the seed and differ between
// participants; its answers are valid answers that follow the experience.
#include "framework/runner/SimulatedParticipant.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>

#include <gtest/gtest.h>

#include <cmath>

TEST(SimulatedParticipant, LassoEnclosesTheTargetAndRepeatsWithTheSeed)
{
    namespace bg = boost::geometry;
    using BPoint = bg::model::d2::point_xy<double>;
    std::vector<SimulatedParticipant::Point> target;
    for (int k = 0; k < 200; ++k)  // a ring and its centre, 80 pixels across
        target.push_back({300 + 40 * std::cos(k * 0.7) * (k % 3) / 2.0, 200 + 40 * std::sin(k * 0.7) * (k % 3) / 2.0});
    SimulatedParticipant a(7, 1), again(7, 1), other(7, 2);
    const auto lasso = a.LassoAround(target);
    ASSERT_GT(lasso.size(), 20u);
    EXPECT_EQ(lasso, again.LassoAround(target));
    EXPECT_NE(lasso, other.LassoAround(target));
    bg::model::polygon<BPoint> polygon;
    for (const auto& p : lasso) polygon.outer().push_back(BPoint(p.first, p.second));
    bg::correct(polygon);
    for (const auto& p : target) EXPECT_TRUE(bg::within(BPoint(p.first, p.second), polygon));
    // Drawn around, not far off: within the margin plus the jitter.
    for (const auto& p : lasso) EXPECT_LT(std::hypot(p.first - 300, p.second - 200), 40 * 1.06 + 8 + 5);
    for (size_t k = 0; k < lasso.size(); ++k) {
        const auto& q = lasso[(k + 1) % lasso.size()];
        EXPECT_LE(std::hypot(q.first - lasso[k].first, q.second - lasso[k].second), 12.0 + 9.0);
    }
    EXPECT_TRUE(a.LassoAround({{1, 1}, {2, 2}}).empty());
}

TEST(SimulatedParticipant, AnswersAreValidAndFollowTheExperience)
{
    SimulatedParticipant p(3, 4);
    const Questionnaire tlx = Questionnaire::Tlx(true), sus = Questionnaire::Sus();
    double good = 0.0, bad = 0.0, susGood = 0.0, susBad = 0.0;
    for (int r = 0; r < 20; ++r) {
        for (const auto& [f1, time, tlxSum, susSum] :
             {std::make_tuple(0.95, 8.0, &good, &susGood), std::make_tuple(0.5, 20.0, &bad, &susBad)}) {
            const auto t = p.Answer(tlx, f1, time, {});
            ASSERT_EQ(tlx.FirstUnanswered(t), tlx.items.size());
            std::map<std::string, std::string> so_far;
            for (size_t k = 0; k < tlx.items.size(); ++k) {
                EXPECT_TRUE(tlx.Accepts(k, t.at(tlx.items[k].id), so_far)) << tlx.items[k].id;
                so_far[tlx.items[k].id] = t.at(tlx.items[k].id);
            }
            double score = 0.0;
            ASSERT_TRUE(Questionnaire::TlxRaw(t, score));
            *tlxSum += score;
            ASSERT_TRUE(Questionnaire::SusScore(p.Answer(sus, f1, time, {}), score));
            *susSum += score;
        }
    }
    EXPECT_LT(good + 200, bad);      // on average 10 points less workload per answer set
    EXPECT_GT(susGood, susBad + 200);
    const auto ranking = p.Answer(Questionnaire::Ranking({"a", "b", "c"}), 0.8, 10, {{"a", 0.2}, {"b", 0.9}, {"c", 0.5}});
    EXPECT_EQ(ranking.at("rank_1"), "b");
    EXPECT_EQ(ranking.at("rank_2"), "c");
    EXPECT_EQ(ranking.at("rank_3"), "a");
    SimulatedParticipant x(1, 1), y(1, 1);
    const double t = x.CompletionTime(2, 900, 0, 1.0);
    EXPECT_EQ(t, y.CompletionTime(2, 900, 0, 1.0));
    EXPECT_GT(t, 0.0);
    EXPECT_LT(std::fabs(std::log(t / 5.9)), 0.15 * 5);
}
