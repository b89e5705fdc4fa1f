#include "selection/ParticleSelection.h"

#include "density/EngineSwitches.h"
#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"
#include "geometry/AllocationFaults.h"
#include "geometry/EmptyGeometry.h"
#include "geometry/IntersectionGeometry.h"
#include "geometry/MarchingCubesGeometry.h"
#include "geometry/MaskWords.h"
#include "geometry/MinusGeometry.h"
#include "geometry/SurfaceNormals.h"
#include "geometry/TechniqueRegistry.h"
#include "geometry/UnionGeometry.h"
#include "selection/Delaunay.h"
#include "selection/LassoClip.h"

extern "C" {
#include <triangle.h>
}

#include <boost/make_shared.hpp>
#include <osg/BlendFunc>
#include <osg/Depth>
#include <osg/GLDefines>
#include <osg/LineWidth>
#include <osg/MatrixTransform>
#include <osg/PolygonMode>
#include <osg/Viewport>

#include <tbb/task_group.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <set>
#include <utility>

namespace {

// Lasso points closer than this (window units) to the last kept point add
// nothing but noise to the polygon.
const float kLassoPointSpacing = 2.0f;

// After the selection surface (bin 11) and the selected points drawn again
// above it (bin 12).
const int kLassoLineBin = 20;
// Triangle: planar straight-line graph, zero-based numbering, edges and
// neighbours, drop unused points, no triangle above 20 square window units.
const char* const kTriangleSwitches = "epzjna20";
// Triangle's quiet switch: no statistics on standard output, where they would
// bury the program's own messages; the triangulation stays the same.
const char* const kTriangleQuiet = "Q";
// The triangulation grows with the lasso's area (no triangle above 20 square
// units), so a lasso wider or taller than any viewport OpenGL can draw is
// refused rather than triangulated into gigabytes.
const float kLargestLassoExtent = 16384.0f;
// Only the lasso's part within the viewport and this margin (window units)
// is triangulated: nothing beyond the viewport reaches the lasso image, and
// the margin keeps the stretches the clipping adds along its sides out of it.
const double kLassoClipMargin = 64.0;

// Exact duplicates stay once, at their first position.
void dropRepeatedPoints(std::vector<osg::Vec2f>& points)
{
    std::set<std::pair<float, float>> seen;
    std::vector<osg::Vec2f> unique;
    unique.reserve(points.size());
    for (const osg::Vec2f& p : points)
        if (seen.insert({p.x(), p.y()}).second) unique.push_back(p);
    points.swap(unique);
}

enum SelectionMode { PlusMode = 1, MinusMode = 2, IntersectionMode = 3 };

void replaceDrawArrays(osg::Geometry* g, GLenum mode, unsigned count)
{
    if (g->getNumPrimitiveSets() > 0) g->removePrimitiveSet(0);
    g->addPrimitiveSet(new osg::DrawArrays(mode, 0, static_cast<GLsizei>(count)));
}

void removeFirstPrimitiveSet(osg::Geometry* g)
{
    if (g->getNumPrimitiveSets() > 0) g->removePrimitiveSet(0);
}

}  // namespace

