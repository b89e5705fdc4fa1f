// trellan._engine: the selection engine for Python, through the calls the GUI
// makes, with the lasso image the engine computes (no display, no GL).
//
// The engine keeps one current dataset and technique for the whole process;
// every call here takes the module's one lock, sets both for its dataset and
// selection, and runs with the GIL released, so Python threads may call in
// at any time but never two at once into the engine. Datasets are appended to
// the engine's list and keep their number; each density is estimated once.
// Bad input raises ValueError or OSError with the tools' one-line messages.
#include "density/PreComputedDensity.h"
#include "framework/runner/ReplayLog.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "geometry/MaskWords.h"
#include "geometry/TechniqueRegistry.h"
#include "selection/ParticleSelection.h"
#include "tools/HeadlessScene.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

std::mutex engineLock;

// Raised as OSError: a file that cannot be read.
struct FileProblem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Engine work: the GIL released, the module's lock held.
template <typename F>
auto Engine(F&& work) -> decltype(work())
{
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> held(engineLock);
    return work();
}

struct Dataset {
    int number = -1;
    std::string name;
    osg::ref_ptr<osg::Vec3Array> positions;
    size_t size() const { return positions->size(); }
};

struct Camera {
    osg::Matrixd view, projection;
    int width = 800, height = 600;
};

int ModeNumber(const std::string& s)
{
    if (s == "plus") return 1;
    if (s == "minus") return 2;
    if (s == "intersection") return 3;
    throw py::value_error("unknown mode '" + s + "' (plus, minus, intersection)");
}

// A registered technique by name, checked against what the caller gives it.
const Technique& TechniqueNamed(const std::string& s, bool click)
{
    const TechniqueRegistry& registry = TechniqueRegistry::Instance();
    const Technique* t = registry.Find(s);
    if (!t) throw py::value_error("unknown technique '" + s + "' (" + registry.Names() + ")");
    const bool takesClicks = t->Input() == Technique::Takes::Click;
    if (takesClicks != click)
        throw py::value_error("the " + s + " technique takes " + (takesClicks ? "clicks: use click()" : "lassos: use lasso()"));
    return *t;
}

std::shared_ptr<Dataset> Load(const std::string& what)
{
    return Engine([&] {
        FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
        const size_t before = datasets->datasets.size();
        datasets->LoadConfigured({what});
        if (datasets->datasets.size() != before + 1 || !datasets->datasets[before] || datasets->datasets[before]->empty()) {
            // A failed slot keeps its number, as in the engine; nothing refers to it.
            const std::string line = "dataset '" + what + "' could not be loaded";
            if (what.find('.') != std::string::npos || what.find('/') != std::string::npos) throw FileProblem(line);
            throw py::value_error(line);
        }
        PreComputedDensity::Instance()->computeDensities();
        auto d = std::make_shared<Dataset>();
        d->number = static_cast<int>(before);
        d->name = what;
        d->positions = datasets->datasets[before];
        return d;
    });
}

// A read-only numpy view of memory the dataset keeps alive.
template <typename T>
py::array View(const std::shared_ptr<Dataset>& d, const T* data, std::vector<py::ssize_t> shape)
{
    py::array a(py::dtype::of<T>(), shape, {}, data, py::cast(d));
    a.attr("setflags")(py::arg("write") = false);
    return a;
}

class Selection {
public:
    Selection(std::shared_ptr<Dataset> d, const Camera& c) : dataset(std::move(d)), camera(c)
    {
        Engine([&] {
            FerrowManager::Instance()->SetCurrentDatasetNr(dataset->number);
            scene = std::make_unique<HeadlessScene>(dataset->positions.get(), camera.width, camera.height, false);
            scene->viewer->getCamera()->setViewMatrix(camera.view);
            scene->viewer->getCamera()->setProjectionMatrix(camera.projection);
            mask.assign(dataset->size(), false);
            selection = std::make_unique<ParticleSelection>(scene->viewer.get(), scene->viewer->getCamera(), &mask, &changed);
            scene->dataTransform->addChild(selection->GetSelectionNode());
            scene->lassoCamera->addChild(selection->GetFlatTriangles());
            selection->SetLassoImageSource(ParticleSelection::LassoImageSource::Computed);
            selection->ResetSelection();
            return 0;
        });
    }
    ~Selection()
    {
        std::lock_guard<std::mutex> held(engineLock);
        selection.reset();
    }

