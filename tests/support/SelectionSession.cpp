#include "tests/support/SelectionSession.h"

#include "framework/study/FerrowManager.h"
#include "tests/support/DrawLasso.h"

SelectionSession::SelectionSession(osg::Vec3Array* particles, const SelectionSessionOptions& options)
    : labels(options.labels), data(particles, options.labels),
      scene(data.particles.get(), options.viewportWidth, options.viewportHeight),
      mask(data.particles->size() + options.extraMaskFlags, false)
{
    // The lasso camera is bound at the first reset: it goes in before.
    if (options.realLassoCamera) scene.UseLassoCamera();
    selection.reset(new ParticleSelection(scene.viewer.get(), scene.viewer->getCamera(), &mask, &changed));
    scene.dataTransform->addChild(selection->GetSelectionNode());
    scene.lassoCamera->addChild(selection->GetFlatTriangles());
    selection->ResetSelection();
}

SelectionSession::~SelectionSession()
{
    selection.reset();
    FerrowManager::Destroy();
}

bool SelectionSession::DrawLasso(int mode, const std::vector<osg::Vec2f>& points)
{
    ::DrawLasso(*selection, mode, points);
    if (!selection->GetendPathTag()) return false;
    scene.PaintLassoImage(points);
    return true;
}

void SelectionSession::Build()
{
    selection->BuildGeometry();
    selection->SetendPathTag(false);
}

bool SelectionSession::BuildKeptLasso()
{
    if (!selection->GetendPathTag()) return false;
    scene.PaintLassoImage(selection->GetLassoPoints());
    Build();
    return true;
}

const SelectionGeometry* SelectionSession::CurrentState() const
{
    return selection->GetHistory()[static_cast<size_t>(selection->GetUndoStack().back())].get();
}

long SelectionSession::MaskMismatch(const SelectionGeometry& state) const
{
    for (size_t i = 0; i < data.particles->size(); ++i)
        if (mask[i] != state.mask[i]) return static_cast<long>(i);
    return -1;
}

size_t SelectionSession::Selected() const
{
    size_t n = 0;
    for (size_t i = 0; i < data.particles->size(); ++i) n += mask[i];
    return n;
}

size_t SelectionSession::Selected(int label) const
{
    size_t n = 0;
    for (size_t i = 0; i < data.particles->size() && i < labels.size(); ++i) n += mask[i] && labels[i] == label;
    return n;
}