ParticleSelection::ParticleSelection(osgViewer::Viewer* viewer_, osg::Camera* camera_,
                                     std::vector<bool>* selectionMask_, bool* selectionChanged_)
    : viewer(viewer_), selectionMask(selectionMask_), camera(camera_), lassoCamera(nullptr),
      particlePositions(nullptr), selectionMode(PlusMode), threshold(1.0f), currentMode(PlusMode), currentFactor(1.0f), endPathTag(false),
      bindingsPending(true), selectionChanged(selectionChanged_)
{
    selectionNode = new osg::Group;
    lassoGeode = new osg::Geode;
    lassoVertices = new osg::Vec3Array;

    lassoGeometry = new osg::Geometry;
    {
        osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
        colours->push_back(osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
        lassoGeometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
        osg::StateSet* ss = lassoGeometry->getOrCreateStateSet();
        ss->setAttribute(new osg::LineWidth(2.5f));
        // The line's vertices lie on the near plane itself, where the rounding
        // of the unprojection puts some of them just in front of it once the
        // view has turned: depth is clamped instead of clipped there. It is
        // drawn last and over everything, so neither particles nor the
        // selection surface ever hide the stroke being drawn.
        ss->setMode(GL_DEPTH_CLAMP, osg::StateAttribute::ON);
        ss->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
        ss->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
        ss->setRenderBinDetails(kLassoLineBin, "RenderBin");
        lassoGeometry->setVertexArray(lassoVertices.get());
        lassoGeometry->setDataVariance(osg::Object::DYNAMIC);
        lassoGeometry->dirtyDisplayList();
        lassoGeometry->addPrimitiveSet(new osg::DrawArrays(GL_LINE_STRIP, 0, 0));
        lassoGeode->addDrawable(lassoGeometry.get());
    }

    volumeGeode = new osg::Geode;
    volumeGeometry = new osg::Geometry;
    volumeGeode->addDrawable(volumeGeometry.get());
    {
        osg::StateSet* ss = volumeGeometry->getOrCreateStateSet();
        ss->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_DST_ALPHA, GL_SRC_ALPHA, GL_DST_ALPHA),
                                 osg::StateAttribute::ON);
        ss->setMode(GL_BLEND, osg::StateAttribute::ON);
        ss->setMode(GL_DEPTH_TEST, osg::StateAttribute::ON);
        ss->setRenderBinDetails(11, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);
        ss->setAttributeAndModes(new osg::Depth(osg::Depth::LESS, 0.0, 1.0, false), osg::StateAttribute::ON);
        ss->setMode(GL_LIGHTING, osg::StateAttribute::ON);
        volumeGeometry->setDataVariance(osg::Object::DYNAMIC);
        volumeGeometry->dirtyDisplayList();
        osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
        colours->push_back(osg::Vec4(0.676f, 0.844f, 0.9f, 1.0f));
        volumeGeometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    }

    selectionNode->addChild(lassoGeode.get());
    selectionNode->addChild(volumeGeode.get());

    flatTrianglesGeode = new osg::Geode;
    flatTrianglesGeometry = new osg::Geometry;
    flatTrianglesVertices = new osg::Vec3Array;
    flatTrianglesColors = new osg::Vec4Array;
    flatTrianglesColors->push_back(osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
    flatTrianglesGeometry->setVertexArray(flatTrianglesVertices.get());
    flatTrianglesGeometry->setColorArray(flatTrianglesColors.get(), osg::Array::BIND_OVERALL);
    {
        osg::StateSet* ss = flatTrianglesGeometry->getOrCreateStateSet();
        ss->setAttributeAndModes(new osg::PolygonMode(osg::PolygonMode::FRONT_AND_BACK, osg::PolygonMode::FILL),
                                 osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
        ss->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    }
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    normals->push_back(osg::Vec3(0.0f, -1.0f, 0.0f));
    flatTrianglesGeometry->setNormalArray(normals.get(), osg::Array::BIND_OVERALL);
    flatTrianglesGeometry->setDataVariance(osg::Object::DYNAMIC);
    flatTrianglesGeometry->dirtyDisplayList();
    flatTrianglesGeometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 0));
    flatTrianglesGeode->addDrawable(flatTrianglesGeometry.get());
}

// Members are released in reverse order of declaration.
ParticleSelection::~ParticleSelection() = default;

osg::Group* ParticleSelection::GetSelectionNode() { return selectionNode.get(); }
osg::Geode* ParticleSelection::GetFlatTriangles() { return flatTrianglesGeode.get(); }

