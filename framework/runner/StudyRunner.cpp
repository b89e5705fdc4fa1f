#include "framework/runner/StudyRunner.h"

#include "framework/runner/LatinSquare.h"
#include "framework/runner/ParticipantFile.h"
#include "framework/runner/StudyFileReader.h"
#include "framework/runner/TargetFile.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/DatasetFile.h"
#include "framework/study/FerrowDatasetManager.h"

#include <QDateTime>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

FerrowManager::Technique TechniqueOf(const std::string& name)
{
    if (name == "density") return FerrowManager::PravikTechnique;
    if (name == "cylinder") return FerrowManager::CylinderTechnique;
    return FerrowManager::OtherTechnique;
}

// Deterministic on every platform: the engine's raw output is fixed by the
// standard, and the bounded draw is ours (the library's distributions are not).
unsigned Draw(std::mt19937& engine, unsigned bound)
{
    const std::uint32_t limit = 0xFFFFFFFFu - 0xFFFFFFFFu % bound;
    std::uint32_t x;
    do x = static_cast<std::uint32_t>(engine()); while (x >= limit);
    return x % bound;
}

std::string At(const StudyDefinition& study, int line)
{
    return study.path + ":" + std::to_string(line) + ": ";
}

// What an earlier, unfinished session of the participant left. That session
// is the latest one: from the last file whose first row is trial 1 on (a
// resumed session's files go on with later trials). `seen` marks the trials
// it finished; `firstSession` is the session number its files start at.
// Returns a refusal when a row does not fit `sequence`.
std::string FindEarlierSession(const std::vector<EarlierTrials>& files, const std::vector<StudyTrial>& sequence,
                               std::vector<bool>& seen, int& firstSession, std::string& paths)
{
    size_t first = 0;
    for (size_t f = 0; f < files.size(); ++f)
        if (!files[f].rows.empty() && files[f].Field(0, "trial") == "1") first = f;
    const std::string total = std::to_string(sequence.size());
    const std::string refusal = "; the earlier session cannot be resumed (--restart starts over)";
    seen.assign(sequence.size(), false);
    firstSession = first < files.size() ? files[first].session : 1;
    for (size_t f = first; f < files.size(); ++f) {
        const EarlierTrials& file = files[f];
        if (!file.rows.empty()) paths += (paths.empty() ? "" : ", ") + file.path;
        for (size_t r = 0; r < file.rows.size(); ++r) {
            const std::string where = file.path + ":" + std::to_string(file.lines[r]) + ": ";
            bool ok = false;
            const int number = QString::fromStdString(file.Field(r, "trial")).toInt(&ok);
            if (!ok || number < 1 || number > static_cast<int>(sequence.size()))
                return where + "trial \"" + file.Field(r, "trial") + "\" is not one of the study's " + total +
                       " trials" + refusal;
            const StudyTrial& t = sequence[number - 1];
            const std::string practice = t.practice ? "1" : "0";
            if (file.Field(r, "trial_name") != t.name || file.Field(r, "dataset") != t.datasetName ||
                file.Field(r, "technique") != t.techniqueName || file.Field(r, "practice") != practice)
                return where + "trial " + std::to_string(number) + " was \"" + file.Field(r, "trial_name") + "\" (" +
                       file.Field(r, "dataset") + ", " + file.Field(r, "technique") + ") but is now \"" + t.name +
                       "\" (" + t.datasetName + ", " + t.techniqueName +
                       "): the study file has changed since" + refusal;
            seen[number - 1] = true;
        }
    }
    return {};
}

// 1 for ".../P5_trials.csv", k for ".../P5_trials_k.csv".
int SessionOf(const std::string& trialsPath)
{
    const size_t at = trialsPath.rfind("_trials_");
    if (at == std::string::npos) return 1;
    return std::atoi(trialsPath.c_str() + at + 8);
}

}  // namespace

StudyRunner* StudyRunner::instance = nullptr;

StudyRunner* StudyRunner::Instance()
{
    if (!instance) instance = new StudyRunner();
    return instance;
}

