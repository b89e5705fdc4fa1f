#include "framework/runner/ResultsSummary.h"

#include "framework/runner/CsvFormat.h"
#include "framework/runner/Questionnaire.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

const char* const ResultsSummary::AllDatasets = "all";

namespace {

int TechniqueRank(const std::string& t)
{
    if (t == "density") return 0;
    if (t == "cylinder") return 1;
    return 2;
}

}  // namespace

std::vector<std::string> ResultsSummary::AddFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {path + ": cannot open the trials file"};
    std::stringstream text;
    text << in.rdbuf();
    return AddText(path, text.str());
}

std::vector<std::string> ResultsSummary::AddText(const std::string& name, const std::string& text)
{
    const std::vector<std::vector<std::string>> rows = CsvFormat::Parse(text);
    if (rows.empty()) return {name + ": the file is empty"};
    if (std::find(rows[0].begin(), rows[0].end(), "questionnaire") != rows[0].end()) {
        std::vector<std::string> problems;
        const std::vector<AnswerRow> read = AnswersLog::Parse(name, text, problems);
        for (const AnswerRow& a : read)
            if (!problems.empty() || !KeepApart(name, a.pilot, problems)) break;
        if (problems.empty()) answers.insert(answers.end(), read.begin(), read.end());
        return problems;
    }
    const char* needed[] = {"participant", "practice", "dataset", "technique", "completion_time_s", "f1"};
    int column[6];
    std::vector<std::string> problems;
    for (int k = 0; k < 6; ++k) {
        const auto it = std::find(rows[0].begin(), rows[0].end(), needed[k]);
        column[k] = static_cast<int>(it - rows[0].begin());
        if (it == rows[0].end())
            problems.push_back(name + ":1: no column \"" + needed[k] + "\"; is this a trials file?");
    }
    if (!problems.empty()) return problems;

    // Optional: without them every row counts.
    auto optional = [&](const char* name) {
        const auto it = std::find(rows[0].begin(), rows[0].end(), name);
        return it == rows[0].end() ? -1 : static_cast<int>(it - rows[0].begin());
    };
    const int trialColumn = optional("trial"), startedColumn = optional("started_utc");
    // Files written before the column existed hold real sessions only.
    const int pilotColumn = optional("pilot");

    std::vector<Trial> added;
    // Row r is on line r + 1: the files hold no line breaks inside fields.
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        const std::string where = name + ":" + std::to_string(r + 1) + ": ";
        if (row.size() == 1 && row[0].empty()) continue;
        if (row.size() != rows[0].size()) {
            problems.push_back(where + "has " + std::to_string(row.size()) + " fields, the header " +
                               std::to_string(rows[0].size()));
            continue;
        }
        Trial t;
        t.participant = row[column[0]];
        t.dataset = row[column[2]];
        t.technique = row[column[3]];
        const std::string& practice = row[column[1]];
        if (practice != "0" && practice != "1") {
            problems.push_back(where + "practice \"" + practice + "\" is neither 0 nor 1");
            continue;
        }
        if (!CsvFormat::ToNumber(row[column[4]], t.time) || !std::isfinite(t.time)) {
            problems.push_back(where + "completion time \"" + row[column[4]] + "\" is not a number");
            continue;
        }
        if (!CsvFormat::ToNumber(row[column[5]], t.f1) || !std::isfinite(t.f1)) {
            problems.push_back(where + "F1 \"" + row[column[5]] + "\" is not a number");
            continue;
        }
        t.practice = practice == "1";
        const std::string pilot = pilotColumn >= 0 ? row[pilotColumn] : "0";
        if (pilot != "0" && pilot != "1") {
            problems.push_back(where + "pilot \"" + pilot + "\" is neither 0 nor 1");
            continue;
        }
        if (!KeepApart(name, pilot == "1", problems)) return problems;
        if (trialColumn >= 0) t.trial = row[trialColumn];
        if (startedColumn >= 0) t.started = row[startedColumn];
        added.push_back(t);
    }
    if (!problems.empty()) return problems;
    trials.insert(trials.end(), added.begin(), added.end());
    return {};
}

