#include "framework/runner/LatinSquare.h"

#include <algorithm>

int LatinSquare::RowCount(int conditions)
{
    if (conditions < 1) return 0;
    return conditions % 2 == 0 ? conditions : 2 * conditions;
}

std::vector<int> LatinSquare::Order(int conditions, int participantId)
{
    std::vector<int> order;
    if (conditions < 1) return order;
    const int rows = RowCount(conditions);
    const int row = ((participantId - 1) % rows + rows) % rows;
    // First row 0, 1, n-1, 2, n-2, ...: its steps take every difference once,
    // which is what balances the immediate successors.
    std::vector<int> first(conditions);
    for (int i = 0, low = 1, high = conditions - 1; i < conditions; ++i) {
        if (i == 0) first[i] = 0;
        else if (i % 2 == 1) first[i] = low++;
        else first[i] = high--;
    }
    const int shift = row % conditions;
    for (int i = 0; i < conditions; ++i) order.push_back((first[i] + shift) % conditions);
    if (row >= conditions) std::reverse(order.begin(), order.end());
    return order;
}
