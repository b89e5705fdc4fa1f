#include "framework/runner/SelectionMetrics.h"

#include <gtest/gtest.h>

namespace {
std::vector<bool> Flags(const char* bits)
{
    std::vector<bool> v;
    for (const char* c = bits; *c; ++c) v.push_back(*c == '1');
    return v;
}
}  // namespace

TEST(SelectionMetrics, HandComputedCases)
{
    // Target 4 particles, selection 5, 3 of them right.
    SelectionMetrics m = SelectionMetrics::Compute(Flags("1111100000"), Flags("0011110000"), 10);
    EXPECT_EQ(m.selected, 5u);
    EXPECT_EQ(m.targetSize, 4u);
    EXPECT_EQ(m.truePositives, 3u);
    EXPECT_DOUBLE_EQ(m.precision, 0.6);
    EXPECT_DOUBLE_EQ(m.recall, 0.75);
    EXPECT_DOUBLE_EQ(m.f1, 2.0 * 0.6 * 0.75 / 1.35);

    // Exact selection.
    m = SelectionMetrics::Compute(Flags("0110"), Flags("0110"), 4);
    EXPECT_DOUBLE_EQ(m.precision, 1.0);
    EXPECT_DOUBLE_EQ(m.recall, 1.0);
    EXPECT_DOUBLE_EQ(m.f1, 1.0);

    // Everything selected: recall 1, precision the target's share.
    m = SelectionMetrics::Compute(Flags("1111"), Flags("0100"), 4);
    EXPECT_DOUBLE_EQ(m.precision, 0.25);
    EXPECT_DOUBLE_EQ(m.recall, 1.0);
    EXPECT_DOUBLE_EQ(m.f1, 0.4);

    // Disjoint: both zero, F1 zero.
    m = SelectionMetrics::Compute(Flags("1000"), Flags("0110"), 4);
    EXPECT_EQ(m.truePositives, 0u);
    EXPECT_EQ(m.f1, 0.0);
}

TEST(SelectionMetrics, EmptySetsScoreZeroNotUndefined)
{
    SelectionMetrics m = SelectionMetrics::Compute(Flags("0000"), Flags("0110"), 4);
    EXPECT_EQ(m.selected, 0u);
    EXPECT_EQ(m.precision, 0.0);
    EXPECT_EQ(m.recall, 0.0);
    EXPECT_EQ(m.f1, 0.0);
    m = SelectionMetrics::Compute(Flags("0110"), Flags("0000"), 4);
    EXPECT_EQ(m.precision, 0.0);
    EXPECT_EQ(m.recall, 0.0);
    EXPECT_EQ(m.f1, 0.0);
}

TEST(SelectionMetrics, OnlyTheDatasetsParticlesCount)
{
    // The framework's mask may be longer than the dataset, or (never written
    // yet) shorter; flags beyond the dataset never count, missing flags are unset.
    SelectionMetrics m = SelectionMetrics::Compute(Flags("011011"), Flags("0110"), 4);
    EXPECT_EQ(m.selected, 2u);
    EXPECT_DOUBLE_EQ(m.precision, 1.0);
    m = SelectionMetrics::Compute(Flags("01"), Flags("0110"), 4);
    EXPECT_EQ(m.selected, 1u);
    EXPECT_EQ(m.targetSize, 2u);
    EXPECT_DOUBLE_EQ(m.recall, 0.5);
}
