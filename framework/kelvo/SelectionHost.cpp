#include "framework/kelvo/SelectionHost.h"

#include "density/PreComputedDensity.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/runner/LassoRecord.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "geometry/MarchingCubesGeometry.h"
#include "selection/ParticleSelection.h"

#include <algorithm>
#include <cstdio>

namespace {
const char* const Dot = " \xC2\xB7 ";
} // namespace

SelectionHost::SelectionHost(ParticleScene& scene, OSGFrameAndPlotStrategy& frame) : scene(scene), frame(frame) {}

SelectionHost::~SelectionHost()
{
    Drop();
    kept.clear();
}

void SelectionHost::attachNodes()
{
    scene.GetDataTransform()->addChild(selection->GetSelectionNode());
    scene.GetLassoCamera()->addChild(selection->GetFlatTriangles());
}

void SelectionHost::detachNodes()
{
    scene.GetDataTransform()->removeChild(selection->GetSelectionNode());
    scene.GetLassoCamera()->removeChild(selection->GetFlatTriangles());
}

void SelectionHost::Drop()
{
    frame.SetSelection(nullptr);
    if (!selection) return;
    detachNodes();
    selection.reset();
}

void SelectionHost::Show(int nr)
{
    if (keepHistories && selection && shown >= 0) {
        // Put aside, nodes out of the scene: switching back restores it.
        frame.SetSelection(nullptr);
        detachNodes();
        Kept& k = kept[shown];
        k.selection = std::move(selection);
        k.mask = std::move(mask);
        k.reason = reason;
    } else {
        Drop();
    }
    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    osg::Vec3Array* positions = nullptr;
    if (nr >= 0 && nr < static_cast<int>(datasets->datasets.size())) positions = datasets->datasets[nr].get();
    shown = nr;
    emptySlot = !positions;
    scene.SetParticles(positions);
    const auto back = kept.find(nr);
    if (back != kept.end() && positions && back->second.mask.size() == positions->size()) {
        // The selection still writes into this host's mask: its flags come
        // back into the same vector.
        selection = std::move(back->second.selection);
        mask = std::move(back->second.mask);
        reason = back->second.reason;
        kept.erase(back);
        attachNodes();
        frame.SetSelection(selection.get());
        changed = true;  // the colours show it again
        return;
    }
    mask.assign(positions ? positions->size() : 0, false);
    changed = false;
}

bool SelectionHost::Host(float threshold)
{
    if (selection) return false;
    if (mask.empty()) {
        // Nothing to select in; an empty slot is a file that could not be
        // read, which the view says rather than showing a bare frame.
        reason = emptySlot ? "This dataset's file could not be read (the console says why): nothing to show" : "";
        return true;
    }
    const std::vector<boost::shared_ptr<ParticleDensityField3D>>& fields = PreComputedDensity::Instance()->densities;
    const ParticleDensityField3D* field =
        shown >= 0 && shown < static_cast<int>(fields.size()) ? fields[static_cast<size_t>(shown)].get() : nullptr;
    if (field) {
        selection.reset(new ParticleSelection(scene.GetViewer(), scene.GetPlotCamera(), &mask, &changed));
        if (computedImage) selection->SetLassoImageSource(ParticleSelection::LassoImageSource::Computed);
        attachNodes();
        selection->ResetSelection();
        selection->ChangeThreshold(threshold);
        frame.SetSelection(selection.get());
        // A field without volume or without any density selects nothing: say so
        // on screen, not only on the console.
        const bool noExtent = field->xMax <= field->xMin && field->yMax <= field->yMin && field->zMax <= field->zMin;
        reason = noExtent ? "All particles lie at one point: nothing can be selected"
                 : field->Mean() == 0.0 ? "Too few particles for a density: nothing can be selected"
                                        : "";
    } else {
        reason = "No density for this dataset: nothing can be selected";
        printf("Dataset %d cannot be selected: it has no density field\n", shown);
    }
    return true;
}

bool SelectionHost::TakeChange()
{
    const bool was = changed;
    changed = false;
    return was;
}

SelectionHost::DatasetStatus SelectionHost::Status() const
{
    DatasetStatus status;
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    status.datasets = static_cast<int>(datasets->datasets.size());
    if (shown < 0 || shown >= status.datasets) return status;
    status.number = shown;
    status.name = datasets->names[shown];
    status.particles = mask.size();
    status.selected = static_cast<std::size_t>(std::count(mask.begin(), mask.end(), true));
    return status;
}

std::string SelectionHost::StatusLine() const
{
    const DatasetStatus s = Status();
    if (s.number < 0) return "";
    // Which of several: Page Up and Page Down step through them.
    const std::string of =
        s.datasets > 1 ? " (" + std::to_string(s.number + 1) + " of " + std::to_string(s.datasets) + ")" : "";
    return s.name.substr(s.name.find_last_of('/') + 1) + of + Dot + std::to_string(s.particles) + " particles" + Dot +
           std::to_string(s.selected) + " selected";
}

bool SelectionHost::DescribeBuiltLasso(LassoRecord& lasso) const
{
    if (!selection) return false;
    const osg::Camera* camera = scene.GetViewer()->getCamera();
    const int mode = selection->GetSelectionMode();
    lasso.mode = mode == 2 ? LassoRecord::Minus : mode == 3 ? LassoRecord::Intersection : LassoRecord::Plus;
    lasso.threshold = selection->GetThreshold();
    lasso.viewportX = scene.GetViewportX();
    lasso.viewportY = scene.GetViewportY();
    lasso.viewportWidth = scene.GetViewportWidth();
    lasso.viewportHeight = scene.GetViewportHeight();
    lasso.model = scene.GetDataTransform()->getMatrix();
    lasso.view = camera->getViewMatrix();
    lasso.projection = camera->getProjectionMatrix();
    lasso.points = frame.GetBuiltLasso();
    return true;
}

bool SelectionHost::ThresholdFollowsSelection() const
{
    if (!selection) return false;
    // A lasso waiting for its frames is built with the slider's value.
    if (frame.IsBuildPending()) return FerrowManager::Instance()->IsPravikSelection();
    // Only the density-aware volume re-thresholds; undo, redo, clear and
    // reset drop the current volume.
    return dynamic_cast<const MarchingCubesGeometry*>(selection->GetCurrentVolume().get()) != nullptr;
}
