#include "framework/runner/StudySimulation.h"

#include "framework/runner/CsvFormat.h"
#include "framework/runner/SelectionMetrics.h"
#include "framework/runner/SimulatedParticipant.h"
#include "framework/runner/StartViewCamera.h"
#include "framework/study/FerrowDatasetManager.h"
#include "geometry/TechniqueRegistry.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using Point = SimulatedParticipant::Point;

// The model's time of one lasso before the common factors (see
// SimulatedParticipant): what lasso k's logged time is a share of.
// The 2.5 s of the model are 2 s before the first lasso and 0.5 s to press
// Done after the last.
const double kOrientSeconds = 2.5, kBeforeFirstSeconds = 2.0, kLassoSeconds = 1.2, kDrawPixelsPerSecond = 900.0;

// Window pixels of particle flags `which` (or of all where `which` is empty)
// under model, view and projection in a viewport at 0, 0.
std::vector<Point> Project(const osg::Vec3Array& particles, const std::vector<bool>& which, const osg::Matrixd& mvp,
                           int width, int height)
{
    std::vector<Point> out;
    for (size_t i = 0; i < particles.size(); ++i) {
        if (!which.empty() && !which[i]) continue;
        const osg::Vec3d p = osg::Vec3d(particles[i]) * mvp;  // divides by w
        out.push_back({(p.x() + 1.0) * 0.5 * width, (p.y() + 1.0) * 0.5 * height});
    }
    return out;
}

// A person cannot draw outside the 3D area.
std::vector<osg::Vec2f> InsideViewport(const std::vector<Point>& outline, int width, int height)
{
    std::vector<osg::Vec2f> points;
    for (const Point& p : outline)
        points.push_back(osg::Vec2f(static_cast<float>(std::clamp(p.first, 0.0, width - 1.0)),
                                    static_cast<float>(std::clamp(p.second, 0.0, height - 1.0))));
    return points;
}

// The wrongly selected points a minus lasso can take away without cutting
// into the target: those outside the target's outline on the screen, on the
// side (one of SideCount sectors about the target's centre) that holds most.
std::vector<Point> OneSideOf(const std::vector<Point>& target, const std::vector<Point>& wrong)
{
    namespace bg = boost::geometry;
    using BPoint = bg::model::d2::point_xy<double>;
    constexpr int SideCount = 8;
    bg::model::multi_point<BPoint> points;
    double cx = 0.0, cy = 0.0;
    for (const Point& p : target) {
        points.push_back(BPoint(p.first, p.second));
        cx += p.first / target.size();
        cy += p.second / target.size();
    }
    bg::model::polygon<BPoint> hull;
    bg::convex_hull(points, hull);
    std::vector<std::vector<Point>> sides(SideCount);
    for (const Point& p : wrong) {
        if (bg::covered_by(BPoint(p.first, p.second), hull)) continue;
        const double angle = std::atan2(p.second - cy, p.first - cx) + M_PI;  // 0..2 pi
        sides[std::min(SideCount - 1, static_cast<int>(angle / (2.0 * M_PI) * SideCount))].push_back(p);
    }
    return *std::max_element(sides.begin(), sides.end(),
                             [](const std::vector<Point>& a, const std::vector<Point>& b) { return a.size() < b.size(); });
}

long long Count(const std::vector<bool>& mask)
{
    return static_cast<long long>(std::count(mask.begin(), mask.end(), true));
}

}  // namespace

StudySimulation::StudySimulation(SimulationView& view, Settings settings) : view(view), settings(std::move(settings))
{
}

std::vector<std::string> StudySimulation::Load(const std::string& path)
{
    StudyRunner runner;
    std::vector<std::string> problems = runner.Load(path);
    if (!problems.empty()) return problems;
    studyPath = path;
    runner.SetResultsFolder(settings.results);
    runner.SetPilot(settings.pilot);
    resultsFolder = runner.ResultsFolder();
    return {};
}

std::string StudySimulation::ResultsFolder() const
{
    return resultsFolder;
}

bool StudySimulation::CountRow()
{
    ++rows;
    if (settings.interruptAfter >= 0 && rows >= settings.interruptAfter) interrupted = true;
    return !interrupted;
}