    // Runs one lasso; returns the selected count. lastMs: the engine's time.
    size_t Lasso(const std::vector<std::pair<double, double>>& points, const std::string& mode,
                                    const std::string& technique)
    {
        const int m = ModeNumber(mode);
        const std::string t = TechniqueNamed(technique, false).Name();
        if (points.size() < 3) throw py::value_error("a lasso needs at least 3 points, got " + std::to_string(points.size()));
        return Stroke(points, m, t);
    }
    // One click of a click technique.
    size_t Click(std::pair<double, double> point, const std::string& mode, const std::string& technique)
    {
        const int m = ModeNumber(mode);
        return Stroke({point}, m, TechniqueNamed(technique, true).Name());
    }
    size_t Stroke(const std::vector<std::pair<double, double>>& points, int m, const std::string& t)
    {
        return Engine([&] {
            Current(t);
            const auto start = std::chrono::steady_clock::now();
            const auto& p0 = points.front();
            if (m == 1) selection->startPlusPath(p0.first, p0.second);
            else if (m == 2) selection->startMinusPath(p0.first, p0.second);
            else selection->startIntersectionPath(p0.first, p0.second);
            for (size_t i = 1; i < points.size(); ++i) selection->addIntoPath(points[i].first, points[i].second);
            selection->endPath();
            if (selection->GetendPathTag()) {
                selection->BuildGeometry();
                selection->SetendPathTag(false);
            }
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (!selection->GetLassoRefusal().empty())
                throw py::value_error("lasso refused: " + selection->GetLassoRefusal());
            lastMs = ms;
            return CountLocked();
        });
    }

    void SetThreshold(float t)
    {
        if (!(t >= 0.0f) || !std::isfinite(t)) throw py::value_error("threshold: " + std::to_string(t) + " is negative or not finite");
        Engine([&] {
            Current(FerrowManager::Instance()->GetTechniqueName());
            selection->updateSelection(t);
            return 0;
        });
    }
    float Threshold() const { return selection->GetThreshold(); }

    template <void (ParticleSelection::*command)()>
    size_t Command()
    {
        return Engine([&] {
            Current(FerrowManager::Instance()->GetTechniqueName());
            (selection.get()->*command)();
            return CountLocked();
        });
    }

    size_t Count() { return Engine([&] { return CountLocked(); }); }

    py::array_t<bool> Mask()
    {
        py::array_t<bool> out(static_cast<py::ssize_t>(mask.size()));
        unsigned char* bytes = reinterpret_cast<unsigned char*>(out.mutable_data());
        Engine([&] {
            MaskWords::Unpack(mask, bytes, mask.size());
            return 0;
        });
        return out;
    }

    py::tuple Surface()
    {
        std::vector<float> v;
        std::vector<uint32_t> t;
        Engine([&] {
            const std::deque<int>& undo = selection->GetUndoStack();
            if (undo.empty()) return 0;
            const SurfaceMesh& mesh = selection->GetHistory()[static_cast<size_t>(undo.back())]->GetSurface();
            v.reserve(mesh.vertices.size() * 3);
            for (const osg::Vec3f& p : mesh.vertices) v.insert(v.end(), {p.x(), p.y(), p.z()});
            t.reserve(mesh.triangles.size() * 3);
            for (const TriangleIndices& i : mesh.triangles)
                t.insert(t.end(), {static_cast<uint32_t>(i.v0), static_cast<uint32_t>(i.v1), static_cast<uint32_t>(i.v2)});
            return 0;
        });
        py::array_t<float> vertices({static_cast<py::ssize_t>(v.size() / 3), py::ssize_t(3)});
        std::copy(v.begin(), v.end(), vertices.mutable_data());
        py::array_t<uint32_t> triangles({static_cast<py::ssize_t>(t.size() / 3), py::ssize_t(3)});
        std::copy(t.begin(), t.end(), triangles.mutable_data());
        return py::make_tuple(vertices, triangles);
    }

    // A logged trial's lasso: its own camera and viewport. Lock held.
    size_t RunLogged(const LassoRecord& l, const std::string& t)
    {
        osg::Camera* c = scene->viewer->getCamera();
        c->setViewport(l.viewportX, l.viewportY, l.viewportWidth, l.viewportHeight);
        c->setViewMatrix(l.view);
        c->setProjectionMatrix(l.projection);
        scene->dataTransform->setMatrix(l.model);
        Current(t);
        selection->ChangeThreshold(l.threshold);
        const osg::Vec2f& p0 = l.points.front();
        if (l.mode == LassoRecord::Minus) selection->startMinusPath(p0.x(), p0.y());
        else if (l.mode == LassoRecord::Intersection) selection->startIntersectionPath(p0.x(), p0.y());
        else selection->startPlusPath(p0.x(), p0.y());
        for (size_t i = 1; i < l.points.size(); ++i) selection->addIntoPath(l.points[i].x(), l.points[i].y());
        selection->endPath();
        if (selection->GetendPathTag()) {
            selection->BuildGeometry();
            selection->SetendPathTag(false);
        }
        return CountLocked();
    }
    ParticleSelection& Engine_() { return *selection; }
    void Current(const std::string& t)
    {
        FerrowManager::Instance()->SetCurrentDatasetNr(dataset->number);
        FerrowManager::Instance()->SetTechniqueName(t);
    }
    size_t CountLocked() const
    {
        size_t k = 0;
        for (bool b : mask) k += b;
        return k;
    }