bool ParticleSelection::refreshSceneBindings()
{
    const char* missing = nullptr;
    osg::Group* root = viewer ? dynamic_cast<osg::Group*>(viewer->getSceneData()) : nullptr;
    osg::MatrixTransform* dataTransform = nullptr;
    osg::Group* dataGroup = nullptr;
    osg::Camera* particleCamera = nullptr;
    osg::Geode* particleGeode = nullptr;
    osg::Geometry* particleGeometry = nullptr;
    osg::Vec3Array* positions = nullptr;
    osg::Camera* lasso = nullptr;
    if (!root) missing = "the scene root (a group as the viewer's scene data)";
    else if (!(dataTransform = dynamic_cast<osg::MatrixTransform*>(root->getNumChildren() > 0 ? root->getChild(0) : nullptr)))
        missing = "the data transform (child 0 of the scene root)";
    else if (!(dataGroup = dynamic_cast<osg::Group*>(dataTransform->getNumChildren() > 0 ? dataTransform->getChild(0) : nullptr)))
        missing = "the group below the data transform";
    else if (!(particleCamera = dynamic_cast<osg::Camera*>(dataGroup->getNumChildren() > 0 ? dataGroup->getChild(0) : nullptr)))
        missing = "the camera below the data group";
    else if (!(particleGeode = dynamic_cast<osg::Geode*>(particleCamera->getNumChildren() > 1 ? particleCamera->getChild(1) : nullptr)))
        missing = "the particle geode (child 1 of the data camera)";
    else if (!(particleGeometry = dynamic_cast<osg::Geometry*>(particleGeode->getNumDrawables() > 0 ? particleGeode->getDrawable(0) : nullptr)))
        missing = "the particle geometry (drawable 0 of the particle geode)";
    else if (!(positions = dynamic_cast<osg::Vec3Array*>(particleGeometry->getVertexArray())))
        missing = "the particle positions (a Vec3Array)";
    else if (!(lasso = dynamic_cast<osg::Camera*>(root->getNumChildren() > 1 ? root->getChild(1) : nullptr)))
        missing = "the lasso camera (child 1 of the scene root)";
    if (missing) {
        std::printf("ParticleSelection: scene binding refused, missing %s\n", missing);
        return false;
    }

    modelMatrix = osg::Matrixf(dataTransform->getMatrix());
    inverseModelMatrix = osg::Matrixf::inverse(modelMatrix);
    particlePositions = positions;

    osg::Camera* master = viewer->getCamera();
    const osg::Matrixf projection(master->getProjectionMatrix());
    const osg::Matrixf view(master->getViewMatrix());
    screenMatrix.makeIdentity();
    screenMatrix.postMult(view);
    screenMatrix.postMult(projection);
    if (const osg::Viewport* vp = master->getViewport()) screenMatrix.postMult(osg::Matrixf(vp->computeWindowMatrix()));
    inverseScreenMatrix = osg::Matrixf::inverse(screenMatrix);
    lassoCamera = lasso;
    return true;
}

void ParticleSelection::unprojectAndAppend(double x, double y)
{
    osg::Vec3d p(x, y, 0.0);
    p = inverseScreenMatrix.preMult(p);
    p = inverseModelMatrix.preMult(p);
    lassoVertices->push_back(osg::Vec3f(p));
    replaceDrawArrays(lassoGeometry.get(), GL_LINE_STRIP, lassoVertices->size());
    lassoVertices->dirty();
}

void ParticleSelection::appendLassoPoint(double x, double y)
{
    lassoPoints.push_back(osg::Vec2f(static_cast<float>(x), static_cast<float>(y)));
    unprojectAndAppend(x, y);
}

namespace {

// What re-thresholding changes in a lasso volume, kept aside: the density-
// aware kind re-thresholds into a new field on the same grid (every value is
// written anew), and a failure of any kind puts the old field, surface, mask
// and cells back by swapping, which cannot fail. The other kinds change only
// their mask.
struct VolumeAside {
    boost::shared_ptr<ScalarField3D> field;
    std::vector<bool> mask;
    boost::shared_ptr<const ParticleCells> cells;
    MarchingCubesGeometry* density;
    SurfaceMesh surface;

    explicit VolumeAside(SelectionGeometry& v)
        : mask(v.mask), cells(v.particleCells), density(dynamic_cast<MarchingCubesGeometry*>(&v))
    {
        if (!density || !v.field) return;
        const ScalarField3D& f = *v.field;
        boost::shared_ptr<ScalarField3D> fresh = boost::make_shared<ScalarField3D>(
            f.xMin, f.xMax, f.xCount, f.yMin, f.yMax, f.yCount, f.zMin, f.zMax, f.zCount);
        // Nothing has changed before this point.
        field.swap(v.field);
        v.field.swap(fresh);
        std::swap(surface, density->surface);
    }
    void PutBack(SelectionGeometry& v) noexcept
    {
        if (field) {
            v.field.swap(field);
            std::swap(density->surface, surface);
        }
        v.mask.swap(mask);
        v.particleCells = cells;
    }
};

}  // namespace

void ParticleSelection::refuseLasso(const std::string& why)
{
    std::printf("ParticleSelection: lasso ignored, %s\n", why.c_str());
    lassoRefusal = why;
    lassoPoints.clear();
}