bool ResultsSummary::KeepApart(const std::string& name, bool pilotRow, std::vector<std::string>& problems)
{
    std::string& mine = pilotRow ? pilotFrom : realFrom;
    const std::string& other = pilotRow ? realFrom : pilotFrom;
    if (!other.empty()) {
        problems.push_back(name + ": holds " + (pilotRow ? "pilot rows (pilot=1)" : "real rows (pilot=0)") +
                           ", " + other + " " + (pilotRow ? "real ones" : "pilot ones") +
                           "; pilot data is summed up on its own (the results folder's pilot folder)");
        return false;
    }
    if (mine.empty()) mine = name;
    return true;
}

std::vector<ResultsSummary::Trial> ResultsSummary::Counted() const
{
    // The row that counts for each trial: the latest start, and of equal
    // starts the one read last.
    std::map<std::pair<std::string, std::string>, size_t> latest;
    for (size_t k = 0; k < trials.size(); ++k) {
        if (trials[k].trial.empty()) continue;
        const auto key = std::make_pair(trials[k].participant, trials[k].trial);
        const auto it = latest.find(key);
        if (it == latest.end()) latest.emplace(key, k);
        else if (trials[k].started >= trials[it->second].started) it->second = k;
    }
    std::vector<Trial> counted;
    for (size_t k = 0; k < trials.size(); ++k) {
        const Trial& t = trials[k];
        if (!t.trial.empty() && latest.at(std::make_pair(t.participant, t.trial)) != k) continue;
        if (t.practice && !includePractice) continue;
        counted.push_back(t);
    }
    return counted;
}

int ResultsSummary::RepeatedTrials() const
{
    std::map<std::pair<std::string, std::string>, int> rows;
    for (const Trial& t : trials)
        if (!t.trial.empty()) ++rows[std::make_pair(t.participant, t.trial)];
    int repeated = 0;
    for (const auto& r : rows) repeated += r.second > 1;
    return repeated;
}

std::vector<std::string> ResultsSummary::Techniques() const
{
    std::vector<std::string> techniques;
    for (const Trial& t : Counted())
        if (std::find(techniques.begin(), techniques.end(), t.technique) == techniques.end())
            techniques.push_back(t.technique);
    std::stable_sort(techniques.begin(), techniques.end(), [](const std::string& a, const std::string& b) {
        return TechniqueRank(a) < TechniqueRank(b);
    });
    return techniques;
}

std::vector<ParticipantMean> ResultsSummary::ParticipantMeans() const
{
    const std::vector<Trial> counted = Counted();
    std::vector<std::string> participants;
    auto seen = [&](const std::string& p) {
        if (std::find(participants.begin(), participants.end(), p) == participants.end()) participants.push_back(p);
    };
    for (const Trial& t : counted) seen(t.participant);
    for (const AnswerRow& a : answers) seen(std::to_string(a.participant));

    // (participant, technique, measure) -> values to average.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<double>> values;
    for (const Trial& t : counted) {
        values[std::make_tuple(t.participant, t.technique, std::string("completion_time_s"))].push_back(t.time);
        values[std::make_tuple(t.participant, t.technique, std::string("f1"))].push_back(t.f1);
    }
    // Each questionnaire answered about a technique gives one score; rows of
    // a later session replace an earlier session's answer to the same item.
    std::map<std::string, std::vector<AnswerRow>> byParticipant;
    for (const AnswerRow& a : answers)
        if (!a.technique.empty()) byParticipant[std::to_string(a.participant)].push_back(a);
    for (const auto& p : byParticipant) {
        std::map<std::string, const AnswerRow*> first;
        for (const AnswerRow& a : p.second) first.emplace(a.Placement(), &a);
        for (const auto& placed : AnswersLog::ByPlacement(p.second)) {
            const AnswerRow& where = *first.at(placed.first);
            double score = 0.0;
            auto add = [&](const char* measure) {
                values[std::make_tuple(p.first, where.technique, std::string(measure))].push_back(score);
            };
            if (where.questionnaire == Questionnaire::TlxId) {
                if (Questionnaire::TlxRaw(placed.second, score)) add("tlx");
                if (Questionnaire::TlxWeighted(placed.second, score)) add("tlx_weighted");
            } else if (where.questionnaire == Questionnaire::SusId && Questionnaire::SusScore(placed.second, score)) {
                add("sus");
            }
        }
    }

    std::vector<ParticipantMean> means;
    for (const char* measure : {"completion_time_s", "f1", "tlx", "tlx_weighted", "sus"})
        for (const std::string& technique : Techniques())
            for (const std::string& participant : participants) {
                const auto it = values.find(std::make_tuple(participant, technique, std::string(measure)));
                if (it == values.end()) continue;
                means.push_back({participant, technique, measure, SampleStatistics::Of(it->second).mean});
            }
    return means;
}