    std::shared_ptr<Dataset> dataset;
    double lastMs = 0.0;

private:
    Camera camera;
    std::unique_ptr<HeadlessScene> scene;
    std::vector<bool> mask;
    bool changed = false;
    std::unique_ptr<ParticleSelection> selection;
};

Camera DefaultCamera(const Dataset& d, std::pair<int, int> viewport)
{
    Camera c;
    c.width = viewport.first;
    c.height = viewport.second;
    if (c.width <= 0 || c.height <= 0 || c.width > 16384 || c.height > 16384)
        throw py::value_error("viewport: bad size " + std::to_string(c.width) + "x" + std::to_string(c.height));
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    osg::Vec3d eye, center;
    LookAtParticles(camera.get(), *d.positions, 30.0, c.width, c.height, false, eye, center, osg::Vec3d(0, 1, 0));
    c.view = camera->getViewMatrix();
    c.projection = camera->getProjectionMatrix();
    return c;
}

Camera LookAtCamera(std::array<double, 3> eye, std::array<double, 3> center, std::array<double, 3> up, double fovy,
                    std::pair<int, int> viewport, double zNear, double zFar)
{
    Camera c;
    c.width = viewport.first;
    c.height = viewport.second;
    if (c.width <= 0 || c.height <= 0 || c.width > 16384 || c.height > 16384)
        throw py::value_error("viewport: bad size " + std::to_string(c.width) + "x" + std::to_string(c.height));
    if (!(fovy > 0.0 && fovy < 180.0)) throw py::value_error("fovy: " + std::to_string(fovy) + " is not between 0 and 180 degrees");
    const osg::Vec3d e(eye[0], eye[1], eye[2]), ce(center[0], center[1], center[2]);
    const double distance = (e - ce).length();
    if (!(distance > 0.0)) throw py::value_error("eye and center are the same point");
    c.view.makeLookAt(e, ce, osg::Vec3d(up[0], up[1], up[2]));
    if (!(zNear > 0.0)) zNear = distance * 0.01;
    if (!(zFar > zNear)) zFar = distance * 100.0;
    c.projection.makePerspective(fovy, double(c.width) / c.height, zNear, zFar);
    return c;
}

// As trellan-select --replay: one selection, emptied (by clear, as the
// program does between trials) before each logged trial.
py::list Replay(const std::string& path, const std::shared_ptr<Dataset>& d, const std::string& onlyDataset)
{
    ReplayLog log;
    std::string error;
    if (!log.Read(path, error)) throw FileProblem(error);
    Camera c;
    c.width = c.height = 1;  // the window must hold every logged viewport
    bool any = false;
    for (const ReplayTrial& trial : log.Trials()) {
        if (!onlyDataset.empty() && trial.dataset != onlyDataset) continue;
        for (const ReplayStep& s : trial.steps)
            if (s.kind == ReplayStep::Lasso) {
                c.width = std::max(c.width, s.lasso.viewportX + s.lasso.viewportWidth);
                c.height = std::max(c.height, s.lasso.viewportY + s.lasso.viewportHeight);
                any = true;
            }
    }
    if (!any) throw py::value_error(path + ": no lasso" + (onlyDataset.empty() ? "" : " on dataset '" + onlyDataset + "'"));
    Selection sel(d, c);
    py::list steps;
    for (const ReplayTrial& trial : log.Trials()) {
        if (!onlyDataset.empty() && trial.dataset != onlyDataset) continue;
        Engine([&] {
            sel.Engine_().ClearSelection();
            return 0;
        });
        for (const ReplayStep& s : trial.steps) {
            std::string t = "density";
            if (s.kind == ReplayStep::Lasso) t = TechniqueNamed(s.technique, s.lasso.points.size() == 1).Name();
            const size_t k = Engine([&] {
                if (s.kind == ReplayStep::Lasso) return sel.RunLogged(s.lasso, t);
                sel.Current(FerrowManager::Instance()->GetTechniqueName());
                ParticleSelection& e = sel.Engine_();
                if (s.kind == ReplayStep::Undo) e.undoLastSelection();
                else if (s.kind == ReplayStep::Redo) e.redoLastSelection();
                else if (s.kind == ReplayStep::Clear) e.ClearSelection();
                else e.updateSelection(s.threshold);
                return sel.CountLocked();
            });
            py::dict row;
            row["participant"] = trial.participant;
            row["trial"] = trial.trial;
            row["dataset"] = trial.dataset;
            row["step"] = s.KindName();
            row["where"] = s.where;
            row["logged"] = s.logged;
            row["reproduced"] = k;
            steps.append(row);
        }
    }
    return steps;
}

}  // namespace

