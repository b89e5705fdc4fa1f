#pragma once
// StudyRunner: runs a study file for one participant. It is the state machine
// that the visualization drives; it has no user interface of its own.
//
//   Load(path)           read, resolve and check the whole study; nothing
//                        starts unless everything is valid
//   Begin(id, cond)      order the trials for the participant, open new
//                        results files, present the first trial (or, when
//                        an earlier session of the participant stopped
//                        early, the first trial it left without a row)
//   Presenting           the target is shown (TargetMask); no lasso counts
//                        and no selection volume is built
//   StartTrial(now)      -> Running: lassos, threshold changes, undos, redos
//                        and clears are counted, each lasso logged at once
//   FinishTrial(m, now)  scores the selection, writes the trial row and
//                        presents the next trial, or ends the study
//   Finished             end screen; no technique, nothing counts
//
// While a study runs the runner holds FerrowManager's dataset and technique:
// during Running they are the trial's, otherwise the dataset stays and the
// technique is none, so the engine builds no volume outside a trial.
//
// Times are seconds on one monotonic clock chosen by the caller (Now() is the
// one the program uses); only differences are logged.
#include "framework/runner/EventsLog.h"
#include "framework/runner/LassoRecord.h"
#include "framework/runner/ResultsLog.h"
#include "framework/runner/SelectionMetrics.h"
#include "framework/runner/StudyDefinition.h"
#include "framework/study/FerrowManager.h"

#include <functional>
#include <string>
#include <vector>

// One trial of the participant's sequence.
struct StudyTrial {
    int number = 0;                 // 1-based position in the sequence
    int entry = 0;                  // index into StudyDefinition::trials
    std::string name;
    bool practice = false;
    FerrowManager::Technique technique = FerrowManager::PravikTechnique;
    std::string techniqueName;      // "density", "cylinder" or another registered name
    int datasetNr = 0;              // number in FerrowDatasetManager
    std::string datasetName;        // the dataset's id in the study file
    StartView view;
    float startThreshold = 1.0f;
    std::string instruction;
    long long targetSize = 0;
};

class StudyRunner {
public:
    enum State { NoStudy, Loaded, Presenting, Running, Finished };
    static constexpr double ThresholdGestureGap = 0.5;  // seconds

    // Finds or loads one study dataset in FerrowDatasetManager and returns its
    // number, or -1 with `problem` saying why (without file and line).
    using DatasetLoader = std::function<int(const StudyDatasetEntry& dataset, std::string& problem)>;

    static StudyRunner* Instance();
    static void Destroy();
    StudyRunner();
    // Gives the framework's dataset and technique back.
    ~StudyRunner();
    StudyRunner(const StudyRunner&) = delete;
    StudyRunner& operator=(const StudyRunner&) = delete;

    // Seconds on the program's monotonic clock.
    static double Now();

    // Reads and checks the study file. Returns the problems, one line each as
    // "file:line: what"; with any problem the runner keeps what it had before.
    std::vector<std::string> Load(const std::string& path);
    // Replaces the default loader (built-in names and dataset files).
    void SetDatasetLoader(DatasetLoader loader) { datasetLoader = std::move(loader); }
    // Overrides the study file's results folder (the command line does).
    void SetResultsFolder(const std::string& folder) { resultsOverride = folder; }
    // A pilot session: its files go to the results folder's PilotFolder and
    // every row says pilot=1, so pilot data never mixes with the real data.
    void SetPilot(bool on) { pilot = on; }
    bool IsPilot() const { return pilot; }
    static constexpr const char* PilotFolder = "pilot";
    // Where Begin puts the files: the results folder (the command line's or
    // the study file's), or its pilot folder.
    std::string ResultsFolder() const;

    // Starts the participant's session; returns an error message, or empty.
    // An earlier session of the participant in the results folder that did
    // not finish every trial is resumed: the order is rebuilt and the first
    // trial without a row comes next (trials that have one are skipped);
    // rows that do not fit the rebuilt order refuse the resumption. New rows
    // always go to new files. With SetRestart(true) every session starts at
    // trial 1.
    std::string Begin(int participantId, int condition);
    // The participant's trials in order, as Begin would run them, without
    // touching a file; the study must be loaded.
    std::vector<StudyTrial> PlanSequence(int participantId) const;
    // The most techniques any counterbalanced group runs (1 without one).
    int TechniqueCount() const;
    void SetRestart(bool restart) { restartRequested = restart; }
    // The wall-clock stamp (ISO 8601, UTC) of a moment on the runner's
    // clock; without one the system's clock is read. A simulation gives its
    // own, so that its files come out the same every time.
    using WallClock = std::function<std::string(double now)>;
    void SetWallClock(WallClock clock) { wallClock = std::move(clock); }
    std::string UtcAt(double now) const;
    // Trials of the sequence finished in an earlier session (resumed), and
    // what Begin found there, for the console; empty for a plain start.
    int FinishedEarlier() const;
    const std::string& SessionNote() const { return sessionNote; }