std::vector<SummaryGroup> ResultsSummary::Groups() const
{
    const std::vector<Trial> counted = Counted();
    std::vector<std::string> datasets;
    for (const Trial& t : counted)
        if (std::find(datasets.begin(), datasets.end(), t.dataset) == datasets.end()) datasets.push_back(t.dataset);
    const std::vector<std::string> techniques = Techniques();

    auto group = [&](const std::string& technique, const std::string* dataset) {
        SummaryGroup g;
        g.technique = technique;
        g.dataset = dataset ? *dataset : AllDatasets;
        std::vector<double> times, f1s;
        if (perParticipant) {
            std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> byParticipant;
            for (const Trial& t : counted) {
                if (t.technique != technique || (dataset && t.dataset != *dataset)) continue;
                byParticipant[t.participant].first.push_back(t.time);
                byParticipant[t.participant].second.push_back(t.f1);
            }
            for (const auto& p : byParticipant) {
                times.push_back(SampleStatistics::Of(p.second.first).mean);
                f1s.push_back(SampleStatistics::Of(p.second.second).mean);
            }
        } else {
            for (const Trial& t : counted) {
                if (t.technique != technique || (dataset && t.dataset != *dataset)) continue;
                times.push_back(t.time);
                f1s.push_back(t.f1);
            }
        }
        g.time = SampleStatistics::Of(times);
        g.f1 = SampleStatistics::Of(f1s);
        return g;
    };

    std::vector<SummaryGroup> groups;
    for (const std::string& d : datasets)
        for (const std::string& t : techniques) {
            SummaryGroup g = group(t, &d);
            if (g.time.n > 0) groups.push_back(g);
        }
    for (const std::string& t : techniques) groups.push_back(group(t, nullptr));
    return groups;
}

std::string ResultsSummary::Table(const std::vector<SummaryGroup>& groups)
{
    const std::vector<std::string> header = {"technique", "dataset", "n", "time_mean_s", "time_ci95",
                                             "f1_mean", "f1_ci95"};
    std::vector<std::vector<std::string>> cells = {header};
    for (const SummaryGroup& g : groups) {
        cells.push_back({g.technique, g.dataset, std::to_string(g.time.n), Fixed(g.time.mean, 3),
                         "[" + Fixed(g.time.Low(), 3) + ", " + Fixed(g.time.High(), 3) + "]", Fixed(g.f1.mean, 4),
                         "[" + Fixed(g.f1.Low(), 4) + ", " + Fixed(g.f1.High(), 4) + "]"});
    }
    return Aligned(cells);
}

std::string ResultsSummary::Fixed(double v, int digits)
{
    if (std::isnan(v)) return "-";
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, digits);
    return std::string(buffer, r.ptr);
}

std::string ResultsSummary::Aligned(const std::vector<std::vector<std::string>>& cells)
{
    std::vector<size_t> width;
    for (const auto& row : cells) {
        width.resize(std::max(width.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    }
    std::string out;
    for (const auto& row : cells) {
        for (size_t c = 0; c < row.size(); ++c) {
            out += row[c];
            if (c + 1 < row.size()) out += std::string(width[c] - row[c].size() + 2, ' ');
        }
        out += "\n";
    }
    return out;
}

std::string ResultsSummary::Csv(const std::vector<SummaryGroup>& groups)
{
    std::string out = "technique,dataset,n,time_mean_s,time_sd_s,time_ci95_low_s,time_ci95_high_s,f1_mean,f1_sd,"
                      "f1_ci95_low,f1_ci95_high\n";
    for (const SummaryGroup& g : groups) {
        out += CsvFormat::Record({CsvFormat::Field(g.technique), CsvFormat::Field(g.dataset),
                                  std::to_string(g.time.n), CsvFormat::Number(g.time.mean, 9),
                                  CsvFormat::Number(g.time.sd, 9), CsvFormat::Number(g.time.Low(), 9),
                                  CsvFormat::Number(g.time.High(), 9), CsvFormat::Number(g.f1.mean, 9),
                                  CsvFormat::Number(g.f1.sd, 9), CsvFormat::Number(g.f1.Low(), 9),
                                  CsvFormat::Number(g.f1.High(), 9)}) +
               "\n";
    }
    return out;
}