void StudyRunner::Destroy()
{
    delete instance;
    instance = nullptr;
}

StudyRunner::StudyRunner() : datasetLoader(&StudyRunner::DefaultLoad) {}

StudyRunner::~StudyRunner()
{
    // A session that ends before its first lasso or trial (a start that
    // failed further on, a participant who never began) leaves no files that
    // would pass for a session that ran.
    if (log.HoldsOnlyHeaders() && (!events.IsOpen() || events.HoldsOnlyHeader()) &&
        (!answers.IsOpen() || answers.HoldsOnlyHeader())) {
        log.CloseAndRemoveIfEmpty();
        events.CloseAndRemoveIfEmpty();
        answers.CloseAndRemoveIfEmpty();
    }
    if (HasBegun()) FerrowManager::Instance()->UnlockTrial();
}

double StudyRunner::Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int StudyRunner::DefaultLoad(const StudyDatasetEntry& dataset, std::string& problem)
{
    FerrowDatasetManager* manager = FerrowDatasetManager::Instance();
    // A dataset the program already holds (the built-ins loaded at start-up,
    // or a file named twice) is shared rather than loaded again.
    const std::string& key = dataset.builtIn.empty() ? dataset.file : dataset.builtIn;
    for (size_t i = 0; i < manager->names.size(); ++i) {
        if (manager->names[i] == key && manager->datasets[i].valid() && !manager->datasets[i]->empty())
            return static_cast<int>(i);
    }
    if (!dataset.builtIn.empty()) {
        if (BuiltInDatasets::Find(dataset.builtIn) < 0) {
            std::string known;
            for (const std::string& n : BuiltInDatasets::Names()) known += (known.empty() ? "" : ", ") + n;
            problem = "no built-in dataset is named \"" + dataset.builtIn + "\" (known: " + known + ")";
            return -1;
        }
        return manager->AddBuiltIn(dataset.builtIn);
    }
    return manager->TryLoadFile(dataset.file, problem);
}

void StudyRunner::Shuffle(std::vector<int>& run, int participantId, int block, int repetition) const
{
    // The same participant, block and repetition always get the same order,
    // so a session can be rerun or checked afterwards.
    std::mt19937 engine(static_cast<std::uint32_t>(participantId) * 1000003u +
                        static_cast<std::uint32_t>(block) * 1009u + static_cast<std::uint32_t>(repetition));
    std::vector<size_t> places;
    for (size_t k = 0; k < run.size(); ++k)
        if (!definition.trials[run[k]].practice) places.push_back(k);
    for (size_t k = places.size(); k > 1; --k) {
        const size_t j = Draw(engine, static_cast<unsigned>(k));
        std::swap(run[places[k - 1]], run[places[j]]);
    }
}

