#pragma once
// ResultsSummary: reads the per-participant trial files of a study and sums
// them up per technique and dataset: mean and 95 % confidence interval of the
// completion time and of F1. Practice trials are left out unless asked for.
// With `perParticipant` each participant's trials of a technique and dataset
// are averaged first, so every participant counts once; otherwise every trial
// is one observation. A trial (participant and trial number) with rows in
// several files, as a resumed or restarted session leaves them, counts once:
// the latest complete row (latest start time, then the file given last).
// Answers files (P<id>_answers*.csv) may be given beside the trial files:
// their TLX and SUS scores join the per-participant means. Pilot rows
// (pilot=1) and real ones never join one summary: a file that would mix them
// is refused. Files without a pilot column hold real rows.
#include "framework/runner/AnswersLog.h"
#include "framework/runner/SampleStatistics.h"

#include <string>
#include <vector>

// One participant's mean of one measure under one technique.
struct ParticipantMean {
    std::string participant;
    std::string technique;
    std::string measure;   // "completion_time_s", "f1", "tlx", "tlx_weighted", "sus"
    double value = 0.0;
};

struct SummaryGroup {
    std::string technique;
    std::string dataset;     // AllDatasets for the technique over every dataset
    SampleStatistics time;   // seconds
    SampleStatistics f1;
};

class ResultsSummary {
public:
    static const char* const AllDatasets;

    bool includePractice = false;
    bool perParticipant = false;

    // Adds the trials of one file. Returns the problems ("file:line: what");
    // a file with any problem adds nothing.
    std::vector<std::string> AddFile(const std::string& path);
    std::vector<std::string> AddText(const std::string& name, const std::string& text);
    // Per participant and technique: the mean of the counted trials' time
    // and F1, and the mean score of each questionnaire answered about the
    // technique (complete ones only). Participants in the order first seen,
    // techniques as in Groups(), measures as listed above.
    std::vector<ParticipantMean> ParticipantMeans() const;
    // Techniques in the order Groups() shows them.
    std::vector<std::string> Techniques() const;

    // True when the rows read are a pilot's.
    bool Pilot() const { return !pilotFrom.empty(); }
    // Trials counted: each once, practice only when included.
    int TrialCount() const { return static_cast<int>(Counted().size()); }
    // Trials that have more than one row; each counts once.
    int RepeatedTrials() const;

    // Datasets in the order first seen, "density" before "cylinder", then
    // one AllDatasets group per technique.
    std::vector<SummaryGroup> Groups() const;
    // An aligned text table of the groups, and the same as CSV.
    static std::string Table(const std::vector<SummaryGroup>& groups);
    static std::string Csv(const std::vector<SummaryGroup>& groups);
    // Rows of cells in columns two blanks apart; a number with `digits`
    // decimals, "-" for NaN.
    static std::string Aligned(const std::vector<std::vector<std::string>>& cells);
    static std::string Fixed(double v, int digits);

private:
    struct Trial {
        std::string participant;
        std::string technique;
        std::string dataset;
        double time = 0.0;
        double f1 = 0.0;
        bool practice = false;
        std::string trial;    // empty in files without a "trial" column
        std::string started;  // ISO 8601, compares as text; may be empty
    };
    std::vector<Trial> Counted() const;
    // False, with a problem, when a row of `name` would mix pilot and real rows.
    bool KeepApart(const std::string& name, bool pilotRow, std::vector<std::string>& problems);
    std::vector<Trial> trials;  // every complete row, in the order read
    std::vector<AnswerRow> answers;
    std::string pilotFrom, realFrom;  // the first file read with pilot rows, with real rows
};