std::string StudySimulation::Run(int participantId, std::vector<std::string>& lines)
{
    if (studyPath.empty()) return "no study is loaded";
    if (interrupted) return {};
    StudyRunner runner;
    const std::vector<std::string> problems = runner.Load(studyPath);
    if (!problems.empty()) return problems.front();
    if (!settings.results.empty()) runner.SetResultsFolder(settings.results);
    runner.SetPilot(settings.pilot);
    const std::vector<EarlierTrials> earlier = ResultsLog::ReadEarlierTrials(runner.ResultsFolder(), participantId);
    size_t earlierRows = 0;
    for (const EarlierTrials& file : earlier) earlierRows += file.rows.size();
    // The session's number among the participant's files sets its simulated
    // start, so a resumed session starts after the one it resumes.
    const int session = static_cast<int>(earlier.size()) + 1;
    const QDateTime start = QDateTime::fromString(QString::fromLatin1(SimulatedStartUtc), Qt::ISODateWithMs)
                                .addDays(participantId - 1)
                                .addSecs(3600LL * (session - 1));
    runner.SetWallClock([start](double now) {
        return start.addMSecs(std::llround(now * 1000.0)).toString(Qt::ISODateWithMs).toStdString();
    });
    const std::string error = runner.Begin(participantId, 0);
    if (!error.empty()) return error;
    const std::string who = "participant " + std::to_string(participantId);
    // A participant whose sessions ran everything would start over; running
    // the command again resumes the others and adds nothing (the runner
    // leaves no files of a session that did nothing).
    if (earlierRows > 0 && runner.FinishedEarlier() == 0) {
        lines.push_back(who + ": finished before, in " + runner.ResultsFolder());
        return {};
    }
    lines.push_back(who + ": " + std::to_string(runner.Sequence().size()) + " trials into " + runner.TrialsPath());
    if (!runner.SessionNote().empty()) lines.push_back(runner.SessionNote());
    clock = 0.0;
    // One stream per trial, per questionnaire and for the form: a resumed
    // session draws what an uninterrupted one draws for the same step.
    const std::uint64_t base = settings.seed * 1000003ULL;
    while (!runner.IsFinished() && !interrupted) {
        const StudyRunner::State before = runner.GetState();
        const int step = runner.CurrentStep();
        if (runner.IsAskingForm()) {
            SimulatedParticipant person(base + FormStream, participantId);
            clock += FormSeconds;
            std::string problem;
            if (!runner.SubmitForm(person.FillForm(runner.FormFields()), clock, &problem))
                return "the participant form: " + problem;
        } else if (runner.IsPresenting()) {
            const int trial = runner.CurrentTrial()->number;
            if (!RunTrial(runner, base + static_cast<std::uint64_t>(trial)))
                lines.push_back(who + ": interrupted after trial " + std::to_string(trial) + " as asked");
        } else if (runner.IsQuestioning()) {
            const std::string error = AnswerQuestionnaire(runner, base + QuestionnaireStream + step);
            if (!error.empty()) return error;
            if (interrupted) lines.push_back(who + ": interrupted in a questionnaire as asked");
        } else if (runner.IsOnBreak()) {
            // Waited out to the simulated second; rounding may leave a
            // sliver of the minimum, which a next tick covers.
            for (int tick = 0; tick < 4 && runner.IsOnBreak(); ++tick) {
                clock += std::max(runner.BreakSecondsLeft(clock), 1e-6);
                runner.ContinueAfterBreak(clock);
            }
        }
        if (runner.GetState() == before && runner.CurrentStep() == step && !interrupted)
            return "the session does not move on from step " + std::to_string(step + 1);
    }
    if (runner.HasUnsaved()) return runner.LastWriteError();
    return {};
}