std::vector<std::string> StudyRunner::Load(const std::string& path)
{
    if (HasBegun() && state != Finished)
        return {path + ": a study is already running; it cannot be replaced"};

    StudyDefinition study;
    // The file's own mistakes do not stop the checks below: whatever could be
    // read is loaded and checked too, so one run lists every mistake.
    std::vector<std::string> problems = StudyFileReader::Read(path, study);

    FerrowDatasetManager* manager = FerrowDatasetManager::Instance();
    std::map<std::string, int> numbers;
    std::vector<int> datasetNrs;
    for (const StudyDatasetEntry& d : study.datasets) {
        std::string problem;
        // An entry without exactly one source has been reported by the reader.
        if (d.builtIn.empty() == d.file.empty()) {
            datasetNrs.push_back(-1);
            if (!d.id.empty() && !numbers.count(d.id)) numbers[d.id] = -1;
            continue;
        }
        const int nr = datasetLoader(d, problem);
        const bool valid = nr >= 0 && nr < static_cast<int>(manager->datasets.size());
        if (!valid) {
            problems.push_back(At(study, d.line) + "dataset \"" + d.id + "\": " +
                               (problem.empty() ? "cannot be loaded" : problem));
        } else if (!manager->datasets[nr].valid() || manager->datasets[nr]->empty()) {
            problems.push_back(At(study, d.line) + "dataset \"" + d.id + "\" holds no particles");
        }
        datasetNrs.push_back(valid ? nr : -1);
        // A repeated id has been reported; the first declaration stands.
        if (!numbers.count(d.id)) numbers[d.id] = datasetNrs.back();
    }

    std::vector<std::vector<bool>> targets(study.trials.size());
    for (size_t i = 0; i < study.trials.size(); ++i) {
        const StudyTrialEntry& t = study.trials[i];
        const int nr = numbers.count(t.dataset) ? numbers[t.dataset] : -1;
        if (nr < 0 || !manager->datasets[nr].valid() || manager->datasets[nr]->empty()) continue;  // reported above
        const size_t particles = manager->datasets[nr]->size();
        std::vector<bool>& target = targets[i];
        if (t.targetLabel >= 0) {
            const std::vector<int>& labels = manager->labels[nr];
            if (labels.size() != particles) {
                problems.push_back(At(study, t.line) + "dataset \"" + t.dataset +
                                   "\" has no structure labels; give the target as a targetFile");
                continue;
            }
            target.assign(particles, false);
            std::set<int> present;
            size_t count = 0;
            for (size_t p = 0; p < particles; ++p) {
                if (labels[p] > 0) present.insert(labels[p]);
                if (labels[p] == t.targetLabel) {
                    target[p] = true;
                    ++count;
                }
            }
            if (count == 0) {
                std::string known;
                for (int l : present) known += (known.empty() ? "" : ", ") + std::to_string(l);
                problems.push_back(At(study, t.line) + "dataset \"" + t.dataset + "\" has no structure labelled " +
                                   std::to_string(t.targetLabel) + " (its labels: " +
                                   (known.empty() ? "none" : known) + ")");
            }
        } else if (!t.targetFile.empty()) {
            const std::vector<std::string> fileProblems = TargetFile::Read(t.targetFile, particles, target);
            for (const std::string& p : fileProblems)
                problems.push_back(At(study, t.line) + "target of trial \"" + t.name + "\": " + p);
        }
    }
    if (!problems.empty()) return problems;

    definition = std::move(study);
    datasetNumbers = std::move(datasetNrs);
    entryTargets = std::move(targets);
    sequence.clear();
    current = -1;
    state = Loaded;
    return {};
}

std::vector<StudyTrial> StudyRunner::PlanSequence(int participantId) const
{
    std::vector<StudyTrial> trials;
    Plan(participantId, &trials, nullptr);
    return trials;
}

std::vector<StudyStep> StudyRunner::PlanSteps(int participantId) const
{
    std::vector<StudyStep> plan;
    Plan(participantId, nullptr, &plan);
    return plan;
}

