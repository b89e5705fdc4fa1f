#pragma once
// LatinSquare: the balanced Latin square (Williams design) that orders the
// conditions of a within-participant study. Over a block of RowCount(n)
// consecutive participants every condition takes every position equally
// often, and every condition follows every other one equally often, so
// neither practice nor fatigue nor carry-over favours one condition.
#include <vector>

class LatinSquare {
public:
    // Rows in one balanced block: n for an even number of conditions, 2n for
    // an odd one (the square and its mirror).
    static int RowCount(int conditions);
    // Order of conditions 0..n-1 for a participant. Participant 1 gets row 0,
    // participant 2 row 1, and so on, wrapping after RowCount; ids below 1
    // wrap the same way, so every integer id has an order.
    static std::vector<int> Order(int conditions, int participantId);
};
