// trellan-select: runs lassos on a dataset without a visible window, through
// the real selection engine, so that logged lassos can be replayed and
// selection can be scripted and timed. The lasso image is the coverage of the
// lasso's triangles the engine computes (--raster cpu, the default without a
// display: no X server, no OpenGL context) or the one an offscreen OpenGL
// frame captures (--raster gl, the default where DISPLAY is set).
//
//   trellan-select --dataset clusters --viewport 800x600
//       --eye 0,0,150 --center 0,0,0 --up 0,1,0 --fovy 30
//       --lasso 'plus:density:100,100;300,100;300,300;100,300' --out selected.txt
//   trellan-select --replay P1_lassos.csv
//   trellan-select --simulate study.xml --participants 1-12 --results pilot-run
//
// Prints "selected K of N particles" after each lasso, or says why the engine
// refused it (exit code 1 then). --simulate runs a whole study with simulated
// participants (StudySimulation) and writes Pravik's results files.
#include "density/DensityProgress.h"
#include "density/PreComputedDensity.h"
#include "framework/runner/ReplayLog.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "geometry/TechniqueRegistry.h"
#include "selection/ParticleSelection.h"
#include "tools/CommandLine.h"
#include "tools/HeadlessScene.h"
#if TRELLAN_SIMULATION
#include "tools/HeadlessStudyView.h"
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// What the option list alone does not say.
const char* const kNotes =
    "Without --replay: --dataset and at least one --lasso or --click.\n"
    "  DATASET   a built-in dataset (clusters, disk, filaments) or a particle file\n"
    "  camera    --eye/--center/--up/--fovy (perspective), or --view/--projection;\n"
    "            default: the whole dataset seen along -z, 30 degrees\n"
    "  LASSO     MODE:TECHNIQUE:X,Y;X,Y;... with MODE plus | minus | intersection,\n"
    "            TECHNIQUE a lasso technique of --techniques (density, cylinder, ...),\n"
    "            points in window pixels from the lower left\n"
    "  CLICK     MODE:TECHNIQUE:X,Y for a click technique of --techniques\n"
    "  techniques: the library's and those of the shared objects TRELLAN_TECHNIQUES names\n"
    "            (folders or .so files separated by ':'; see docs/adding-a-technique.md)\n"
    "  M         sixteen numbers, row by row, separated by commas or spaces\n"
    "  FILE      any particle format of docs/data-formats.md (FILE.csv?x=A&y=B&z=C, FILE.hdf5:/path)\n"
    "--replay replays every lasso of a study's lasso log, trial by trial, with the\n"
    "undo, redo, clear and threshold rows of the events log beside it; the log's\n"
    "dataset column holds the study's dataset id: name the dataset itself with\n"
    "--dataset, and pick one dataset's lassos with --only-dataset.\n"
    "--raster cpu computes the lasso image and needs no display; --raster gl captures it\n"
    "in an offscreen OpenGL frame on the X display DISPLAY names. Default: gl where DISPLAY\n"
    "is set, else cpu. The two differ at most in pixels on the lasso's edge.\n"
    "Prints \"selected K of N particles\" after each lasso, or on standard error why it was refused.\n"
    "--simulate runs the whole study STUDY for the participants of --participants (A-B or A)\n"
    "without a person, through Pravik's study runner, into the results folder DIR (with --pilot\n"
    "into DIR/pilot, every row pilot=1); the same command gives the same files. See\n"
    "docs/simulated-participants.md for the model of the lassos and the times.";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<double> numbers(const std::string& text, char sep, size_t expected, const std::string& what)
{
    std::vector<double> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, sep)) {
        if (item.empty()) continue;
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (end == item.c_str() || *end != '\0' || !std::isfinite(v))
            throw UsageError(what + ": '" + item + "' is not a number");
        out.push_back(v);
    }
    if (expected && out.size() != expected)
        throw UsageError(what + ": expected " + std::to_string(expected) + " numbers, got " + std::to_string(out.size()));
    return out;
}