void StudyRunner::Plan(int participantId, std::vector<StudyTrial>* out, std::vector<StudyStep>* plan) const
{
    std::map<std::string, int> idToIndex;
    for (size_t i = 0; i < definition.datasets.size(); ++i) idToIndex[definition.datasets[i].id] = static_cast<int>(i);

    std::vector<StudyTrial> trials;
    std::vector<StudyStep> steps;
    auto append = [&](int entry, const std::string& technique) {
        const StudyTrialEntry& e = definition.trials[entry];
        StudyTrial t;
        t.number = static_cast<int>(trials.size()) + 1;
        t.entry = entry;
        t.name = e.name;
        t.practice = e.practice;
        t.technique = TechniqueOf(technique);
        t.techniqueName = technique;
        t.datasetNr = datasetNumbers[idToIndex[e.dataset]];
        t.datasetName = e.dataset;
        t.view = e.view;
        t.startThreshold = e.startThreshold;
        t.instruction = e.instruction;
        for (size_t p = 0; p < entryTargets[entry].size(); ++p) t.targetSize += entryTargets[entry][p];
        StudyStep step;
        step.trial = static_cast<int>(trials.size());
        steps.push_back(step);
        trials.push_back(t);
    };
    // The questionnaires of `block` placed at `where`, about `technique`.
    auto ask = [&](int block, StudyQuestionnaireEntry::Placement where, const std::string& technique) {
        for (size_t q = 0; q < definition.questionnaires.size(); ++q) {
            const StudyQuestionnaireEntry& entry = definition.questionnaires[q];
            if (entry.block != block || entry.placement != where) continue;
            StudyStep step;
            step.kind = StudyStep::Questionnaire;
            step.questionnaire = static_cast<int>(q);
            step.block = block + 1;
            step.technique = technique;
            steps.push_back(step);
        }
    };
    // The breaks between blocks after `afterTrials` trials of the file, or
    // (block >= 0) those between the runs of `block`.
    auto rest = [&](int block, size_t afterTrials) {
        for (size_t b = 0; b < definition.breaks.size(); ++b) {
            const StudyBreakEntry& entry = definition.breaks[b];
            if (entry.block != block || (block < 0 && entry.afterTrials != afterTrials)) continue;
            StudyStep step;
            step.kind = StudyStep::Break;
            step.breakEntry = static_cast<int>(b);
            steps.push_back(step);
        }
    };
    const int entries = static_cast<int>(definition.trials.size());
    for (int i = 0; i < entries;) {
        const StudyTrialEntry& e = definition.trials[i];
        // A block's trials stand together in the file, and so do those of a
        // counterbalanced group (a block, or one trial of its own).
        int end = i + 1;
        while (end < entries &&
               ((e.block >= 0 && definition.trials[end].block == e.block) ||
                (e.group >= 0 && definition.trials[end].group == e.group)))
            ++end;
        std::vector<std::string> repetitions;
        if (e.group >= 0) {
            // The whole group with the participant's first technique, then again
            // with the second, and so on: position k of the square's order is
            // the group's k-th listed technique.
            const int n = static_cast<int>(e.techniques.size());
            for (int position : LatinSquare::Order(n, participantId)) repetitions.push_back(e.techniques[position]);
        } else {
            repetitions.push_back(e.techniques.empty() ? std::string("density") : e.techniques.front());
        }
        for (size_t r = 0; r < repetitions.size(); ++r) {
            std::vector<int> run;
            for (int k = i; k < end; ++k) run.push_back(k);
            if (e.shuffle) Shuffle(run, participantId, e.block, static_cast<int>(r));
            for (int k : run) append(k, repetitions[r]);
            if (e.block >= 0) ask(e.block, StudyQuestionnaireEntry::AfterTechnique, repetitions[r]);
            if (e.block >= 0 && r + 1 < repetitions.size()) rest(e.block, 0);
        }
        // A block of one technique is about that technique as a whole.
        if (e.block >= 0)
            ask(e.block, StudyQuestionnaireEntry::AfterBlock, repetitions.size() == 1 ? repetitions[0] : std::string());
        rest(-1, static_cast<size_t>(end));
        i = end;
    }
    ask(-1, StudyQuestionnaireEntry::AtEnd, std::string());
    if (out) *out = std::move(trials);
    if (plan) *plan = std::move(steps);
}

int StudyRunner::TechniqueCount() const
{
    size_t most = 1;
    for (const StudyTrialEntry& e : definition.trials)
        if (e.group >= 0) most = std::max(most, e.techniques.size());
    return static_cast<int>(most);
}

std::string StudyRunner::Placement(const StudyStep& s) const
{
    AnswerRow where;
    where.block = s.block;
    where.technique = s.technique;
    where.questionnaire = definition.questionnaires[s.questionnaire].questionnaire.id;
    return where.Placement();
}