void ParticleSelection::startPath(int mode, double x, double y)
{
    selectionMode = mode;
    lassoRefusal.clear();
    volumeGeode->setNodeMask(1);
    lassoPoints.push_back(osg::Vec2f(static_cast<float>(x), static_cast<float>(y)));
    refreshSceneBindings();  // a refused binding keeps the previous matrices
    unprojectAndAppend(x, y);
}

void ParticleSelection::startPlusPath(double x, double y) { startPath(PlusMode, x, y); }
void ParticleSelection::startMinusPath(double x, double y) { startPath(MinusMode, x, y); }
void ParticleSelection::startIntersectionPath(double x, double y) { startPath(IntersectionMode, x, y); }

void ParticleSelection::addIntoPath(double x, double y)
{
    if (lassoPoints.empty()) return;  // no lasso was started
    const osg::Vec2f& last = lassoPoints.back();
    const float dx = last.x() - static_cast<float>(x);
    const float dy = last.y() - static_cast<float>(y);
    const float d = std::sqrt(dx * dx + dy * dy);
    if (!(d > kLassoPointSpacing)) return;
    appendLassoPoint(x, y);
}

void ParticleSelection::endPath()
{
    lassoVertices->clear();
    lassoVertices->dirty();
    removeFirstPrimitiveSet(lassoGeometry.get());
    flatTrianglesVertices->clear();
    flatTrianglesVertices->dirty();
    removeFirstPrimitiveSet(flatTrianglesGeometry.get());
    flatTriangleCorners.clear();
    coverage.Clear();
    lassoRefusal.clear();
    clickPending = false;
    if (lassoPoints.empty()) return;

    // A click technique takes a press and release within a few pixels as a
    // click at the press, and nothing else; lasso techniques go on below.
    const Technique* technique = TrialTechnique();
    if (technique && technique->Input() == Technique::Takes::Click) {
        const osg::Vec2f press = lassoPoints.front();
        for (const osg::Vec2f& p : lassoPoints)
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || (p - press).length() > kClickTolerance) {
                refuseLasso("the " + technique->Name() + " technique takes clicks, not lassos");
                return;
            }
        lassoPoints.assign(1, press);
        clickPending = true;
        endPathTag = true;
        return;
    }

    // Drop the closing stretch that comes back to the first point.
    const osg::Vec2f first = lassoPoints.front();
    while (!lassoPoints.empty()) {
        const osg::Vec2f& last = lassoPoints.back();
        const float dx = last.x() - first.x(), dy = last.y() - first.y();
        if (std::sqrt(dx * dx + dy * dy) < kLassoPointSpacing) lassoPoints.pop_back();
        else break;
    }
    // Triangle aborts the whole process on input it cannot handle, so a
    // participant's scribble must never reach it unless it is sound.
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (size_t i = 0; i < lassoPoints.size(); ++i) {
        const osg::Vec2f& p = lassoPoints[i];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) {
            refuseLasso("point " + std::to_string(i) + " is not finite");
            return;
        }
        if (i == 0) { minX = maxX = p.x(); minY = maxY = p.y(); }
        minX = std::min(minX, p.x()); maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y()); maxY = std::max(maxY, p.y());
    }
    if (maxX - minX > kLargestLassoExtent || maxY - minY > kLargestLassoExtent) {
        refuseLasso("it spans more than " + std::to_string(static_cast<int>(kLargestLassoExtent)) + " window units");
        return;
    }

    dropRepeatedPoints(lassoPoints);
    if (lassoPoints.size() < 3) {
        refuseLasso("it has fewer than 3 points at least 2 window units apart");
        return;
    }

    // The volumes' screen distances keep reading every lasso point; only the
    // flat triangles are limited to what the lasso camera can draw, so their
    // cost no longer grows with the lasso's area beyond the view.
    std::vector<osg::Vec2f> drawn = lassoPoints;
    const osg::Viewport* vp = viewer && viewer->getCamera() ? viewer->getCamera()->getViewport() : nullptr;
    if (EngineSwitches::lassoClippedToView.load(std::memory_order_relaxed) && vp) {
        const ClipRectangle view{vp->x() - kLassoClipMargin, vp->y() - kLassoClipMargin,
                                 vp->x() + vp->width() + kLassoClipMargin, vp->y() + vp->height() + kLassoClipMargin};
        drawn = ClipLassoToRectangle(lassoPoints, view);
        dropRepeatedPoints(drawn);
    }

    if (drawn.size() >= 3) {
        boost::shared_ptr<Delaunay> delaunay = boost::make_shared<Delaunay>(
            drawn, std::string(triangulatorReport ? "" : kTriangleQuiet) + kTriangleSwitches);
        const triangulateio* out = delaunay->output;
        const int corners = out->numberofcorners;
        flatTrianglesVertices->reserve(static_cast<size_t>(out->numberoftriangles) * 3);
        flatTriangleCorners.reserve(static_cast<size_t>(out->numberoftriangles) * 3);
        for (int t = 0; t < out->numberoftriangles; ++t)
            for (int c = 0; c < 3; ++c) {
                const int index = out->trianglelist[t * corners + c];
                osg::Vec3f v(static_cast<float>(out->pointlist[2 * index]),
                             static_cast<float>(out->pointlist[2 * index + 1]), 0.0f);
                flatTriangleCorners.push_back(osg::Vec2f(v.x(), v.y()));
                v = inverseScreenMatrix.preMult(v);
                v = inverseModelMatrix.preMult(v);
                flatTrianglesVertices->push_back(v);
            }
    }
    flatTrianglesVertices->dirty();
    flatTrianglesGeometry->addPrimitiveSet(
        new osg::DrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(flatTrianglesVertices->size())));
    flatTrianglesGeometry->dirtyBound();
    // The lasso camera draws the master camera's viewport.
    if (imageSource == LassoImageSource::Computed && vp)
        coverage.Rasterize(flatTriangleCorners, static_cast<int>(vp->x()), static_cast<int>(vp->y()),
                           static_cast<int>(vp->width()), static_cast<int>(vp->height()));
    endPathTag = true;
    if (lassoCamera) lassoCamera->setNodeMask(1);
}