osg::Vec3d vec3(const std::string& text, const std::string& what)
{
    const std::vector<double> v = numbers(text, ',', 3, what);
    return osg::Vec3d(v[0], v[1], v[2]);
}

osg::Matrixd matrix(const std::string& text, const std::string& what)
{
    std::string t = text;
    for (char& c : t)
        if (c == ',') c = ' ';
    const std::vector<double> v = numbers(t, ' ', 16, what);
    osg::Matrixd m;
    m.set(v.data());
    return m;
}

struct Lasso {
    int mode = 1;                          // 1 plus, 2 minus, 3 intersection
    std::string technique = "density";
    std::vector<osg::Vec2f> points;  // one point: a click
    float threshold = 1.0f;
    // Camera of this lasso when it comes from a log.
    bool hasCamera = false;
    osg::Matrixd model, view, projection;
    int viewportX = 0, viewportY = 0, viewportWidth = 0, viewportHeight = 0;
    std::string group;     // lassos of one logged trial share a group
    std::string dataset;   // as logged
    long long logged = -1;  // selected count the log recorded
    // A logged history command or threshold change instead of a lasso.
    ReplayStep::Kind kind = ReplayStep::Lasso;
};

int modeFromName(const std::string& s, const std::string& where)
{
    if (s == "plus") return 1;
    if (s == "minus") return 2;
    if (s == "intersection") return 3;
    throw UsageError(where + ": unknown mode '" + s + "' (plus, minus, intersection)");
}

const Technique& techniqueFromName(const std::string& s, const std::string& where)
{
    const TechniqueRegistry& registry = TechniqueRegistry::Instance();
    if (const Technique* t = registry.Find(s)) return *t;
    throw UsageError(where + ": unknown technique '" + s + "' (" + registry.Names() + ")");
}

std::vector<osg::Vec2f> points(const std::string& text, const std::string& where)
{
    std::vector<osg::Vec2f> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ';')) {
        if (item.find_first_not_of(' ') == std::string::npos) continue;
        std::string t = item;
        for (char& c : t)
            if (c == ',') c = ' ';
        const std::vector<double> v = numbers(t, ' ', 2, where + " point '" + item + "'");
        out.push_back(osg::Vec2f(static_cast<float>(v[0]), static_cast<float>(v[1])));
    }
    return out;
}

// --lasso MODE:TECHNIQUE:X,Y;... or (click) --click MODE:TECHNIQUE:X,Y.
Lasso strokeSpec(const std::string& spec, bool click)
{
    const std::string option = click ? "--click" : "--lasso";
    const size_t a = spec.find(':'), b = a == std::string::npos ? a : spec.find(':', a + 1);
    if (b == std::string::npos)
        throw UsageError(option + " '" + spec + "': expected MODE:TECHNIQUE:" + (click ? "X,Y" : "POINTS"));
    Lasso l;
    l.mode = modeFromName(spec.substr(0, a), option);
    const Technique& t = techniqueFromName(spec.substr(a + 1, b - a - 1), option);
    l.technique = t.Name();
    const bool takesClicks = t.Input() == Technique::Takes::Click;
    if (takesClicks != click)
        throw UsageError(option + ": the " + l.technique + " technique takes " + (takesClicks ? "clicks" : "lassos") +
                         " (" + (takesClicks ? "--click MODE:" : "--lasso MODE:") + l.technique + ":...)");
    l.points = points(spec.substr(b + 1), option);
    if (click && l.points.size() != 1) throw UsageError("--click: a click is one point X,Y");
    if (!click && l.points.size() < 3) throw UsageError("--lasso: a lasso needs at least 3 points");
    return l;
}

