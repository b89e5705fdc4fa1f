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
//   Questioning          a questionnaire of the study file: Answer() (or,
//                        where allowed, SkipItem()) takes its items in order,
//                        each answer one synced row of P<id>_answers.csv
//   OnBreak              a break: ContinueAfterBreak() goes on once its
//                        minimum time is over
//   Finished             end screen; no technique, nothing counts
//
// With a participant form in the study file, Begin first waits in Form until
// SubmitForm() (unless the participant's file already holds the form's row).
// Trials, questionnaires and breaks follow each other as PlanSteps() says:
// after each technique's run of a block its "after technique" questionnaires
// and, unless it was the last run, the block's own breaks; after the block
// its "after block" questionnaires and the breaks that follow it; after the
// last trial the end-of-study questionnaires.
//
// While a study runs the runner holds FerrowManager's dataset and technique:
// during Running they are the trial's, otherwise the dataset stays and the
// technique is none, so the engine builds no volume outside a trial.
//
// Times are seconds on one monotonic clock chosen by the caller (Now() is the
// one the program uses); only differences are logged.
#include "framework/runner/AnswersLog.h"
#include "framework/runner/EventsLog.h"
#include "framework/runner/LassoRecord.h"
#include "framework/runner/ResultsLog.h"
#include "framework/runner/SelectionMetrics.h"
#include "framework/runner/StudyDefinition.h"
#include "framework/study/FerrowManager.h"

#include <functional>
#include <map>
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

// One step of the participant's session.
struct StudyStep {
    enum Kind { Trial, Questionnaire, Break };
    Kind kind = Trial;
    int trial = -1;           // Trial: index into the trial sequence
    int questionnaire = -1;   // Questionnaire: index into StudyDefinition::questionnaires
    int block = 0;            // Questionnaire: the block it follows, 1-based; 0 at the end of the study
    std::string technique;    // Questionnaire: the technique it is about; empty for a block's or the study's
    int breakEntry = -1;      // Break: index into StudyDefinition::breaks
};

// The questionnaire being asked and where it stands.
struct PendingQuestionnaire {
    Questionnaire questionnaire;
    int block = 0;                 // as in StudyStep and the answers file
    std::string technique;
    size_t firstUnanswered = 0;    // the item asked now
    std::map<std::string, std::string> answers;  // item -> value given so far, earlier sessions included
    const QuestionnaireItem& Item() const { return questionnaire.items[firstUnanswered]; }
};

class StudyRunner {
public:
    enum State { NoStudy, Loaded, Presenting, Running, Finished, Form, Questioning, OnBreak };
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
    static constexpr const char* PilotFolder = "pilot";
    // Where Begin puts the files: the results folder (the command line's or
    // the study file's), or its pilot folder.
    std::string ResultsFolder() const;

    // Starts the participant's session; returns an error message, or empty.
    // An earlier session of the participant in the results folder that did
    // not finish every trial and questionnaire is resumed: the order is
    // rebuilt and the first trial without a row comes next (trials that have
    // one are skipped); rows that do not fit the rebuilt order refuse the
    // resumption. Questionnaires answered completely are skipped, one cut off
    // resumes at its first unanswered item, and the breaks before the first
    // open step are not held again. New rows always go to new files. With
    // SetRestart(true) every session starts at trial 1.
    std::string Begin(int participantId, int condition);
    // The participant's trials in order, as Begin would run them, without
    // touching a file; the study must be loaded.
    std::vector<StudyTrial> PlanSequence(int participantId) const;
    // The whole session in order: trials (indices into PlanSequence's
    // result), questionnaires and breaks.
    std::vector<StudyStep> PlanSteps(int participantId) const;
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
    bool IsQuestioning() const { return state == Questioning; }
    bool IsOnBreak() const { return state == OnBreak; }
    bool IsAskingForm() const { return state == Form; }
    // Begun and not yet finished, or finished: the study owns the view.
    bool HasBegun() const { return state != NoStudy && state != Loaded; }

    const StudyDefinition& Definition() const { return definition; }
    const std::vector<StudyTrial>& Sequence() const { return sequence; }
    // The trial presented or running, or null before Begin and after the end.
    const StudyTrial* CurrentTrial() const;
    // One flag per particle of the current trial's dataset; empty without one.
    const std::vector<bool>& TargetMask() const;
    int ParticipantId() const { return participant; }
    int Condition() const { return condition; }

    // The session's steps (PlanSteps of the participant) and the one now; -1
    // before Begin, while the form is asked and once finished.
    const std::vector<StudyStep>& Steps() const { return steps; }
    int CurrentStep() const { return state == Finished || state == Form ? -1 : step; }

    // The questionnaire being asked; null unless Questioning.
    const PendingQuestionnaire* CurrentQuestionnaire() const;
    // Answers the item asked now (`item` must be its id) and writes the
    // answer's row; after the last item the session moves on (the next
    // questionnaire, a break, a trial, or the end) as of `now`. False, with
    // nothing changed, for another item or a value the item does not take;
    // false also when the row could not be written (LastWriteError(); the
    // row waits in memory as a trial row does, and the session moves on).
    bool Answer(const std::string& item, const std::string& value, double now);
    // Leaves the item asked now unanswered (an empty value), only where the
    // study file lets this questionnaire be skipped.
    bool SkipItem(const std::string& item, double now);

    // The break being held: seconds until the participant may go on (0 once
    // they may, and outside a break), its text, and going on.
    double BreakSecondsLeft(double now) const;
    const std::string& BreakText() const;
    // False before the break's minimum time is over.
    bool ContinueAfterBreak(double now);

    // The participant form's fields (empty without a form).
    const std::vector<FormField>& FormFields() const { return definition.form; }
    // Writes P<id>_participant.csv and goes on to the first step. False, with
    // `problem` saying why, when a required field is missing, a value is not
    // one the field takes, or the file could not be written.
    bool SubmitForm(const std::map<std::string, std::string>& values, double now, std::string* problem = nullptr);
    std::string ParticipantPath() const { return participantPath; }

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
    bool HasUnsaved() const { return log.Unsaved() + events.Unsaved() + answers.Unsaved() > 0; }
    // Writes the waiting rows, oldest first; true once none is left.
    bool RetryWrites();

    // The row of the last finished trial, for feedback after practice trials.
    const TrialRow* LastTrialRow() const { return hasLastRow ? &lastRow : nullptr; }
    const std::string& LastWriteError() const { return writeError; }
    std::string TrialsPath() const { return log.TrialsPath(); }
    std::string LassosPath() const { return log.LassosPath(); }
    std::string EventsPath() const { return events.Path(); }
    std::string AnswersPath() const { return answers.Path(); }

private:
    void Plan(int participantId, std::vector<StudyTrial>* trials, std::vector<StudyStep>* plan) const;
    // Goes to step `index` or the first after it not done earlier, entered
    // at `now`; past the last step the study is finished.
    void EnterStep(int index, double now);
    bool RecordAnswer(const std::string& value, double now);
    std::string Placement(const StudyStep& s) const;
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
    int current = -1;                 // the trial presented, running, or last run
    std::vector<StudyStep> steps;
    std::vector<bool> stepDone;       // per step: done in an earlier session
    int step = -1;
    PendingQuestionnaire pending;
    double breakStart = 0.0;
    // Placement ("block/technique/questionnaire") -> item -> value, of this
    // session and the one it resumes.
    std::map<std::string, std::map<std::string, std::string>> given;
    int session = 1;
    AnswersLog answers;
    std::string participantPath;
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
