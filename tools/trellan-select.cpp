// trellan-select: runs lassos on a dataset without a visible window, through
// the real selection engine and an offscreen OpenGL frame per lasso, so that
// logged lassos can be replayed and selection can be scripted and timed.
//
//   trellan-select --dataset clusters --viewport 800x600
//       --eye 0,0,150 --center 0,0,0 --up 0,1,0 --fovy 30
//       --lasso 'plus:density:100,100;300,100;300,300;100,300' --out selected.txt
//   trellan-select --replay P1_lassos.csv
//
// Prints "selected K of N particles" after each lasso. Needs an X display for
// the offscreen context; a virtual one is fine (xvfb-run -a trellan-select ...).
#include "density/DensityProgress.h"
#include "density/PreComputedDensity.h"
#include "framework/kelvo/LassoCamera.h"
#include "framework/kelvo/OffscreenContext.h"
#include "framework/runner/ReplayLog.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "selection/ParticleSelection.h"

#include <osg/BoundingBox>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osgViewer/Viewer>

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

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: trellan-select --dataset NAME|FILE [camera] [--viewport WxH] [--threshold F]\n"
    "                      --lasso MODE:TECHNIQUE:X,Y;X,Y;... [--lasso ...] [--out FILE]\n"
    "       trellan-select --replay LASSO_LOG.csv [--only-dataset ID] [--dataset NAME|FILE] [--out FILE]\n"
    "  NAME       a built-in dataset (clusters, disk, filaments) or a particle file\n"
    "  camera     --eye X,Y,Z --center X,Y,Z --up X,Y,Z --fovy DEGREES (perspective), or\n"
    "             --view M --projection M with M sixteen numbers, row by row;\n"
    "             default: the whole dataset seen along -z, 30 degrees\n"
    "  --model M  the data transform (default identity)\n"
    "  MODE       plus | minus | intersection;  TECHNIQUE  density | cylinder\n"
    "  points     window coordinates, origin at the lower left of the viewport\n"
    "  --replay   replays every lasso of a study's lasso log, trial by trial, with the\n"
    "             undo, redo, clear and threshold rows of the events log beside it; the log's\n"
    "             dataset column holds the study's dataset id: name the dataset itself\n"
    "             with --dataset, and pick one dataset's lassos with --only-dataset\n"
    "  --out      writes the indices of the selected particles, one per line\n"
    "  --verbose  keeps the triangulator's report\n"
    "  --no-density-cache  estimates the density afresh and stores nothing\n"
    "  FILE       any particle format of docs/data-formats.md (FILE.csv?x=A&y=B&z=C, FILE.hdf5:/path)\n";

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
    FerrowManager::Technique technique = FerrowManager::PravikTechnique;
    std::vector<osg::Vec2f> points;
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

FerrowManager::Technique techniqueFromName(const std::string& s, const std::string& where)
{
    if (s == "density") return FerrowManager::PravikTechnique;
    if (s == "cylinder") return FerrowManager::CylinderTechnique;
    throw UsageError(where + ": unknown technique '" + s + "' (density, cylinder)");
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
    if (out.size() < 3) throw UsageError(where + ": a lasso needs at least 3 points");
    return out;
}