// Every step of a lasso log, with the undo, redo, clear and threshold rows of
// its events log when that lies beside it.
std::vector<Lasso> readLassoLog(const std::string& path)
{
    ReplayLog log;
    std::string error;
    if (!log.Read(path, error)) throw UsageError(error);
    if (!log.HasEvents())
        std::printf("%s: no events log (%s); undo, redo, clear and threshold changes are not replayed\n",
                    path.c_str(), log.EventsPath().c_str());
    std::vector<Lasso> out;
    for (const ReplayTrial& trial : log.Trials()) {
        for (const ReplayStep& step : trial.steps) {
            Lasso l;
            l.kind = step.kind;
            l.threshold = step.threshold;
            l.hasCamera = true;
            l.group = trial.participant + "/" + trial.trial;
            l.dataset = trial.dataset;
            l.logged = step.logged;
            if (step.kind == ReplayStep::Lasso) {
                l.mode = step.lasso.mode;
                l.technique = techniqueFromName(step.technique, step.where).Name();
                l.points = step.lasso.points;
                l.model = step.lasso.model;
                l.view = step.lasso.view;
                l.projection = step.lasso.projection;
                l.viewportX = step.lasso.viewportX;
                l.viewportY = step.lasso.viewportY;
                l.viewportWidth = step.lasso.viewportWidth;
                l.viewportHeight = step.lasso.viewportHeight;
            }
            out.push_back(l);
        }
    }
    return out;
}

// Everything the command line sets. A new option is a member here and one
// line in AddOptions.
struct Options {
    std::string dataset, replay, out, onlyDataset;
    std::vector<std::string> lassoSpecs, clickSpecs;
    bool listTechniques = false;
    std::string viewport, raster;
    float threshold = 1.0f;
    bool lookAt = false, explicitMatrices = false;
    osg::Vec3d eye, center, up = osg::Vec3d(0, 1, 0);
    double fovy = 30.0;
    osg::Matrixd model, view, projection;
    bool haveView = false, haveProjection = false;
    bool verbose = false;
    std::string simulate, participants, results;
    unsigned long long seed = 1;
    bool pilot = false;
    std::vector<std::string> timeFactors;
    long long interruptAfter = -1;
};

// A check for CLI11: the empty string accepts, anything else is the complaint.
CLI::Validator Must(bool (*accept)(double), const std::string& what)
{
    return CLI::Validator(
        [accept, what](std::string& text) {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0') return "'" + text + "' is not a number";
            if (!std::isfinite(v)) return "'" + text + "' is not a finite number";
            return accept(v) ? std::string() : "'" + text + "' " + what;
        },
        "");
}

