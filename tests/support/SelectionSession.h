#pragma once
// A selection session as the visualization hosts one, without a window: the
// particles as dataset 0 with their density (DatasetFixture), a scene of the
// required layout (SceneFixture), the mask with its changed flag, and a
// ParticleSelection bound to them, its nodes in the scene, reset once. Lasso
// images are painted by hand unless the real lasso camera is asked for; that
// one draws in a frame, so it needs an OffscreenContext on the viewer.
//
// In: particles and the options below. Out: the members. Cost: the density
// field of the dataset (a 64³ estimate) and one reset; the destructor drops
// the selection first, then the scene, the dataset and the study framework's
// current technique.
#include "tests/support/DatasetFixture.h"
#include "tests/support/SceneFixture.h"

#include "selection/ParticleSelection.h"

#include <osg/Vec2f>

#include <cstddef>
#include <memory>
#include <vector>

struct SelectionSessionOptions {
    int viewportWidth = 800;
    int viewportHeight = 600;
    std::vector<int> labels;       // one per particle; empty: none
    size_t extraMaskFlags = 0;     // a host's mask may be longer than the dataset
    bool realLassoCamera = false;  // the framework's LassoCamera as child 1
};

struct SelectionSession {
    explicit SelectionSession(osg::Vec3Array* particles, const SelectionSessionOptions& options = {});
    ~SelectionSession();
    SelectionSession(const SelectionSession&) = delete;
    SelectionSession& operator=(const SelectionSession&) = delete;

    // Draws a lasso through the points (mode 1 plus, 2 minus, 3 intersection)
    // and, when it closes, paints the polygon of the given points as its
    // image. Returns whether it closed; Build() then turns it into a volume.
    bool DrawLasso(int mode, const std::vector<osg::Vec2f>& points);
    // BuildGeometry for the closed lasso, as the frame after it does.
    void Build();
    // For a lasso drawn straight on the selection: paints the lasso points it
    // kept (after the spacing rule) as the image and builds. False, building
    // nothing, when no closed lasso waits.
    bool BuildKeptLasso();

    // The state the undo stack points at.
    const SelectionGeometry* CurrentState() const;
    // First particle whose mask flag differs from the state's, or -1.
    long MaskMismatch(const SelectionGeometry& state) const;
    // Selected particles; with a label, only those carrying it.
    size_t Selected() const;
    size_t Selected(int label) const;

    std::vector<int> labels;
    DatasetFixture data;
    SceneFixture scene;
    std::vector<bool> mask;
    bool changed = false;
    // Declared last so it goes first: its volumes point into the density.
    std::unique_ptr<ParticleSelection> selection;
};
