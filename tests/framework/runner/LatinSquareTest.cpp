#include "framework/runner/LatinSquare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

TEST(LatinSquare, TwoTechniquesAlternateOverParticipants)
{
    EXPECT_EQ(LatinSquare::RowCount(2), 2);
    EXPECT_EQ(LatinSquare::Order(2, 1), (std::vector<int>{0, 1}));
    EXPECT_EQ(LatinSquare::Order(2, 2), (std::vector<int>{1, 0}));
    EXPECT_EQ(LatinSquare::Order(2, 3), (std::vector<int>{0, 1}));
    EXPECT_EQ(LatinSquare::Order(2, 14), (std::vector<int>{1, 0}));
    // Ids below 1 still get an order, continuing the same cycle.
    EXPECT_EQ(LatinSquare::Order(2, 0), (std::vector<int>{1, 0}));
    EXPECT_EQ(LatinSquare::Order(2, -1), (std::vector<int>{0, 1}));
}

TEST(LatinSquare, EveryBlockOfParticipantsIsBalanced)
{
    for (int n = 1; n <= 7; ++n) {
        const int rows = LatinSquare::RowCount(n);
        EXPECT_EQ(rows, n % 2 ? 2 * n : n) << n;
        // Any run of `rows` consecutive ids is a full block, wherever it starts.
        for (int firstId : {1, 5, 38}) {
            std::vector<std::vector<int>> position(n, std::vector<int>(n, 0));
            std::map<std::pair<int, int>, int> successor;
            for (int id = firstId; id < firstId + rows; ++id) {
                const std::vector<int> order = LatinSquare::Order(n, id);
                ASSERT_EQ(static_cast<int>(order.size()), n);
                std::vector<int> sorted = order;
                std::sort(sorted.begin(), sorted.end());
                for (int i = 0; i < n; ++i) ASSERT_EQ(sorted[i], i) << "not a permutation, n=" << n;
                for (int i = 0; i < n; ++i) ++position[order[i]][i];
                for (int i = 0; i + 1 < n; ++i) ++successor[{order[i], order[i + 1]}];
            }
            for (int c = 0; c < n; ++c)
                for (int p = 0; p < n; ++p)
                    EXPECT_EQ(position[c][p], rows / n) << "n=" << n << " condition " << c << " position " << p;
            // Each ordered pair of different conditions is adjacent equally often.
            if (n > 1) {
                const int expected = rows * (n - 1) / (n * (n - 1));
                for (int a = 0; a < n; ++a) {
                    for (int b = 0; b < n; ++b) {
                        if (a == b) continue;
                        EXPECT_EQ(successor[std::make_pair(a, b)], expected) << "n=" << n << " " << a << "->" << b;
                    }
                }
            }
        }
    }
}