void AddOptions(CLI::App& app, Options& o)
{
    // The callbacks convert as they parse, so a bad value is reported with its option.
    auto vec3Option = [&app](const char* name, osg::Vec3d& target, bool* flag, const char* help) {
        app.add_option_function<std::string>(
               name, [name, &target, flag](const std::string& v) { target = vec3(v, name); if (flag) *flag = true; },
               help)
            ->type_name("X,Y,Z");
    };
    auto matrixOption = [&app](const char* name, osg::Matrixd& target, bool* flag, const char* help) {
        app.add_option_function<std::string>(
               name, [name, &target, flag](const std::string& v) { target = matrix(v, name); if (flag) *flag = true; },
               help)
            ->type_name("M");
    };
    app.add_option("--dataset", o.dataset, "the dataset: a built-in name or a particle file")->type_name("NAME|FILE");
    app.add_option("--lasso", o.lassoSpecs, "a lasso, run in the order given (repeatable)")
        ->type_name("LASSO")
        ->allow_extra_args(false);
    app.add_option("--click", o.clickSpecs, "a click for a click technique, in order with the lassos (repeatable)")
        ->type_name("CLICK")
        ->allow_extra_args(false);
    app.add_flag("--techniques", o.listTechniques, "list the registered techniques and what they take, then exit");
    app.add_option("--replay", o.replay, "replay the lassos of a study's lasso log")->type_name("LASSO_LOG.csv");
    app.add_option("--only-dataset", o.onlyDataset, "with --replay: only the lassos on this dataset id")->type_name("ID");
    app.add_option("--out", o.out, "write the indices of the selected particles, one per line")->type_name("FILE");
    app.add_option("--viewport", o.viewport, "size of the offscreen frame in pixels (default 800x600)")
        ->type_name("WxH");
    app.add_option("--threshold", o.threshold, "density threshold factor of the lassos (default 1)")
        ->type_name("F")
        ->check(Must([](double v) { return v >= 0.0; }, "is negative"));
    vec3Option("--eye", o.eye, &o.lookAt, "camera position");
    vec3Option("--center", o.center, &o.lookAt, "point the camera looks at");
    vec3Option("--up", o.up, nullptr, "camera's up direction (default 0,1,0)");
    app.add_option("--fovy", o.fovy, "vertical field of view (default 30)")
        ->type_name("DEGREES")
        ->check(Must([](double v) { return v > 0.0 && v < 180.0; }, "is not between 0 and 180 degrees"));
    matrixOption("--view", o.view, &o.haveView, "view matrix, with --projection instead of --eye/--center");
    matrixOption("--projection", o.projection, &o.haveProjection, "projection matrix");
    matrixOption("--model", o.model, nullptr, "the data transform (default identity)");
    app.add_option("--raster", o.raster, "where the lasso image comes from: cpu (computed) or gl (captured)")
        ->type_name("cpu|gl")
        ->check(CLI::IsMember({"cpu", "gl"}));
    app.add_flag("--verbose", o.verbose, "print the triangulator's statistics too");
    app.add_option("--simulate", o.simulate, "run the study with simulated participants")->type_name("STUDY");
    app.add_option("--participants", o.participants, "with --simulate: the participants, A-B or A")
        ->type_name("RANGE");
    app.add_option("--results", o.results, "with --simulate: the results folder")->type_name("DIR");
    app.add_option("--seed", o.seed, "with --simulate: the seed of the simulated participants (default 1)")
        ->type_name("S");
    app.add_flag("--pilot", o.pilot, "with --simulate: a pilot run, into DIR/pilot with pilot=1 on every row");
    app.add_option("--time-factor", o.timeFactors,
                   "with --simulate: a technique's factor of the completion time (default 1; repeatable)")
        ->type_name("TECHNIQUE=F")
        ->allow_extra_args(false);
    app.add_option("--interrupt-after", o.interruptAfter,
                   "with --simulate: stop as a power cut would once N trial and answer rows are written "
                   "(to try resumption: the same command without it resumes)")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber);
    app.add_flag_callback(
        "--no-density-cache", [] { FerrowDatasetManager::Instance()->densityCache = false; },
        "estimate the density afresh and store nothing");
}

#if TRELLAN_SIMULATION
// "A-B" or "A": the participants of a simulation.
void ParticipantRange(const std::string& text, int& first, int& last)
{
    const std::string what = "--participants " + text;
    auto id = [&](const std::string& part) {
        char* end = nullptr;
        const long v = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || end == part.c_str() || *end != '\0') throw UsageError(what + ": expected A-B or A");
        if (v < 1 || v > 1000000) throw UsageError(what + ": participant ids run from 1 to 1000000");
        return static_cast<int>(v);
    };
    const size_t dash = text.find('-');
    first = id(text.substr(0, dash));
    last = dash == std::string::npos ? first : id(text.substr(dash + 1));
    if (last < first) throw UsageError(what + ": the range runs backwards (" + std::to_string(first) + " > " +
                                       std::to_string(last) + ")");
}