Lasso lassoSpec(const std::string& spec)
{
    const size_t a = spec.find(':'), b = a == std::string::npos ? a : spec.find(':', a + 1);
    if (b == std::string::npos) throw UsageError("--lasso '" + spec + "': expected MODE:TECHNIQUE:POINTS");
    Lasso l;
    l.mode = modeFromName(spec.substr(0, a), "--lasso");
    l.technique = techniqueFromName(spec.substr(a + 1, b - a - 1), "--lasso");
    l.points = points(spec.substr(b + 1), "--lasso");
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
                l.technique = techniqueFromName(step.technique, step.where);
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

// Sends standard output to /dev/null while alive.
struct QuietStdout {
    explicit QuietStdout(bool on) : saved(-1)
    {
        if (!on) return;
        std::fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
    }
    ~QuietStdout()
    {
        if (saved < 0) return;
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    int saved;
};

// The scene the facade expects, drawn offscreen.
struct OffscreenScene {
    OffscreenScene(osg::Vec3Array* particles, int width, int height)
    {
        viewer = new osgViewer::Viewer;
        root = new osg::Group;
        dataTransform = new osg::MatrixTransform;
        osg::ref_ptr<osg::Group> dataGroup = new osg::Group;
        osg::ref_ptr<osg::Camera> particleCamera = new osg::Camera;
        osg::ref_ptr<osg::Geode> particleGeode = new osg::Geode;
        osg::ref_ptr<osg::Geometry> particleGeometry = new osg::Geometry;
        particleGeometry->setVertexArray(particles);
        particleGeode->addDrawable(particleGeometry.get());
        particleCamera->addChild(new osg::Group);
        particleCamera->addChild(particleGeode.get());
        dataGroup->addChild(particleCamera.get());
        dataTransform->addChild(dataGroup.get());
        root->addChild(dataTransform.get());
        lassoCamera = new LassoCamera(viewer->getCamera(), dataTransform.get());
        root->addChild(lassoCamera.get());
        viewer->setSceneData(root.get());

        viewer->getCamera()->setViewport(0, 0, width, height);
        gc = DrawViewerOffscreen(*viewer, width, height);
        if (!gc) throw std::runtime_error("no offscreen OpenGL context (is DISPLAY set? try xvfb-run -a)");
    }

    osg::ref_ptr<osgViewer::Viewer> viewer;
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::MatrixTransform> dataTransform;
    osg::ref_ptr<LassoCamera> lassoCamera;
    osg::ref_ptr<osg::GraphicsContext> gc;
};

int run(int argc, char** argv)
{
    std::string dataset, replay, out, onlyDataset;
    std::vector<Lasso> lassos;
    int width = 800, height = 600;
    float threshold = 1.0f;
    bool lookAt = false, explicitMatrices = false;
    osg::Vec3d eye, center, up(0, 1, 0);
    double fovy = 30.0;
    osg::Matrixd model, view, projection;
    bool haveView = false, haveProjection = false;
    bool verbose = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--verbose") {
            verbose = true;
            continue;
        }
        if (arg == "--no-density-cache") {
            FerrowDatasetManager::Instance()->densityCache = false;
            continue;
        }
        if (i + 1 >= argc) throw UsageError(arg + ": missing value");
        const std::string v = argv[++i];
        if (arg == "--dataset") dataset = v;
        else if (arg == "--replay") replay = v;
        else if (arg == "--only-dataset") onlyDataset = v;
        else if (arg == "--out") out = v;
        else if (arg == "--lasso") lassos.push_back(lassoSpec(v));
        else if (arg == "--threshold") threshold = static_cast<float>(numbers(v, ' ', 1, arg)[0]);
        else if (arg == "--viewport") {
            const size_t x = v.find('x');
            if (x == std::string::npos) throw UsageError("--viewport: expected WxH");
            width = std::atoi(v.substr(0, x).c_str());
            height = std::atoi(v.substr(x + 1).c_str());
            if (width <= 0 || height <= 0 || width > 16384 || height > 16384) throw UsageError("--viewport: bad size '" + v + "'");
        } else if (arg == "--eye") { eye = vec3(v, arg); lookAt = true; }
        else if (arg == "--center") { center = vec3(v, arg); lookAt = true; }
        else if (arg == "--up") up = vec3(v, arg);
        else if (arg == "--fovy") fovy = numbers(v, ' ', 1, arg)[0];
        else if (arg == "--view") { view = matrix(v, arg); haveView = explicitMatrices = true; }
        else if (arg == "--projection") { projection = matrix(v, arg); haveProjection = explicitMatrices = true; }
        else if (arg == "--model") model = matrix(v, arg);
        else throw UsageError("unknown option '" + arg + "'");
    }
    if (!replay.empty()) {
        if (!lassos.empty()) throw UsageError("--replay and --lasso exclude each other");
        lassos = readLassoLog(replay);
        if (!onlyDataset.empty()) {
            std::vector<Lasso> kept;
            for (const Lasso& l : lassos)
                if (l.dataset == onlyDataset) kept.push_back(l);
            if (kept.empty()) throw UsageError(replay + ": no lasso on dataset '" + onlyDataset + "'");
            lassos.swap(kept);
        }
        if (dataset.empty()) {
            dataset = lassos.front().dataset;
            for (const Lasso& l : lassos)
                if (l.dataset != dataset)
                    throw UsageError(replay + ": lassos on several datasets ('" + dataset + "', '" + l.dataset +
                                     "'); replay one at a time with --only-dataset ID --dataset NAME|FILE");
        }
        width = height = 0;  // the window must hold every logged viewport
        for (const Lasso& l : lassos) {
            if (l.kind != ReplayStep::Lasso) continue;
            width = std::max(width, l.viewportX + l.viewportWidth);
            height = std::max(height, l.viewportY + l.viewportHeight);
        }
    }
    if (dataset.empty()) throw UsageError("no --dataset given");
    if (lassos.empty()) throw UsageError("no --lasso given");
    if (explicitMatrices && (!haveView || !haveProjection)) throw UsageError("--view and --projection go together");
    if (explicitMatrices && lookAt) throw UsageError("give either --eye/--center or --view/--projection");
    for (Lasso& l : lassos)
        if (!l.hasCamera) l.threshold = threshold;

    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    datasets->LoadConfigured({dataset});
    osg::ref_ptr<osg::Vec3Array> particles = datasets->datasets.empty() ? nullptr : datasets->datasets[0];
    // The reader has printed why; this line only ends the run.
    if (!particles || particles->empty()) throw std::runtime_error("dataset '" + dataset + "' could not be loaded");
    const size_t n = particles->size();
    // Progress goes to a terminal only; scripts reading standard error see none.
    if (isatty(2)) {
        DensityProgress::SetListener([&](const DensityProgress::Snapshot& p) {
            if (p.stage == DensityProgress::Looking) return;
            std::fprintf(stderr, "\rdensity of %s: %s", dataset.c_str(),
                         p.stage == DensityProgress::Done ? (p.cached ? "read from the cache\n" : "estimated\n")
                                                          : "estimating...");
            std::fflush(stderr);
        });
    }
    PreComputedDensity::Instance()->computeDensities();
    DensityProgress::SetListener(nullptr);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);

    OffscreenScene scene(particles.get(), width, height);
    osg::Camera* camera = scene.viewer->getCamera();
    if (explicitMatrices) {
        camera->setViewMatrix(view);
        camera->setProjectionMatrix(projection);
    } else {
        osg::BoundingBox box;
        for (const osg::Vec3& p : *particles) box.expandBy(p);
        const double radius = box.radius() > 0 ? box.radius() : 1.0;
        if (!lookAt) {
            center = box.center();
            eye = center + osg::Vec3d(0, 0, radius / std::sin(osg::DegreesToRadians(fovy) * 0.5) * 1.05);
        }
        const double distance = (eye - center).length();
        camera->setViewMatrixAsLookAt(eye, center, up);
        camera->setProjectionMatrixAsPerspective(fovy, double(width) / height, std::max(distance - 2 * radius, distance * 0.01),
                                                 distance + 2 * radius);
    }
    scene.dataTransform->setMatrix(model);

    std::vector<bool> mask(n, false);
    bool changed = false;
    ParticleSelection selection(scene.viewer.get(), camera, &mask, &changed);
    scene.dataTransform->addChild(selection.GetSelectionNode());
    scene.lassoCamera->addChild(selection.GetFlatTriangles());
    selection.ResetSelection();

    int mismatches = 0;
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
        FerrowManager::Instance()->SetTechnique(l.technique);
        selection.ChangeThreshold(l.threshold);
        const osg::Vec2f& p0 = l.points.front();
        if (l.mode == 1) selection.startPlusPath(p0.x(), p0.y());
        else if (l.mode == 2) selection.startMinusPath(p0.x(), p0.y());
        else selection.startIntersectionPath(p0.x(), p0.y());
        for (size_t i = 1; i < l.points.size(); ++i) selection.addIntoPath(l.points[i].x(), l.points[i].y());
        {
            // The triangulator reports on standard output; keep ours readable.
            QuietStdout quiet(!verbose);
            selection.endPath();
        }
        if (!selection.GetendPathTag() && !selection.GetLassoRefusal().empty())
            std::printf("lasso %zu ignored: %s\n", li + 1, selection.GetLassoRefusal().c_str());
        if (selection.GetendPathTag()) {
            scene.viewer->frame();
            selection.BuildGeometry();
            selection.SetendPathTag(false);
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        size_t k = 0;
        for (size_t i = 0; i < n; ++i) k += mask[i];
        std::printf("selected %zu of %zu particles", k, n);
        if (l.logged >= 0) {
            std::printf(" (logged %lld%s)", l.logged, static_cast<long long>(k) == l.logged ? "" : ", differs");
            mismatches += static_cast<long long>(k) != l.logged;
        }
        std::printf(" [%.1f ms]\n", ms);
        std::fflush(stdout);
    }

    if (!out.empty()) {
        std::ofstream o(out);
        for (size_t i = 0; i < n; ++i)
            if (mask[i]) o << i << '\n';
        o.flush();
        if (!o) throw std::runtime_error(out + ": cannot be written");
    }
    return mismatches ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "trellan-select: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trellan-select: %s\n", e.what());
        return 1;
    }
}
