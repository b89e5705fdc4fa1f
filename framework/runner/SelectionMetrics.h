#pragma once
// SelectionMetrics: how well a selection matches the target of a trial.
// Both come as per-particle flags; only the first `particles` flags count (the
// framework's mask may be longer than the dataset).
//   precision = true positives / selected, and 0 when nothing is selected:
//               an empty selection has found nothing, it is not "never wrong";
//   recall    = true positives / target size, and 0 for an empty target;
//   F1        = 2 precision recall / (precision + recall), and 0 when both are 0.
#include <cstddef>
#include <vector>

struct SelectionMetrics {
    std::size_t selected = 0;
    std::size_t targetSize = 0;
    std::size_t truePositives = 0;
    double precision = 0.0;
    double recall = 0.0;
    double f1 = 0.0;

    static SelectionMetrics Compute(const std::vector<bool>& selection, const std::vector<bool>& target,
                                    std::size_t particles);
};
