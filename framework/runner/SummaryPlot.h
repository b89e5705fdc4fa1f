#pragma once
// SummaryPlot: draws a study summary as a self-contained SVG picture, two
// panels side by side: completion time and F1, one column of points per
// dataset (the last one over all datasets), one coloured point per technique
// with its 95 % confidence interval as an error bar.
#include "framework/runner/PairedSummary.h"
#include "framework/runner/ResultsSummary.h"

#include <string>
#include <vector>

class SummaryPlot {
public:
    static std::string Svg(const std::vector<SummaryGroup>& groups, const std::string& title);
    // The within-subject picture: one panel each for completion time, F1
    // and raw TLX (where answered), a box (quartiles, median, whiskers to the
    // extremes) and the points of the per-participant means per technique,
    // n under each box, and below the panel each pair's mean difference with
    // its interval. Black, white and grey only, so it prints in grey.
    static std::string PairedSvg(const std::vector<ParticipantMean>& means, const std::vector<PairedRow>& rows,
                                 const std::vector<std::string>& techniques, const std::string& title);
};
