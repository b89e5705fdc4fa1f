#pragma once
// ResultsLog: the two results files of one participant session, written while
// the study runs. `P<id>_trials.csv` gets one row per finished trial,
// `P<id>_lassos.csv` one row per lasso. If either name is taken the session
// uses `P<id>_trials_2.csv` and `P<id>_lassos_2.csv` (then _3, ...), so no
// earlier file is ever touched. Each row is synced to the disk when written:
// a crash loses at most the trial in progress.
#include "framework/runner/DurableCsvFile.h"
#include "framework/runner/LassoRecord.h"

#include <string>
#include <vector>

struct TrialRow {
    int participant = 0;
    int condition = 0;
    int trial = 0;               // 1-based position in the participant's sequence
    bool practice = false;
    std::string dataset;         // the dataset's name
    std::string technique;       // "density" or "cylinder"
    long long targetSize = 0;
    double completionTime = 0.0; // seconds from start to done
    long long lassos[3] = {0, 0, 0};  // plus, minus, intersection
    long long undos = 0, redos = 0, clears = 0, thresholdChanges = 0;
    float finalThreshold = 1.0f;
    long long selected = 0, truePositives = 0;
    double precision = 0.0, recall = 0.0, f1 = 0.0;
    std::string trialName;       // the study file's name for the trial
    std::string startedUtc;      // wall-clock start, ISO 8601
    long long rotations = 0;     // drags that turned the view
    std::string input;           // how the participant pointed: "mouse", "touch", "board", "mice", joined by "+"
    bool touchOnly = false;      // the Qt mouse was off (touch-only mode) at some time of the trial
    bool pilot = false;          // a pilot session (its files lie in the pilot folder)
};

struct LassoRow {
    int participant = 0;
    int trial = 0;
    int lasso = 0;               // 1-based within the trial
    double sinceStart = 0.0;     // seconds since the trial started
    std::string dataset;
    std::string technique;
    LassoRecord record;
    bool pilot = false;
};

// A trials file written earlier for the participant: its header and its
// complete rows (a row cut off by a crash, or one with the wrong number of
// fields, is left out), each with its line in the file.
struct EarlierTrials {
    std::string path;
    int session = 1;  // 1 for P<id>_trials.csv, k for P<id>_trials_k.csv
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<int> lines;
    // The field of `row` in column `name`, or empty without that column.
    std::string Field(size_t row, const std::string& name) const;
};

class ResultsLog {
public:
    static const std::vector<std::string>& TrialColumns();
    static const std::vector<std::string>& LassoColumns();
    static const char* ModeName(LassoRecord::Mode mode);

    // The participant's trials files in `folder`, in session order.
    static std::vector<EarlierTrials> ReadEarlierTrials(const std::string& folder, int participantId);

    // Creates the folder if needed and both files with their header rows.
    bool Open(const std::string& folder, int participantId, std::string& error);
    bool WriteTrial(const TrialRow& row, std::string& error);
    bool WriteLasso(const LassoRow& row, std::string& error);
    // Rows that could not be written wait in memory (DurableCsvFile) for
    // Retry; Close saves them beside their file.
    size_t Unsaved() const { return trials.Unsaved() + lassos.Unsaved(); }
    bool Retry(std::string& error) { return trials.Retry(error) & lassos.Retry(error); }
    void Close();
    // True when neither file holds more than its header.
    bool HoldsOnlyHeaders() const { return trials.HoldsOnlyHeader() && lassos.HoldsOnlyHeader(); }
    // Closes both files and removes them when both hold only their headers.
    void CloseAndRemoveIfEmpty();

    std::string TrialsPath() const { return trials.Path(); }
    std::string LassosPath() const { return lassos.Path(); }

    static std::string TrialRecordText(const TrialRow& row);
    static std::string LassoRecordText(const LassoRow& row);

private:
    DurableCsvFile trials;
    DurableCsvFile lassos;
};
