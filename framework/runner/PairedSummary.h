#pragma once
// PairedSummary: the within-subject table of a study. In: the per-participant
// means of ResultsSummary. Out: for each measure and each pair of techniques
// (a before b in the summary's technique order, any number of techniques)
// the PairedStatistics of a - b over the participants measured under both,
// with the Holm adjustment of the paired t-tests' p over the pairs of that
// measure; as an aligned text table, as CSV, and the means themselves as a
// tidy table (participant, technique, measure, value).
#include "framework/runner/PairedStatistics.h"
#include "framework/runner/ResultsSummary.h"

#include <string>
#include <vector>

struct PairedRow {
    std::string measure;
    std::string a, b;
    PairedStatistics stats;
    double pHolm = 0.0;
};

class PairedSummary {
public:
    static const char* const WilcoxonRule;

    static std::vector<PairedRow> Rows(const std::vector<ParticipantMean>& means,
                                       const std::vector<std::string>& techniques);
    static std::string Table(const std::vector<PairedRow>& rows);
    // Columns measure,technique_a,technique_b,n,mean_diff,ci_low,ci_high,t,
    // p_t,w,p_wilcoxon,dz,p_holm; an undefined value is empty.
    static std::string Csv(const std::vector<PairedRow>& rows);
    static std::string LongCsv(const std::vector<ParticipantMean>& means);
    // The measures present, in the order of `means`.
    static std::vector<std::string> Measures(const std::vector<ParticipantMean>& means);
};
