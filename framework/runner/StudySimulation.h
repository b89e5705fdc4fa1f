#pragma once
// StudySimulation: runs a whole study without a person, through the same
// StudyRunner that Pravik drives, so the files, their order and columns are
// Pravik's own. Each trial is shown as Pravik shows it (StartViewCamera in a
// viewport the size of the 3D area of Pravik's default window); the target's
// particles are projected with those matrices and SimulatedParticipant draws
// a lasso around them (a click at the target's projected centre for a click
// technique). Where the selection's F1 stays below CorrectionF1 the
// participant adds what is missing (a plus lasso around the target particles
// not selected) or takes away what is wrong, whichever set is larger: a minus
// lasso around the wrongly selected particles that lie outside the target's
// outline on the screen, on the side of it (one of eight sectors about its
// centre) that holds most of them; what lies in front of or behind the target
// stays. At most MaxCorrections times; a correction that lowers F1 is undone.
//
// Time: the runner's clock is the simulated one. A trial is presented, the
// participant looks for LookSeconds and presses Start; the trial lasts
// SimulatedParticipant::CompletionTime (lassos, the outlines' length, the
// learning and the technique's factor); lasso k is logged at the share of
// that time the model gives what comes before its end (2 s, then per lasso
// 1.2 s and its outline at 900 px/s; the model's last 0.5 s press Done). The
// next trial is presented at once. The wall-clock stamps are simulated too:
// participant p's session s starts at SimulatedStartUtc + (p - 1) days +
// (s - 1) hours.
//
// Questionnaires are answered by SimulatedParticipant::Answer from the means
// of the participant's measured trials they ask about (read back from the
// files: the block's, the technique's), each item taking AnswerSeconds; a
// break is waited out to its minimum exactly; the participant form is filled
// (SimulatedParticipant::FillForm) in FormSeconds.
//
// Each trial, questionnaire and the form draw from a generator of their own
// (seed, participant, step), so a resumed session runs what remains exactly
// as an uninterrupted one would, a questionnaire from its first unanswered
// item: the rows are the same, only split over the sessions' files.
//
// In: a SimulationView (the selection engine behind a headless scene), the
// settings. Out: the study's results files. Cost: one engine lasso per lasso.
#include "framework/runner/LassoRecord.h"
#include "framework/runner/StudyRunner.h"

#include <osg/Matrixd>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the simulation needs of the selection engine: the scene of one
// dataset under a camera, and lassos, clicks and undo on its selection, with
// the technique FerrowManager holds (the trial's, set by the runner).
class SimulationView {
public:
    virtual ~SimulationView() = default;
    // Shows dataset `datasetNr` (FerrowDatasetManager's) under these
    // matrices in a viewport at 0, 0 of this size, with an empty selection
    // at `threshold`.
    virtual void Present(int datasetNr, const osg::Matrixd& model, const osg::Matrixd& view,
                         const osg::Matrixd& projection, int width, int height, float threshold) = 0;
    // One lasso (at least 3 window points) or click (one point). Returns
    // false with `refusal` saying why when the engine refused it.
    virtual bool Select(LassoRecord::Mode mode, const std::vector<osg::Vec2f>& points, std::string& refusal) = 0;
    virtual void Undo() = 0;
    // One flag per particle of the presented dataset.
    virtual const std::vector<bool>& Mask() const = 0;
};

class StudySimulation {
public:
    // The 3D area of Pravik's window in its default layout (a 2400 x 1600
    // display, no configuration file): the main area less the touch column.
    static constexpr int ViewportWidth = 794;
    static constexpr int ViewportHeight = 720;
    static constexpr double CorrectionF1 = 0.8;
    static constexpr int MaxCorrections = 2;
    static constexpr double LookSeconds = 3.0;
    static constexpr double AnswerSeconds = 4.0;  // per questionnaire item
    static constexpr double FormSeconds = 30.0;
    static constexpr const char* SimulatedStartUtc = "2030-01-07T09:00:00.000Z";
    // How a simulated participant points, in the trials file's input column.
    static constexpr const char* InputName = "simulated";

    struct Settings {
        std::uint64_t seed = 1;
        std::string results;  // empty: the study file's results folder
        bool pilot = false;
        // Technique name -> factor of its completion time (1 unless given).
        std::map<std::string, double> timeFactors;
        // Stops the run, as a power cut would, once this many trial and
        // answer rows have been written; negative: never.
        long long interruptAfter = -1;
    };

    StudySimulation(SimulationView& view, Settings settings);

    // Reads and checks the study; the problems, one line each.
    std::vector<std::string> Load(const std::string& studyPath);
    // Runs (or resumes) one participant's session. Returns an error, or
    // empty; `lines` gets what to print.
    std::string Run(int participantId, std::vector<std::string>& lines);
    bool Interrupted() const { return interrupted; }
    long long RowsWritten() const { return rows; }
    std::string ResultsFolder() const;

private:
    // What the participant experienced in the trials a questionnaire asks
    // about: the means of their measured trials (of the block, 0: all; of
    // the technique, empty: all), and the mean F1 per technique as liking.
    struct Experience {
        double meanF1 = 0.7, meanTime = 10.0;
        std::map<std::string, double> liking;
    };
    static constexpr std::uint64_t QuestionnaireStream = 500000, FormStream = 900000;

    // Runs the presented trial to its row; false once interrupted.
    bool RunTrial(StudyRunner& runner, std::uint64_t trialSeed);
    Experience Experienced(const StudyRunner& runner, int block, const std::string& technique) const;
    // Answers the questionnaire asked now, from its first unanswered item;
    // an error, or empty.
    std::string AnswerQuestionnaire(StudyRunner& runner, std::uint64_t stream);
    bool CountRow();

    SimulationView& view;
    Settings settings;
    std::string studyPath;
    std::string resultsFolder;
    long long rows = 0;
    bool interrupted = false;
    double clock = 0.0;
};