StudySimulation::Experience StudySimulation::Experienced(const StudyRunner& runner, int block,
                                                         const std::string& technique) const
{
    // Read back from the participant's files, so that a resumed session
    // answers as an uninterrupted one.
    const std::vector<StudyTrial>& sequence = runner.Sequence();
    const StudyDefinition& study = runner.Definition();
    std::map<std::string, std::pair<double, int>> byTechnique;
    double f1 = 0.0, seconds = 0.0;
    int n = 0;
    for (const EarlierTrials& file : ResultsLog::ReadEarlierTrials(runner.ResultsFolder(), runner.ParticipantId()))
        for (size_t r = 0; r < file.rows.size(); ++r) {
            const int number = std::atoi(file.Field(r, "trial").c_str());
            double f = 0.0, t = 0.0;
            if (number < 1 || number > static_cast<int>(sequence.size()) ||
                !CsvFormat::ToNumber(file.Field(r, "f1"), f) ||
                !CsvFormat::ToNumber(file.Field(r, "completion_time_s"), t))
                continue;
            const StudyTrial& trial = sequence[number - 1];
            if (trial.practice) continue;
            byTechnique[trial.techniqueName].first += f;
            ++byTechnique[trial.techniqueName].second;
            if (block > 0 && study.trials[trial.entry].block + 1 != block) continue;
            if (!technique.empty() && trial.techniqueName != technique) continue;
            f1 += f;
            seconds += t;
            ++n;
        }
    Experience e;
    if (n > 0) {
        e.meanF1 = f1 / n;
        e.meanTime = seconds / n;
    }
    for (const auto& t : byTechnique) e.liking[t.first] = t.second.first / t.second.second;
    return e;
}

std::string StudySimulation::AnswerQuestionnaire(StudyRunner& runner, std::uint64_t stream)
{
    const PendingQuestionnaire& pending = *runner.CurrentQuestionnaire();
    const Questionnaire q = pending.questionnaire;
    const Experience e = Experienced(runner, pending.block, pending.technique);
    SimulatedParticipant person(stream, runner.ParticipantId());
    // The whole questionnaire is drawn at once; a resumed one draws the same
    // and goes on at its first unanswered item.
    std::map<std::string, std::string> answers = person.Answer(q, e.meanF1, e.meanTime, e.liking);
    for (size_t k = pending.firstUnanswered; k < q.items.size(); ++k) {
        const std::string& item = q.items[k].id;
        clock += AnswerSeconds;
        const bool accepted = runner.Answer(item, answers[item], clock);
        if (!accepted && runner.LastWriteError().empty())
            return "questionnaire \"" + q.id + "\" does not take \"" + answers[item] + "\" for " + item;
        if (!CountRow()) return {};
    }
    return {};
}