PYBIND11_MODULE(_engine, m)
{
    m.doc() = "The trellan selection engine, without a display.";
    py::register_exception<FileProblem>(m, "FileProblem", PyExc_OSError);

    py::class_<Dataset, std::shared_ptr<Dataset>>(m, "Dataset")
        .def_readonly("name", &Dataset::name)
        .def_readonly("number", &Dataset::number)
        .def("__len__", &Dataset::size)
        .def_property_readonly("positions",
                               [](const std::shared_ptr<Dataset>& d) {
                                   return View(d, reinterpret_cast<const float*>(d->positions->getDataPointer()),
                                               {static_cast<py::ssize_t>(d->size()), 3});
                               })
        .def_property_readonly("labels",
                               [](const std::shared_ptr<Dataset>& d) -> py::object {
                                   const std::vector<int>& l = FerrowDatasetManager::Instance()->labels[d->number];
                                   if (l.empty()) return py::none();
                                   return View(d, l.data(), {static_cast<py::ssize_t>(l.size())});
                               })
        .def_property_readonly("offset",
                               [](const std::shared_ptr<Dataset>& d) {
                                   const osg::Vec3d& o = FerrowDatasetManager::Instance()->offsets[d->number];
                                   return View(d, o.ptr(), {3});
                               })
        .def_property_readonly("density",
                               [](const std::shared_ptr<Dataset>& d) {
                                   const ParticleDensityField3D& f = *PreComputedDensity::Instance()->Field(d->number);
                                   return View(d, f.values.data(), {f.zCount, f.yCount, f.xCount});
                               })
        .def_property_readonly("density_box", [](const std::shared_ptr<Dataset>& d) {
            const ParticleDensityField3D& f = *PreComputedDensity::Instance()->Field(d->number);
            py::dict box;
            box["min"] = py::make_tuple(f.xMin, f.yMin, f.zMin);
            box["max"] = py::make_tuple(f.xMax, f.yMax, f.zMax);
            box["step"] = py::make_tuple(f.xStep, f.yStep, f.zStep);
            box["shape"] = py::make_tuple(f.zCount, f.yCount, f.xCount);
            return box;
        });

    py::class_<Camera>(m, "Camera")
        .def(py::init(&LookAtCamera), py::arg("eye"), py::arg("center"), py::arg("up") = std::array<double, 3>{0, 1, 0},
             py::arg("fovy") = 30.0, py::arg("viewport") = std::make_pair(800, 600), py::arg("near") = 0.0,
             py::arg("far") = 0.0)
        .def_static("default", &DefaultCamera, py::arg("dataset"), py::arg("viewport") = std::make_pair(800, 600))
        .def_property_readonly("view", [](const Camera& c) { return std::vector<double>(c.view.ptr(), c.view.ptr() + 16); })
        .def_property_readonly("projection",
                               [](const Camera& c) { return std::vector<double>(c.projection.ptr(), c.projection.ptr() + 16); })
        .def_readonly("width", &Camera::width)
        .def_readonly("height", &Camera::height);

    py::class_<Selection>(m, "Selection")
        .def(py::init<std::shared_ptr<Dataset>, const Camera&>(), py::arg("dataset"), py::arg("camera"))
        .def("lasso", &Selection::Lasso, py::arg("points"), py::arg("mode") = "plus", py::arg("technique") = "density")
        .def("click", &Selection::Click, py::arg("point"), py::arg("mode") = "plus", py::arg("technique"))
        .def_property("threshold", &Selection::Threshold, &Selection::SetThreshold)
        .def("undo", &Selection::Command<&ParticleSelection::undoLastSelection>)
        .def("redo", &Selection::Command<&ParticleSelection::redoLastSelection>)
        .def("clear", &Selection::Command<&ParticleSelection::ClearSelection>)
        .def_property_readonly("count", &Selection::Count)
        .def_property_readonly("mask", &Selection::Mask)
        .def_property_readonly("surface", &Selection::Surface)
        .def_readonly("dataset", &Selection::dataset)
        .def_readonly("lasso_ms", &Selection::lastMs, "the engine's time for the last lasso, in milliseconds");

    m.def("load", &Load, py::arg("dataset"));
    m.def("replay", &Replay, py::arg("lassos_csv"), py::arg("dataset"), py::arg("only_dataset") = "");
    m.def("techniques", [] {
        py::list l;
        for (const std::unique_ptr<Technique>& technique : TechniqueRegistry::Instance().All()) {
            py::dict t;
            t["name"] = technique->Name();
            t["takes"] = technique->Input() == Technique::Takes::Click ? "click" : "lasso";
            t["description"] = technique->Description();
            t["modes"] = py::make_tuple("plus", "minus", "intersection");
            l.append(t);
        }
        return l;
    });
}
