#include "framework/runner/SelectionMetrics.h"

#include <algorithm>

SelectionMetrics SelectionMetrics::Compute(const std::vector<bool>& selection, const std::vector<bool>& target,
                                           std::size_t particles)
{
    SelectionMetrics m;
    const std::size_t n = std::min({particles, selection.size(), target.size()});
    for (std::size_t i = 0; i < n; ++i) {
        m.selected += selection[i];
        m.targetSize += target[i];
        m.truePositives += selection[i] && target[i];
    }
    // Flags beyond one of the two masks are unset in that mask.
    for (std::size_t i = n; i < std::min(particles, selection.size()); ++i) m.selected += selection[i];
    for (std::size_t i = n; i < std::min(particles, target.size()); ++i) m.targetSize += target[i];
    if (m.selected > 0) m.precision = static_cast<double>(m.truePositives) / m.selected;
    if (m.targetSize > 0) m.recall = static_cast<double>(m.truePositives) / m.targetSize;
    if (m.precision + m.recall > 0.0) m.f1 = 2.0 * m.precision * m.recall / (m.precision + m.recall);
    return m;
}