std::string StudyRunner::Begin(int participantId, int conditionId)
{
    if (state == NoStudy) return "no study is loaded";
    if (HasBegun() && state != Finished) return "the study is already running";

    std::vector<StudyTrial> trials;
    std::vector<StudyStep> plan;
    Plan(participantId, &trials, &plan);
    std::string error;
    const std::string folder = ResultsFolder();
    std::vector<bool> done(trials.size(), false);
    std::vector<bool> planDone(plan.size(), false);
    std::map<std::string, std::map<std::string, std::string>> earlier;
    std::string note;
    if (restartRequested) {
        note = "starting participant " + std::to_string(participantId) +
               " over at trial 1 as asked; earlier results files stay as they are";
    } else {
        std::vector<bool> seen;
        int firstSession = 1;
        std::string paths;
        error = FindEarlierSession(ResultsLog::ReadEarlierTrials(folder, participantId), trials, seen, firstSession,
                                   paths);
        if (!error.empty()) return error;
        const size_t finished = static_cast<size_t>(std::count(seen.begin(), seen.end(), true));
        if (finished > 0) {
            earlier = AnswersLog::ByPlacement(AnswersLog::ReadEarlier(folder, participantId, firstSession));
            for (size_t k = 0; k < plan.size(); ++k) {
                const StudyStep& s = plan[k];
                if (s.kind == StudyStep::Trial) planDone[k] = seen[s.trial];
                if (s.kind == StudyStep::Questionnaire) {
                    const Questionnaire& q = definition.questionnaires[s.questionnaire].questionnaire;
                    const auto it = earlier.find(Placement(s));
                    planDone[k] = it != earlier.end() && q.FirstUnanswered(it->second) == q.items.size();
                }
            }
            // Coming back from an interruption is rest enough: the breaks
            // before the first open trial or questionnaire are over.
            size_t open = 0;
            while (open < plan.size() && (plan[open].kind == StudyStep::Break || planDone[open])) ++open;
            for (size_t k = 0; k < open; ++k) planDone[k] = true;
            const std::string who = "participant " + std::to_string(participantId);
            if (open == plan.size()) {
                note = who + " finished this study before (" + paths + "); a new session starts at trial 1";
                planDone.assign(plan.size(), false);
                earlier.clear();
            } else {
                done = seen;
                const StudyStep& s = plan[open];
                std::string at;
                if (s.kind == StudyStep::Trial) {
                    at = "trial " + std::to_string(s.trial + 1) + " of " + std::to_string(trials.size());
                } else {
                    const Questionnaire& q = definition.questionnaires[s.questionnaire].questionnaire;
                    const auto it = earlier.find(Placement(s));
                    const size_t item = it == earlier.end() ? 0 : q.FirstUnanswered(it->second);
                    at = "questionnaire \"" + q.id + "\"" +
                         (s.block == 0 ? std::string(" at the end") : " after block " + std::to_string(s.block)) +
                         (s.technique.empty() ? std::string() : " (" + s.technique + ")") + ", item " +
                         std::to_string(item + 1) + " of " + std::to_string(q.items.size());
                }
                note = "resuming " + who + " at " + at + " (" + std::to_string(finished) + " trials finished in " +
                       paths + ")";
            }
        }
    }
    if (!log.Open(folder, participantId, error)) return error;
    // Without its events log a session still measures everything; only a
    // step-by-step replay of undo, redo, clear and threshold changes is lost.
    if (!events.Open(log.LassosPath(), error)) std::fprintf(stderr, "%s; the session goes on without it\n", error.c_str());
    answers.Close();
    if (!definition.questionnaires.empty() && !answers.Create(AnswersLog::PathFor(log.TrialsPath()), error)) {
        // A start that fails leaves no files behind.
        log.CloseAndRemoveIfEmpty();
        events.CloseAndRemoveIfEmpty();
        return error;
    }

    sequence = std::move(trials);
    finishedEarlier = std::move(done);
    steps = std::move(plan);
    stepDone = std::move(planDone);
    given = std::move(earlier);
    session = SessionOf(log.TrialsPath());
    sessionNote = note;
    participant = participantId;
    condition = conditionId;
    hasLastRow = false;
    writeError.clear();
    current = -1;
    step = -1;
    participantPath.clear();
    if (!definition.form.empty() && !ParticipantFile::Answered(folder, participantId)) {
        state = Form;
        HoldFramework("");
        return {};
    }
    EnterStep(0, Now());
    return {};
}

std::string StudyRunner::ResultsFolder() const
{
    const std::string folder = resultsOverride.empty() ? definition.resultsDir : resultsOverride;
    return pilot ? folder + "/" + PilotFolder : folder;
}