int Simulate(const Options& o)
{
    if (!o.dataset.empty() || !o.replay.empty() || !o.lassoSpecs.empty() || !o.clickSpecs.empty())
        throw UsageError("--simulate runs a study: no --dataset, --lasso, --click or --replay with it");
    if (o.participants.empty()) throw UsageError("--simulate: no --participants given (A-B or A)");
    if (o.results.empty()) throw UsageError("--simulate: no --results folder given");
    int first = 0, last = 0;
    ParticipantRange(o.participants, first, last);
    StudySimulation::Settings settings;
    settings.seed = o.seed;
    settings.results = o.results;
    settings.pilot = o.pilot;
    settings.interruptAfter = o.interruptAfter;
    for (const std::string& f : o.timeFactors) {
        const size_t eq = f.find('=');
        if (eq == std::string::npos) throw UsageError("--time-factor " + f + ": expected TECHNIQUE=F");
        const std::string name = techniqueFromName(f.substr(0, eq), "--time-factor").Name();
        const std::vector<double> v = numbers(f.substr(eq + 1), ',', 1, "--time-factor " + f);
        if (!(v[0] > 0.0)) throw UsageError("--time-factor " + f + ": the factor is not positive");
        settings.timeFactors[name] = v[0];
    }
    HeadlessStudyView view;
    StudySimulation simulation(view, settings);
    const std::vector<std::string> problems = simulation.Load(o.simulate);
    if (!problems.empty()) {
        // Every problem of the file at once, as Pravik lists them.
        for (const std::string& p : problems) std::fprintf(stderr, "trellan-select: %s\n", p.c_str());
        return kExitFailure;
    }
    for (int id = first; id <= last && !simulation.Interrupted(); ++id) {
        std::vector<std::string> lines;
        const std::string error = simulation.Run(id, lines);
        for (const std::string& l : lines) std::printf("%s\n", l.c_str());
        if (!error.empty()) {
            std::fprintf(stderr, "trellan-select: participant %d: %s\n", id, error.c_str());
            return kExitFailure;
        }
    }
    if (simulation.Interrupted()) {
        std::fprintf(stderr, "trellan-select: interrupted after %lld rows as --interrupt-after asked; the same "
                             "command without it resumes\n", simulation.RowsWritten());
        return kExitFailure;
    }
    std::printf("simulated participants %d to %d into %s\n", first, last, simulation.ResultsFolder().c_str());
    return kExitSuccess;
}
#else
int Simulate(const Options&)
{
    throw UsageError("--simulate needs the study runner, which this engine-only build leaves out");
}
#endif

