#pragma once
// SummaryPlot: draws a study summary as a self-contained SVG picture, two
// panels side by side: completion time and F1, one column of points per
// dataset (the last one over all datasets), one coloured point per technique
// with its 95 % confidence interval as an error bar.
#include "framework/runner/ResultsSummary.h"

#include <string>
#include <vector>

class SummaryPlot {
public:
    static std::string Svg(const std::vector<SummaryGroup>& groups, const std::string& title);
};