bool StudySimulation::RunTrial(StudyRunner& runner, std::uint64_t trialSeed)
{
    const StudyTrial trial = *runner.CurrentTrial();
    const std::vector<bool> target = runner.TargetMask();
    const osg::Vec3Array& particles = *FerrowDatasetManager::Instance()->datasets[trial.datasetNr];

    // Pravik's camera for the trial: its start view, or the dataset's own.
    osg::BoundingBox box;
    osg::Vec3d centre;
    double radius = 1.0;
    StartViewCamera::Frame(particles, box, centre, radius);
    const osg::Quat rotation = trial.view.given ? trial.view.rotation : osg::Quat();
    const double zoom = trial.view.given && trial.view.zoom > 0.0 ? trial.view.zoom : 1.0;
    const StartViewCamera camera(radius, ViewportWidth, ViewportHeight, zoom);
    LassoRecord shape;
    shape.threshold = trial.startThreshold;
    shape.viewportWidth = ViewportWidth;
    shape.viewportHeight = ViewportHeight;
    shape.model = StartViewCamera::DataMatrix(centre, rotation);
    shape.view = camera.View();
    shape.projection = camera.Projection();
    const osg::Matrixd mvp = shape.model * shape.view * shape.projection;
    view.Present(trial.datasetNr, shape.model, shape.view, shape.projection, ViewportWidth, ViewportHeight,
                 trial.startThreshold);

    clock += LookSeconds;
    const double started = clock;
    runner.StartTrial(started);
    runner.OnPointer(InputName);

    SimulatedParticipant person(trialSeed, runner.ParticipantId());
    const Technique* technique = TechniqueRegistry::Instance().Find(trial.techniqueName);
    const bool clicks = technique && technique->Input() == Technique::Takes::Click;

    // What the participant does, in order, before the times are known.
    struct Step {
        LassoRecord lasso;
        bool built = false;
        bool undone = false;   // undone right after
        long long selectedAfterUndo = 0;
        double modelSeconds = 0.0;  // its share of the trial's time
    };
    std::vector<Step> steps;
    double outlines = 0.0;
    auto select = [&](LassoRecord::Mode mode, const std::vector<osg::Vec2f>& points, double length) {
        Step s;
        s.lasso = shape;
        s.lasso.mode = mode;
        s.lasso.points = points;
        std::string refusal;
        s.built = view.Select(mode, points, refusal);
        s.lasso.selectedAfter = Count(view.Mask());
        s.modelSeconds = kLassoSeconds + length / kDrawPixelsPerSecond;
        outlines += length;
        steps.push_back(s);
        return SelectionMetrics::Compute(view.Mask(), target, target.size()).f1;
    };

    double f1 = 0.0;
    if (clicks) {
        // A click at the target's centre as the participant sees it.
        osg::Vec3d sum;
        long long n = 0;
        for (size_t i = 0; i < particles.size() && i < target.size(); ++i)
            if (target[i]) {
                sum += osg::Vec3d(particles[i]);
                ++n;
            }
        const osg::Vec3d c = (n ? sum / static_cast<double>(n) : centre) * mvp;
        const std::vector<Point> click = {{(c.x() + 1.0) * 0.5 * ViewportWidth, (c.y() + 1.0) * 0.5 * ViewportHeight}};
        f1 = select(LassoRecord::Plus, InsideViewport(click, ViewportWidth, ViewportHeight), 0.0);
    } else {
        const std::vector<Point> outline =
            person.LassoAround(Project(particles, target, mvp, ViewportWidth, ViewportHeight));
        if (outline.size() >= 3)
            f1 = select(LassoRecord::Plus, InsideViewport(outline, ViewportWidth, ViewportHeight),
                        SimulatedParticipant::Length(outline));
        const std::vector<Point> targetOnScreen = Project(particles, target, mvp, ViewportWidth, ViewportHeight);
        for (int c = 0; c < MaxCorrections && f1 < CorrectionF1; ++c) {
            const std::vector<bool>& mask = view.Mask();
            std::vector<bool> missing(particles.size(), false), wrong(particles.size(), false);
            long long missed = 0, wrongly = 0;
            for (size_t i = 0; i < particles.size(); ++i) {
                const bool t = i < target.size() && target[i], m = i < mask.size() && mask[i];
                missing[i] = t && !m;
                wrong[i] = m && !t;
                missed += missing[i];
                wrongly += wrong[i];
            }
            const bool add = missed >= wrongly;
            const std::vector<Point> around =
                add ? Project(particles, missing, mvp, ViewportWidth, ViewportHeight)
                    : OneSideOf(targetOnScreen, Project(particles, wrong, mvp, ViewportWidth, ViewportHeight));
            const std::vector<Point> fix = person.LassoAround(around);
            // What lies in front of or behind the target cannot be cut away
            // from this view: the participant leaves it.
            if (fix.size() < 3) break;
            const double before = f1;
            f1 = select(add ? LassoRecord::Plus : LassoRecord::Minus, InsideViewport(fix, ViewportWidth, ViewportHeight),
                        SimulatedParticipant::Length(fix));
            if (f1 < before && steps.back().built) {
                view.Undo();
                steps.back().undone = true;
                steps.back().selectedAfterUndo = Count(view.Mask());
                f1 = before;
            }
        }
    }

    int earlier = 0;
    for (const StudyTrial& t : runner.Sequence()) {
        if (t.number >= trial.number) break;
        earlier += !t.practice && t.techniqueName == trial.techniqueName;
    }
    const auto factor = settings.timeFactors.find(trial.techniqueName);
    const double seconds = person.CompletionTime(static_cast<int>(std::max<size_t>(steps.size(), 1)), outlines,
                                                 earlier, factor == settings.timeFactors.end() ? 1.0 : factor->second);
    double model = kOrientSeconds;
    for (const Step& s : steps) model += s.modelSeconds;
    double done = kBeforeFirstSeconds;
    for (Step& s : steps) {
        done += s.modelSeconds;
        const double at = started + seconds * done / model;
        // A refused lasso built nothing and Pravik logs nothing of it.
        if (!s.built) continue;
        s.lasso.time = at;
        runner.OnLasso(s.lasso);
        if (s.undone) runner.OnUndo(s.selectedAfterUndo, at);
    }
    clock = started + seconds;
    runner.FinishTrial(view.Mask(), clock);
    return CountRow();
}