int run(int argc, char** argv)
{
    CLI::App app("Runs lassos on a dataset through the selection engine, without a window\n"
                 "(and without a display unless --raster gl).",
                 "trellan-select");
    Options o;
    AddOptions(app, o);
    app.footer(kNotes);
    SetUpCommandLine(app);
    const int early = ParseCommandLine(app, argc, argv);
    if (early >= 0) return early;
    if (o.listTechniques) {
        for (const std::unique_ptr<Technique>& t : TechniqueRegistry::Instance().All())
            std::printf("%-12s %-6s %s\n", t->Name().c_str(), t->Input() == Technique::Takes::Click ? "click" : "lasso",
                        t->Description().c_str());
        return kExitSuccess;
    }
    if (!o.simulate.empty()) return Simulate(o);
    for (const char* option : {"--participants", "--results", "--seed", "--pilot", "--time-factor", "--interrupt-after"})
        if (app.count(option)) throw UsageError(std::string(option) + " goes with --simulate");

    o.explicitMatrices = o.haveView || o.haveProjection;
    int width = 800, height = 600;
    if (!o.viewport.empty()) {
        const std::string& v = o.viewport;
        const size_t x = v.find('x');
        if (x == std::string::npos) throw UsageError("--viewport: expected WxH, not '" + v + "'");
        width = std::atoi(v.substr(0, x).c_str());
        height = std::atoi(v.substr(x + 1).c_str());
        if (width <= 0 || height <= 0 || width > 16384 || height > 16384) throw UsageError("--viewport: bad size '" + v + "'");
    }
    std::vector<Lasso> lassos;
    // Lassos and clicks run in the order the command line gives them.
    size_t nextLasso = 0, nextClick = 0;
    for (const CLI::Option* opt : app.parse_order()) {
        if (opt->get_name() == "--lasso" && nextLasso < o.lassoSpecs.size())
            lassos.push_back(strokeSpec(o.lassoSpecs[nextLasso++], false));
        else if (opt->get_name() == "--click" && nextClick < o.clickSpecs.size())
            lassos.push_back(strokeSpec(o.clickSpecs[nextClick++], true));
    }
    if (!o.replay.empty()) {
        if (!lassos.empty()) throw UsageError("--replay and --lasso (or --click) exclude each other");
        lassos = readLassoLog(o.replay);
        if (!o.onlyDataset.empty()) {
            std::vector<Lasso> kept;
            for (const Lasso& l : lassos)
                if (l.dataset == o.onlyDataset) kept.push_back(l);
            if (kept.empty()) throw UsageError(o.replay + ": no lasso on dataset '" + o.onlyDataset + "'");
            lassos.swap(kept);
        }
        if (o.dataset.empty()) {
            o.dataset = lassos.front().dataset;
            for (const Lasso& l : lassos)
                if (l.dataset != o.dataset)
                    throw UsageError(o.replay + ": lassos on several datasets ('" + o.dataset + "', '" + l.dataset +
                                     "'); replay one at a time with --only-dataset ID --dataset NAME|FILE");
        }
        width = height = 0;  // the window must hold every logged viewport
        for (const Lasso& l : lassos) {
            if (l.kind != ReplayStep::Lasso) continue;
            width = std::max(width, l.viewportX + l.viewportWidth);
            height = std::max(height, l.viewportY + l.viewportHeight);
        }
    }
    if (o.dataset.empty()) throw UsageError("no --dataset given");
    if (lassos.empty()) throw UsageError("no --lasso or --click given");
    if (o.explicitMatrices && (!o.haveView || !o.haveProjection)) throw UsageError("--view and --projection go together");
    if (o.explicitMatrices && o.lookAt) throw UsageError("give either --eye/--center or --view/--projection");
    if (!o.explicitMatrices) {
        // A camera without a direction or a roll selects nothing, silently:
        // the frame holds no picture the lassos could be drawn on.
        const osg::Vec3d direction = o.lookAt ? o.center - o.eye : osg::Vec3d(0, 0, -1);
        if (direction.length2() == 0.0) throw UsageError("--eye and --center are the same point");
        if (o.up.length2() == 0.0) throw UsageError("--up is zero");
        if ((direction ^ o.up).length() <= 1e-9 * direction.length() * o.up.length())
            throw UsageError("--up is parallel to the view direction");
    }
    for (Lasso& l : lassos)
        if (!l.hasCamera) l.threshold = o.threshold;

    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    datasets->LoadConfigured({o.dataset});
    osg::ref_ptr<osg::Vec3Array> particles = datasets->datasets.empty() ? nullptr : datasets->datasets[0];
    // The reader has printed why; this line only ends the run.
    if (!particles || particles->empty()) throw std::runtime_error("dataset '" + o.dataset + "' could not be loaded");
    const size_t n = particles->size();
    // Progress goes to a terminal only; scripts reading standard error see none.
    if (isatty(2)) {
        DensityProgress::SetListener([&](const DensityProgress::Snapshot& p) {
            if (p.stage == DensityProgress::Looking) return;
            std::fprintf(stderr, "\rdensity of %s: %s", o.dataset.c_str(),
                         p.stage == DensityProgress::Done ? (p.cached ? "read from the cache\n" : "estimated\n")
                                                          : "estimating...");
            std::fflush(stderr);
        });
    }
    PreComputedDensity::Instance()->computeDensities();
    DensityProgress::SetListener(nullptr);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);

    if (o.raster.empty()) {
        const char* display = std::getenv("DISPLAY");
        o.raster = display && *display ? "gl" : "cpu";
    }
    const bool captured = o.raster == "gl";
    HeadlessScene scene(particles.get(), width, height, captured);
    osg::Camera* camera = scene.viewer->getCamera();
    if (o.explicitMatrices) {
        camera->setViewMatrix(o.view);
        camera->setProjectionMatrix(o.projection);
    } else {
        LookAtParticles(camera, *particles, o.fovy, width, height, o.lookAt, o.eye, o.center, o.up);
    }
    scene.dataTransform->setMatrix(o.model);

    std::vector<bool> mask(n, false);
    bool changed = false;
    ParticleSelection selection(scene.viewer.get(), camera, &mask, &changed);
    scene.dataTransform->addChild(selection.GetSelectionNode());
    scene.lassoCamera->addChild(selection.GetFlatTriangles());
    selection.SetTriangulatorReport(o.verbose);
    if (!captured) selection.SetLassoImageSource(ParticleSelection::LassoImageSource::Computed);
    selection.ResetSelection();

    int mismatches = 0, refused = 0;
    std::string group;
    for (size_t li = 0; li < lassos.size(); ++li) {
        const Lasso& l = lassos[li];
        if (l.hasCamera && l.group != group) selection.ClearSelection();  // each logged trial starts empty
        group = l.group;
        if (l.kind != ReplayStep::Lasso) {
            // A logged history command or threshold change, as the program applied it.
            if (l.kind == ReplayStep::Undo) selection.undoLastSelection();
            else if (l.kind == ReplayStep::Redo) selection.redoLastSelection();
            else if (l.kind == ReplayStep::Clear) selection.ClearSelection();
            else selection.updateSelection(l.threshold);
            size_t k = 0;
            for (size_t i = 0; i < n; ++i) k += mask[i];
            std::printf("%s: selected %zu of %zu particles", l.kind == ReplayStep::Undo   ? "undo"
                                                             : l.kind == ReplayStep::Redo ? "redo"
                                                             : l.kind == ReplayStep::Clear ? "clear"
                                                                                          : "threshold",
                        k, n);
            if (l.logged >= 0) {
                std::printf(" (logged %lld%s)", l.logged, static_cast<long long>(k) == l.logged ? "" : ", differs");
                mismatches += static_cast<long long>(k) != l.logged;
            }
            std::printf("\n");
            std::fflush(stdout);
            continue;
        }
        if (l.hasCamera) {
            camera->setViewport(l.viewportX, l.viewportY, l.viewportWidth, l.viewportHeight);
            camera->setViewMatrix(l.view);
            camera->setProjectionMatrix(l.projection);
            scene.dataTransform->setMatrix(l.model);
        }
        const auto start = std::chrono::steady_clock::now();
        FerrowManager::Instance()->SetTechniqueName(l.technique);
        selection.ChangeThreshold(l.threshold);
        const osg::Vec2f& p0 = l.points.front();
        if (l.mode == 1) selection.startPlusPath(p0.x(), p0.y());
        else if (l.mode == 2) selection.startMinusPath(p0.x(), p0.y());
        else selection.startIntersectionPath(p0.x(), p0.y());
        for (size_t i = 1; i < l.points.size(); ++i) selection.addIntoPath(l.points[i].x(), l.points[i].y());
        selection.endPath();
        if (selection.GetendPathTag()) {
            if (captured) scene.viewer->frame();
            selection.BuildGeometry();
            selection.SetendPathTag(false);
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!selection.GetLassoRefusal().empty()) {
            // The engine has said why on its console line; a count here would
            // read as a selection that happened.
            std::fprintf(stderr, "trellan-select: lasso %zu refused: %s\n", li + 1, selection.GetLassoRefusal().c_str());
            ++refused;
            continue;
        }
        size_t k = 0;
        for (size_t i = 0; i < n; ++i) k += mask[i];
        std::printf("selected %zu of %zu particles", k, n);
        if (l.logged >= 0) {
            std::printf(" (logged %lld%s)", l.logged, static_cast<long long>(k) == l.logged ? "" : ", differs");
            mismatches += static_cast<long long>(k) != l.logged;
        }
        std::printf(" [%.1f ms]\n", ms);
    }

    if (!o.out.empty()) {
        std::ofstream file(o.out);
        for (size_t i = 0; i < n; ++i)
            if (mask[i]) file << i << '\n';
        file.flush();
        if (!file) throw std::runtime_error(o.out + ": cannot be written");
    }
    if (refused) return kExitFailure;
    return mismatches ? kExitDiffers : kExitSuccess;
}

}  // namespace

int main(int argc, char** argv)
{
    // Each line appears as it is printed, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        PrintCommandLineMistake("trellan-select", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trellan-select: %s\n", e.what());
        return kExitFailure;
    }
}