std::string StudyRunner::UtcAt(double now) const
{
    if (wallClock) return wallClock(now);
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

int StudyRunner::FinishedEarlier() const
{
    return static_cast<int>(std::count(finishedEarlier.begin(), finishedEarlier.end(), true));
}

StudyRunner::SessionStart StudyRunner::OpenSession(const std::string& path, int participantId, int conditionId,
                                                  std::vector<std::string>& lines)
{
    std::string file = path;
    if (file.empty()) {
        if (!QFileInfo::exists(QString::fromLatin1(DefaultStudyFile))) return FreeExploration;
        file = DefaultStudyFile;
    }
    lines = Load(file);
    if (!lines.empty()) {
        lines.push_back(file + ": the study does not start");
        return SessionFailed;
    }
    const std::string error = Begin(participantId, conditionId);
    if (!error.empty()) {
        lines = {error, file + ": the study does not start"};
        return SessionFailed;
    }
    lines = {"Study " + file + ": " + std::to_string(sequence.size()) + " trials for participant " +
             std::to_string(participantId)};
    if (!sessionNote.empty()) lines.push_back("Study " + file + ": " + sessionNote);
    lines.push_back("Results: " + log.TrialsPath() + ", " + log.LassosPath() +
                    (events.IsOpen() ? ", " + events.Path() : std::string()) +
                    (answers.IsOpen() ? ", " + answers.Path() : std::string()));
    return SessionStarted;
}

const StudyTrial* StudyRunner::CurrentTrial() const
{
    if ((state != Presenting && state != Running) || current < 0) return nullptr;
    return &sequence[current];
}

const std::vector<bool>& StudyRunner::TargetMask() const
{
    static const std::vector<bool> none;
    const StudyTrial* t = CurrentTrial();
    return t ? entryTargets[t->entry] : none;
}

void StudyRunner::HoldFramework(const std::string& technique)
{
    const int datasetNr = current >= 0 && current < static_cast<int>(sequence.size())
                              ? sequence[current].datasetNr
                              : FerrowManager::Instance()->GetCurrentDatasetNr();
    FerrowManager::Instance()->LockTrial(datasetNr, technique);
}

void StudyRunner::EnterStep(int index, double now)
{
    // Steps done in the session this one resumes are not run again.
    while (index < static_cast<int>(steps.size()) && index < static_cast<int>(stepDone.size()) && stepDone[index])
        ++index;
    step = index;
    if (index >= static_cast<int>(steps.size())) {
        state = Finished;
        HoldFramework("");
        current = -1;
        // Rows still waiting keep their files open for a retry.
        if (!HasUnsaved()) {
            log.Close();
            events.Close();
            answers.Close();
        }
        return;
    }
    const StudyStep& s = steps[index];
    if (s.kind == StudyStep::Trial) {
        current = s.trial;
        state = Presenting;
    } else if (s.kind == StudyStep::Questionnaire) {
        pending = PendingQuestionnaire();
        pending.questionnaire = definition.questionnaires[s.questionnaire].questionnaire;
        pending.block = s.block;
        pending.technique = s.technique;
        pending.answers = given[Placement(s)];
        pending.firstUnanswered = pending.questionnaire.FirstUnanswered(pending.answers);
        if (pending.firstUnanswered >= pending.questionnaire.items.size()) {
            EnterStep(index + 1, now);
            return;
        }
        state = Questioning;
    } else {
        breakStart = now;
        state = OnBreak;
    }
    HoldFramework("");
}

const PendingQuestionnaire* StudyRunner::CurrentQuestionnaire() const
{
    return state == Questioning ? &pending : nullptr;
}

bool StudyRunner::Answer(const std::string& item, const std::string& value, double now)
{
    if (state != Questioning || item != pending.Item().id ||
        !pending.questionnaire.Accepts(pending.firstUnanswered, value, pending.answers))
        return false;
    return RecordAnswer(value, now);
}

bool StudyRunner::SkipItem(const std::string& item, double now)
{
    if (state != Questioning || !pending.questionnaire.skippable || item != pending.Item().id) return false;
    return RecordAnswer(std::string(), now);
}

bool StudyRunner::RecordAnswer(const std::string& value, double now)
{
    AnswerRow a;
    a.participant = participant;
    a.session = session;
    a.block = pending.block;
    a.technique = pending.technique;
    a.questionnaire = pending.questionnaire.id;
    a.item = pending.Item().id;
    a.value = value;
    a.pilot = pilot;
    a.timeUtc = UtcAt(now);
    std::string error;
    const bool written = answers.Write(a, error);
    if (!written) {
        writeError = error;
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    pending.answers[a.item] = value;
    given[a.Placement()][a.item] = value;
    pending.firstUnanswered = pending.questionnaire.FirstUnanswered(pending.answers);
    if (pending.firstUnanswered >= pending.questionnaire.items.size()) EnterStep(step + 1, now);
    return written;
}

double StudyRunner::BreakSecondsLeft(double now) const
{
    if (state != OnBreak) return 0.0;
    return std::max(0.0, definition.breaks[steps[step].breakEntry].seconds - (now - breakStart));
}

const std::string& StudyRunner::BreakText() const
{
    static const std::string none;
    return state == OnBreak ? definition.breaks[steps[step].breakEntry].text : none;
}

bool StudyRunner::ContinueAfterBreak(double now)
{
    if (state != OnBreak || BreakSecondsLeft(now) > 0.0) return false;
    EnterStep(step + 1, now);
    return true;
}

bool StudyRunner::SubmitForm(const std::map<std::string, std::string>& values, double now, std::string* problem)
{
    std::string why;
    if (state != Form) why = "no participant form is being asked";
    if (why.empty()) why = ParticipantFile::Check(definition.form, values);
    if (why.empty()) {
        if (!ParticipantFile::Write(ResultsFolder(), participant, pilot, definition.form, values, UtcAt(now),
                                    participantPath, why))
            participantPath.clear();
    }
    if (!why.empty()) {
        if (problem) *problem = why;
        return false;
    }
    EnterStep(0, now);
    return true;
}

bool StudyRunner::RetryWrites()
{
    std::string error;
    const bool saved = log.Retry(error) & events.Retry(error) & answers.Retry(error);
    writeError = saved ? std::string() : error;
    if (saved && state == Finished) {
        log.Close();
        events.Close();
        answers.Close();
    }
    return saved;
}

bool StudyRunner::StartTrial(double now)
{
    // A trial whose rows could not be saved would only add to what is lost.
    if (state != Presenting || HasUnsaved()) return false;
    const StudyTrial& t = sequence[current];
    row = TrialRow();
    row.participant = participant;
    row.condition = condition;
    row.trial = t.number;
    row.practice = t.practice;
    row.dataset = t.datasetName;
    row.technique = t.techniqueName;
    row.targetSize = t.targetSize;
    row.trialName = t.name;
    row.startedUtc = UtcAt(now);
    row.touchOnly = touchOnly;
    row.pilot = pilot;
    startTime = now;
    threshold = t.startThreshold;
    lassoCount = 0;
    lastThresholdTime = std::nan("");
    thresholdPending = false;
    state = Running;
    HoldFramework(t.techniqueName);
    return true;
}

bool StudyRunner::OnLasso(const LassoRecord& lasso)
{
    if (state != Running) return false;
    WritePendingThreshold();
    lastThresholdTime = std::nan("");
    const StudyTrial& t = sequence[current];
    const int mode = lasso.mode >= LassoRecord::Plus && lasso.mode <= LassoRecord::Intersection ? lasso.mode : 1;
    ++row.lassos[mode - 1];
    LassoRow l;
    l.participant = participant;
    l.trial = t.number;
    l.lasso = ++lassoCount;
    l.sinceStart = lasso.time - startTime;
    l.dataset = t.datasetName;
    l.technique = t.techniqueName;
    l.record = lasso;
    l.record.mode = static_cast<LassoRecord::Mode>(mode);
    l.pilot = pilot;
    std::string error;
    if (!log.WriteLasso(l, error)) {
        writeError = error;
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return true;
}

bool StudyRunner::OnThresholdChange(float t, double now, long long selectedAfter)
{
    if (state != Running) return false;
    if (t == threshold) return true;
    threshold = t;
    const bool sameGesture = now - lastThresholdTime < ThresholdGestureGap;  // false for NaN
    if (!sameGesture) {
        WritePendingThreshold();
        ++row.thresholdChanges;
    }
    lastThresholdTime = now;
    pendingThreshold = EventRow();
    pendingThreshold.command = EventRow::Threshold;
    pendingThreshold.afterLasso = lassoCount;
    pendingThreshold.sinceStart = now - startTime;
    pendingThreshold.threshold = t;
    pendingThreshold.selected = selectedAfter;
    thresholdPending = true;
    return true;
}

bool StudyRunner::OnUndo(long long selectedAfter, double now)
{
    if (!OnCommand(EventRow::Undo, selectedAfter, now)) return false;
    ++row.undos;
    return true;
}

bool StudyRunner::OnRedo(long long selectedAfter, double now)
{
    if (!OnCommand(EventRow::Redo, selectedAfter, now)) return false;
    ++row.redos;
    return true;
}

bool StudyRunner::OnClear(long long selectedAfter, double now)
{
    if (!OnCommand(EventRow::Clear, selectedAfter, now)) return false;
    ++row.clears;
    return true;
}

bool StudyRunner::OnRotate(long long selectedAfter, double now)
{
    if (!OnCommand(EventRow::Rotate, selectedAfter, now)) return false;
    ++row.rotations;
    return true;
}

void StudyRunner::OnPointer(const std::string& source)
{
    if (state != Running || source.empty()) return;
    // In the order first used: "touch+mouse" says the finger came first.
    const std::string joined = "+" + row.input + "+";
    if (joined.find("+" + source + "+") == std::string::npos) row.input += (row.input.empty() ? "" : "+") + source;
}

void StudyRunner::SetTouchOnly(bool on)
{
    touchOnly = on;
    if (state == Running && on) row.touchOnly = true;
}

bool StudyRunner::OnCommand(EventRow::Command command, long long selectedAfter, double now)
{
    if (state != Running) return false;
    WritePendingThreshold();
    lastThresholdTime = std::nan("");
    EventRow e;
    e.command = command;
    e.afterLasso = lassoCount;
    e.sinceStart = (now < 0.0 ? Now() : now) - startTime;
    e.threshold = threshold;
    e.selected = selectedAfter;
    WriteEvent(e);
    return true;
}

void StudyRunner::FlushEvents(double now)
{
    if (thresholdPending && !(now - lastThresholdTime < ThresholdGestureGap)) WritePendingThreshold();
}

void StudyRunner::WritePendingThreshold()
{
    if (!thresholdPending) return;
    thresholdPending = false;
    WriteEvent(pendingThreshold);
}

void StudyRunner::WriteEvent(const EventRow& e)
{
    if (!events.IsOpen()) return;
    EventRow r = e;
    const StudyTrial& t = sequence[current];
    r.participant = participant;
    r.trial = t.number;
    r.dataset = t.datasetName;
    r.pilot = pilot;
    std::string error;
    if (!events.Write(r, error)) {
        writeError = error;
        std::fprintf(stderr, "%s\n", error.c_str());
    }
}

bool StudyRunner::FinishTrial(const std::vector<bool>& selection, double now)
{
    if (state != Running) return false;
    WritePendingThreshold();
    const StudyTrial& t = sequence[current];
    const std::vector<bool>& target = entryTargets[t.entry];
    const SelectionMetrics m = SelectionMetrics::Compute(selection, target, target.size());
    row.completionTime = now - startTime;
    row.finalThreshold = threshold;
    row.selected = static_cast<long long>(m.selected);
    row.truePositives = static_cast<long long>(m.truePositives);
    row.precision = m.precision;
    row.recall = m.recall;
    row.f1 = m.f1;
    std::string error;
    const bool written = log.WriteTrial(row, error);
    if (!written) {
        writeError = error;
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    lastRow = row;
    hasLastRow = true;
    EnterStep(step + 1, now);
    return written;
}