    // What the program does at start-up: with an empty `path` the study is
    // DefaultStudyFile in the working directory if there is one; without a
    // study file the program runs in free exploration. Otherwise the study is
    // loaded and begun. `lines` gets what to print: the problems, or where the
    // results go.
    enum SessionStart { FreeExploration, SessionStarted, SessionFailed };
    static constexpr const char* DefaultStudyFile = "study.xml";
    SessionStart OpenSession(const std::string& path, int participantId, int condition,
                             std::vector<std::string>& lines);

    State GetState() const { return state; }
    bool IsLoaded() const { return state != NoStudy; }
    bool IsPresenting() const { return state == Presenting; }
    bool IsRunning() const { return state == Running; }
    bool IsFinished() const { return state == Finished; }

    const StudyDefinition& Definition() const { return definition; }
    const std::vector<StudyTrial>& Sequence() const { return sequence; }
    // The trial presented or running, or null before Begin and after the end.
    const StudyTrial* CurrentTrial() const;
    // One flag per particle of the current trial's dataset; empty without one.
    const std::vector<bool>& TargetMask() const;
    int ParticipantId() const { return participant; }
    int Condition() const { return condition; }

    // Each returns false, and changes nothing, when the state does not allow it.
    bool StartTrial(double now);
    bool OnLasso(const LassoRecord& lasso);
    // A slider drag reports many values; updates less than
    // ThresholdGestureGap apart with nothing else in between count as one
    // change, and a repeated value is no change at all.
    // Each command and each threshold change (its last value) is also a row
    // of the events log; `selectedAfter` is the selected count once it is
    // applied (-1: not known) and a negative `now` means Now().
    bool OnThresholdChange(float threshold, double now, long long selectedAfter = -1);
    bool OnUndo(long long selectedAfter = -1, double now = -1.0);
    bool OnRedo(long long selectedAfter = -1, double now = -1.0);
    bool OnClear(long long selectedAfter = -1, double now = -1.0);
    // A drag that turned the view: counted in the trial row and logged.
    bool OnRotate(long long selectedAfter = -1, double now = -1.0);
    // How the participant points during the running trial: a source name
    // ("mouse", "touch", "board", "mice") each time one is used, and whether
    // the Qt mouse is off (touch-only mode).
    void OnPointer(const std::string& source);
    void SetTouchOnly(bool on);
    // A threshold change is logged once its gesture is over: at the next
    // command, lasso or trial end, or when this is called ThresholdGestureGap
    // after its last update (the visualization calls it every frame).
    void FlushEvents(double now);
    // Scores `selection`, writes the trial row and moves on. Returns false
    // when not running or when the row could not be written: then
    // LastWriteError() says why, the row waits in memory and the study
    // presents the next trial but pauses there (StartTrial refuses) until
    // RetryWrites() has written every waiting row.
    bool FinishTrial(const std::vector<bool>& selection, double now);
    // Rows of any results file (trials, lassos, events) not yet on the disk;
    // rows already written are never touched again. At the end of the
    // session (the runner's destruction) the ones still waiting are saved
    // beside their file, with one console line saying where.
    bool HasUnsaved() const { return log.Unsaved() + events.Unsaved() > 0; }
    // Writes the waiting rows, oldest first; true once none is left.
    bool RetryWrites();

    // The row of the last finished trial, for feedback after practice trials.
    const TrialRow* LastTrialRow() const { return hasLastRow ? &lastRow : nullptr; }
    const std::string& LastWriteError() const { return writeError; }
    std::string TrialsPath() const { return log.TrialsPath(); }
    std::string LassosPath() const { return log.LassosPath(); }
    std::string EventsPath() const { return events.Path(); }

private:
    void Present(int index);
    void Shuffle(std::vector<int>& run, int participantId, int block, int repetition) const;
    // The trial's technique by name; "" for none.
    void HoldFramework(const std::string& technique);
    static int DefaultLoad(const StudyDatasetEntry& dataset, std::string& problem);
    bool OnCommand(EventRow::Command command, long long selectedAfter, double now);
    void WriteEvent(const EventRow& row);
    void WritePendingThreshold();

    static StudyRunner* instance;

    DatasetLoader datasetLoader;
    std::string resultsOverride;
    bool pilot = false;
    WallClock wallClock;
    bool restartRequested = false;
    bool touchOnly = false;
    std::vector<bool> finishedEarlier;  // per sequence position
    std::string sessionNote;

    State state = NoStudy;
    StudyDefinition definition;
    std::vector<int> datasetNumbers;            // per StudyDefinition::datasets
    std::vector<std::vector<bool>> entryTargets;  // per StudyDefinition::trials
    std::vector<StudyTrial> sequence;
    int current = -1;
    int participant = 0;
    int condition = 0;
    ResultsLog log;

    // Counters of the running trial.
    TrialRow row;
    double startTime = 0.0;
    float threshold = 1.0f;
    int lassoCount = 0;
    // Time of the last threshold update while it can still be merged with the
    // next one; NaN once anything else happened.
    double lastThresholdTime = 0.0;
    EventsLog events;
    EventRow pendingThreshold;   // the running gesture's last value
    bool thresholdPending = false;

    TrialRow lastRow;
    bool hasLastRow = false;
    std::string writeError;
};
