#include "framework/runner/PairedSummary.h"

#include "framework/runner/CsvFormat.h"

#include <algorithm>
#include <cmath>
#include <map>

const char* const PairedSummary::WilcoxonRule =
    "Wilcoxon: zero differences dropped, mid-ranks for ties, w = sum of positive ranks; exact p (e) for n <= 25 "
    "without ties, else normal approximation with tie and continuity corrections (a). p_holm: Holm over the "
    "pairs of a measure, of the paired t-tests' p";

namespace {

std::string Fixed(double v, int digits)
{
    return ResultsSummary::Fixed(v, digits);
}

std::string Value(double v)
{
    return std::isfinite(v) ? CsvFormat::Number(v, 12) : std::string();
}

}  // namespace

std::vector<std::string> PairedSummary::Measures(const std::vector<ParticipantMean>& means)
{
    std::vector<std::string> measures;
    for (const ParticipantMean& m : means)
        if (std::find(measures.begin(), measures.end(), m.measure) == measures.end()) measures.push_back(m.measure);
    return measures;
}

std::vector<PairedRow> PairedSummary::Rows(const std::vector<ParticipantMean>& means,
                                           const std::vector<std::string>& techniques)
{
    std::vector<PairedRow> rows;
    for (const std::string& measure : Measures(means)) {
        std::map<std::string, std::map<std::string, double>> byTechnique;  // technique -> participant -> mean
        std::vector<std::string> participants;
        for (const ParticipantMean& m : means) {
            if (m.measure != measure) continue;
            byTechnique[m.technique][m.participant] = m.value;
            if (std::find(participants.begin(), participants.end(), m.participant) == participants.end())
                participants.push_back(m.participant);
        }
        const size_t first = rows.size();
        for (size_t i = 0; i < techniques.size(); ++i)
            for (size_t j = i + 1; j < techniques.size(); ++j) {
                const auto& a = byTechnique[techniques[i]];
                const auto& b = byTechnique[techniques[j]];
                std::vector<double> x, y;
                for (const std::string& p : participants) {
                    const auto ia = a.find(p), ib = b.find(p);
                    if (ia == a.end() || ib == b.end()) continue;
                    x.push_back(ia->second);
                    y.push_back(ib->second);
                }
                if (x.empty()) continue;
                rows.push_back({measure, techniques[i], techniques[j], PairedStatistics::Of(x, y), 0.0});
            }
        std::vector<double> p;
        for (size_t k = first; k < rows.size(); ++k) p.push_back(rows[k].stats.pT);
        const std::vector<double> adjusted = PairedStatistics::Holm(p);
        for (size_t k = first; k < rows.size(); ++k) rows[k].pHolm = adjusted[k - first];
    }
    return rows;
}

std::string PairedSummary::Table(const std::vector<PairedRow>& rows)
{
    const std::vector<std::string> header = {"measure", "a", "b", "n", "mean_a-b", "ci95", "t", "p_t",
                                             "w", "p_wilcoxon", "dz", "p_holm"};
    std::vector<std::vector<std::string>> cells = {header};
    for (const PairedRow& r : rows) {
        const PairedStatistics& s = r.stats;
        cells.push_back({r.measure, r.a, r.b, std::to_string(s.n), Fixed(s.meanDiff, 4),
                         "[" + Fixed(s.ciLow, 4) + ", " + Fixed(s.ciHigh, 4) + "]", Fixed(s.t, 3), Fixed(s.pT, 4),
                         Fixed(s.w, 1), Fixed(s.pWilcoxon, 4) + (std::isnan(s.pWilcoxon) ? "" : s.wilcoxonExact ? " e" : " a"),
                         Fixed(s.dz, 3), Fixed(r.pHolm, 4)});
    }
    return ResultsSummary::Aligned(cells);
}

std::string PairedSummary::Csv(const std::vector<PairedRow>& rows)
{
    std::string out = "measure,technique_a,technique_b,n,mean_diff,ci_low,ci_high,t,p_t,w,p_wilcoxon,dz,p_holm\n";
    for (const PairedRow& r : rows) {
        const PairedStatistics& s = r.stats;
        out += CsvFormat::Record({CsvFormat::Field(r.measure), CsvFormat::Field(r.a), CsvFormat::Field(r.b),
                                  std::to_string(s.n), Value(s.meanDiff), Value(s.ciLow), Value(s.ciHigh),
                                  Value(s.t), Value(s.pT), Value(s.w), Value(s.pWilcoxon), Value(s.dz),
                                  Value(r.pHolm)}) +
               "\n";
    }
    return out;
}

std::string PairedSummary::LongCsv(const std::vector<ParticipantMean>& means)
{
    std::string out = "participant,technique,measure,value\n";
    for (const ParticipantMean& m : means)
        out += CsvFormat::Record({CsvFormat::Field(m.participant), CsvFormat::Field(m.technique),
                                  CsvFormat::Field(m.measure), CsvFormat::Number(m.value, 12)}) +
               "\n";
    return out;
}