const Technique* ParticleSelection::TrialTechnique(std::string* why)
{
    const FerrowManager* f = FerrowManager::Instance();
    const TechniqueRegistry& registry = TechniqueRegistry::Instance();
    const Technique* t = nullptr;
    if (f->IsPravikSelection()) t = registry.Find("density");
    else if (f->IsCylinderSelection()) t = registry.Find("cylinder");
    else if (!f->GetTechniqueName().empty()) t = registry.Find(f->GetTechniqueName());
    else {
        if (why) *why = "no selection technique is set for this trial";
        return nullptr;
    }
    if (!t && why)
        *why = "the technique \"" + f->GetTechniqueName() + "\" is not registered (registered: " + registry.Names() + ")";
    return t;
}

bool ParticleSelection::GetendPathTag() { return endPathTag; }
void ParticleSelection::SetendPathTag(bool value) { endPathTag = value; }

void ParticleSelection::BuildGeometry()
{
    if (lassoCamera) lassoCamera->setNodeMask(0);
    if (undoStack.empty()) {  // no ResetSelection yet: there is no state to add to
        refuseLasso("there is no selection to add it to (the selection was never reset)");
        return;
    }
    // A minus or intersection lasso on state 0, the initial state or one
    // undone back to, leaves the empty selection empty: no state is added, and
    // what undo and redo can reach stays as it is.
    if (undoStack.back() == 0 && selectionMode != PlusMode) {
        refuseLasso(std::string(selectionMode == MinusMode ? "a minus" : "an intersection") +
                    " lasso on the empty selection leaves it empty");
        return;
    }

    boost::shared_ptr<SelectionGeometry> volume;
    std::string why;
    const Technique* technique = TrialTechnique(&why);
    if (!technique) {
        refuseLasso(why);
        return;
    }
    const bool click = technique->Input() == Technique::Takes::Click;
    if (click != clickPending) {  // the trial's technique changed since endPath
        refuseLasso(click ? "the " + technique->Name() + " technique takes clicks, not lassos"
                          : "the " + technique->Name() + " technique takes lassos, not clicks");
        return;
    }
    clickPending = false;
    try {
        TechniqueInputs in;
        in.positions = particlePositions;
        in.viewer = viewer;
        in.modelMatrix = modelMatrix;
        if (click) in.click = lassoPoints.front();
        else in.lasso = lassoPoints;
        in.image = click || imageSource != LassoImageSource::Computed ? nullptr : &coverage;
        // The volumes say themselves when the dataset has no density field.
        const int nr = FerrowManager::Instance()->GetCurrentDatasetNr();
        const auto& fields = PreComputedDensity::Instance()->densities;
        in.density = nr >= 0 && static_cast<size_t>(nr) < fields.size() ? fields[static_cast<size_t>(nr)].get() : nullptr;
        in.thresholdFactor = static_cast<double>(threshold);
        volume = technique->Build(in);
        if (!volume) throw std::runtime_error("the " + technique->Name() + " technique built no volume");
    } catch (const std::exception& e) {
        refuseLasso(std::string("its volume cannot be built: ") + e.what());
        return;
    }
    lassoPoints.clear();
    if (knownCells && knownCellsPositions.get() == particlePositions && !volume->particleCells)
        volume->particleCells = knownCells;  // the mask checks they lie on its grid

    // The new history and stacks are built aside and swapped in once the new
    // state, its mask and the display are done, so a failure changes nothing.
    const DisplayArrays shown = saveDisplay();
    try {
        const size_t k = static_cast<size_t>(undoStack.back());
        std::vector<boost::shared_ptr<SelectionGeometry>> history(selectionHistory.begin(),
                                                                  selectionHistory.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        history.emplace_back();
        const size_t n = history.size();
        // Only the newest four states keep volumes of their own.
        if (n > 5)
            for (size_t i = 0; i <= n - 5; ++i) history[i] = emptyVolume;
        std::vector<DisplayArrays> displays(stateDisplays.begin(),
                                            stateDisplays.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        displays.emplace_back();
        if (n > 5)
            for (size_t i = 0; i <= n - 5; ++i) displays[i] = DisplayArrays();
        std::deque<int> undo = undoStack;
        undo.push_back(static_cast<int>(n) - 1);
        history[n - 1] = buildState(n == 2 ? nullptr : history[n - 2].get(), volume, selectionMode, threshold);
        displays[n - 1] = saveDisplay();
        selectionHistory.swap(history);
        stateDisplays.swap(displays);
        undoStack.swap(undo);
        redoStack.clear();
        currentVolume = volume;
        currentMode = selectionMode;
        currentFactor = threshold;
        if (volume->particleCells) {
            knownCells = volume->particleCells;
            knownCellsPositions = particlePositions;
        }
        writeMaskFromState(static_cast<int>(n) - 1);
        *selectionChanged = true;
    } catch (const std::exception& e) {
        restoreDisplay(shown);
        std::printf("ParticleSelection: lasso not added, the selection stays as it was: %s\n", e.what());
        lassoRefusal = std::string("not added, the selection stays as it was: ") + e.what();
    }
}

boost::shared_ptr<SelectionGeometry> ParticleSelection::buildState(SelectionGeometry* previous,
                                                                   const boost::shared_ptr<SelectionGeometry>& volume,
                                                                   int mode, float t)
{
    // Masks only read their volume's field and surface, and the display only
    // the state's surface, so the masks are tested on tasks of their own
    // while the display is rebuilt (each also splits its particles over
    // tasks). The state is built first: it reads the lasso volume's field and
    // cells, which that volume's first mask would be writing.
    const bool lassoMaskLeft = volume->UpdateThresholdLeavingMask(static_cast<double>(t));
    boost::shared_ptr<SelectionGeometry> state = volume;
    if (previous) {
        SelectionGeometry* lasso = volume.get();
        const CombinedGeometry::MaskTiming later = CombinedGeometry::MaskTiming::Later;
        switch (mode) {
        case MinusMode:
            state = boost::make_shared<MinusGeometry>(particlePositions, previous, lasso, later);
            break;
        case IntersectionMode:
            state = boost::make_shared<IntersectionGeometry>(particlePositions, previous, lasso, later);
            break;
        default:
            state = boost::make_shared<UnionGeometry>(particlePositions, previous, lasso, later);
            break;
        }
    }
    // The lasso volume's own mask is read only where the volume is the state
    // itself: beside a previous state it would be a million tests for nothing.
    std::vector<SelectionGeometry*> masksLeft;
    if (lassoMaskLeft && !previous) masksLeft.push_back(volume.get());
    if (previous) masksLeft.push_back(state.get());
    tbb::task_group masks;
    for (SelectionGeometry* v : masksLeft) masks.run([v] { v->ComputeMask(); });
    try {
        rebuildVolumeDisplay(*state);
    } catch (...) {
        // The tasks read the volumes: they must end before the error leaves.
        try {
            masks.wait();
        } catch (...) {
        }
        throw;
    }
    masks.wait();  // throws what a mask threw
    return state;
}

void ParticleSelection::updateSelection(float t)
{
    threshold = t;
    if (!currentVolume) return;
    // A minus or intersection lasso on the initial state added no state to combine into.
    if (selectionHistory.size() < 2) return;
    // The newest lasso's state is the newest state: currentVolume is emptied
    // whenever another state becomes current.
    const size_t h = selectionHistory.size() - 1;
    const DisplayArrays shown = saveDisplay();
    std::unique_ptr<VolumeAside> aside;
    try {
        aside.reset(new VolumeAside(*currentVolume));
        // The mode of that lasso: a later lasso start has changed selectionMode
        // even when it was rejected.
        boost::shared_ptr<SelectionGeometry> state =
            buildState(h == 1 ? nullptr : selectionHistory[h - 1].get(), currentVolume, currentMode, t);
        DisplayArrays display = saveDisplay();
        // Nothing below throws.
        selectionHistory[h].swap(state);
        std::swap(stateDisplays[h], display);
        currentFactor = t;
        writeMaskFromState(static_cast<int>(h));
        *selectionChanged = true;
    } catch (const std::exception& e) {
        if (aside) aside->PutBack(*currentVolume);
        restoreDisplay(shown);
        std::printf("ParticleSelection: threshold %g not applied, the selection stays as it was: %s\n",
                    static_cast<double>(t), e.what());
    }
}

void ParticleSelection::ChangeThreshold(float t) { threshold = t; }

void ParticleSelection::GeometryVisible(bool visible) { volumeGeode->setNodeMask(visible ? 1 : 0); }

void ParticleSelection::writeMaskFromState(int k)
{
    const SelectionGeometry* state = selectionHistory[static_cast<size_t>(k)].get();
    if (!state || !particlePositions) return;
    const size_t n = std::min({static_cast<size_t>(particlePositions->size()), state->mask.size(), selectionMask->size()});
    MaskWords::CopyPrefix(state->mask, *selectionMask, n);
}

ParticleSelection::DisplayArrays ParticleSelection::saveDisplay() const
{
    DisplayArrays d;
    d.vertices = volumeGeometry->getVertexArray();
    d.normals = volumeGeometry->getNormalArray();
    d.elements = volumeGeometry->getNumPrimitiveSets() > 0 ? volumeGeometry->getPrimitiveSet(0) : nullptr;
    return d;
}

void ParticleSelection::restoreDisplay(const DisplayArrays& d)
{
    volumeGeometry->setVertexArray(d.vertices.get());
    volumeGeometry->setNormalArray(d.normals.get(), osg::Array::BIND_PER_VERTEX);
    if (!d.elements) removeFirstPrimitiveSet(volumeGeometry.get());
    else if (volumeGeometry->getNumPrimitiveSets() > 0) volumeGeometry->setPrimitiveSet(0, d.elements.get());
    else volumeGeometry->addPrimitiveSet(d.elements.get());
    volumeGeometry->dirtyBound();
}

void ParticleSelection::rebuildVolumeDisplay(const SelectionGeometry& state)
{
    const SurfaceMesh& mesh = state.GetSurface();
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array(mesh.vertices.begin(), mesh.vertices.end());
    osg::ref_ptr<osg::DrawElementsUInt> elements = new osg::DrawElementsUInt(GL_TRIANGLES);
    elements->reserve(mesh.triangles.size() * 3);
    for (const TriangleIndices& t : mesh.triangles) {
        elements->push_back(static_cast<GLuint>(t.v0));
        elements->push_back(static_cast<GLuint>(t.v1));
        elements->push_back(static_cast<GLuint>(t.v2));
    }
    AllocationFaults::Check();
    // An empty surface has no normals (not the previous state's, which this
    // state's kept display would then hold on to).
    osg::ref_ptr<osg::Vec3Array> normals = mesh.vertices.empty() ? nullptr : SurfaceNormals(mesh);
    volumeGeometry->setVertexArray(vertices.get());
    volumeGeometry->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    if (volumeGeometry->getNumPrimitiveSets() > 0) volumeGeometry->setPrimitiveSet(0, elements.get());
    else volumeGeometry->addPrimitiveSet(elements.get());
    volumeGeometry->dirtyBound();
}

void ParticleSelection::showState(size_t k)
{
    DisplayArrays& kept = stateDisplays[k];
    if (kept.vertices) {
        restoreDisplay(kept);
        return;
    }
    rebuildVolumeDisplay(*selectionHistory[k]);
    kept = saveDisplay();
}

void ParticleSelection::clearFlatTriangles()
{
    flatTrianglesVertices->clear();
    flatTrianglesVertices->dirty();
    removeFirstPrimitiveSet(flatTrianglesGeometry.get());
}

void ParticleSelection::ClearSelection()
{
    if (!emptyVolume) return;  // no ResetSelection yet
    const DisplayArrays shown = saveDisplay();
    try {
        stateDisplays.reserve(selectionHistory.size() + 1);  // the push below cannot throw then
        selectionHistory.push_back(emptyVolume);
        try {
            undoStack.push_back(static_cast<int>(selectionHistory.size()) - 1);
            try {
                AllocationFaults::Check();  // the pushes may have had to grow the history and the stack
                // The empty selection looks the same in every state it is.
                stateDisplays.push_back(stateDisplays.front());
                showState(stateDisplays.size() - 1);
            } catch (...) {
                stateDisplays.pop_back();
                undoStack.pop_back();
                throw;
            }
        } catch (...) {
            selectionHistory.pop_back();
            throw;
        }
    } catch (const std::exception& e) {
        restoreDisplay(shown);
        std::printf("ParticleSelection: clear failed, the selection stays as it was: %s\n", e.what());
        return;
    }
    redoStack.clear();
    currentVolume.reset();
    clearFlatTriangles();
    std::fill(selectionMask->begin(), selectionMask->end(), false);
    *selectionChanged = true;
}

void ParticleSelection::ResetSelection()
{
    if (bindingsPending) {
        if (!refreshSceneBindings()) return;
        bindingsPending = false;
    }
    const DisplayArrays shown = saveDisplay();
    try {
        boost::shared_ptr<SelectionGeometry> empty = boost::make_shared<EmptyGeometry>(particlePositions);
        std::vector<boost::shared_ptr<SelectionGeometry>> history(1, empty);
        std::deque<int> undo(1, 0);
        rebuildVolumeDisplay(*empty);
        std::vector<DisplayArrays> displays(1, saveDisplay());
        selectionHistory.swap(history);
        stateDisplays.swap(displays);
        undoStack.swap(undo);
        emptyVolume = empty;
    } catch (const std::exception& e) {
        restoreDisplay(shown);
        std::printf("ParticleSelection: selection not reset: %s\n", e.what());
        return;
    }
    redoStack.clear();
    currentVolume.reset();
    clearFlatTriangles();
    std::fill(selectionMask->begin(), selectionMask->end(), false);
    *selectionChanged = true;
}

void ParticleSelection::undoLastSelection()
{
    if (undoStack.size() < 2) return;  // the initial state cannot be undone
    moveNewest(undoStack, redoStack, undoStack[undoStack.size() - 2], "undo");
}

void ParticleSelection::redoLastSelection()
{
    if (redoStack.empty()) return;
    moveNewest(redoStack, undoStack, redoStack.back(), "redo");
}

void ParticleSelection::moveNewest(std::deque<int>& from, std::deque<int>& to, int state, const char* command)
{
    const DisplayArrays shown = saveDisplay();
    try {
        to.push_back(from.back());
        try {
            AllocationFaults::Check();  // the push may have had to grow the stack
            showState(static_cast<size_t>(state));
        } catch (...) {
            to.pop_back();
            throw;
        }
    } catch (const std::exception& e) {
        restoreDisplay(shown);
        std::printf("ParticleSelection: %s failed, the selection stays as it was: %s\n", command, e.what());
        return;
    }
    from.pop_back();
    currentVolume.reset();
    writeMaskFromState(state);
    *selectionChanged = true;
}

double ParticleSelection::GetVolume()
{
    if (undoStack.empty()) return 0.0;
    return selectionHistory[static_cast<size_t>(undoStack.back())]->VolumeFraction();
}
