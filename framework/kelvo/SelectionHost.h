#pragma once
// SelectionHost: the ParticleSelection over the dataset the visualization
// shows. In: the scene (its viewer, plot camera, data transform and lasso
// camera), the frame strategy that hands lassos on, a dataset number and
// the density fields of PreComputedDensity. Out: the selection and its
// mask, the dataset's status for the status line, a built lasso's record
// for the study log, and the reason when the dataset cannot be selected.
// Cost: Show and Host build a selection (its nodes and a mask of one flag
// per particle); the rest reads what is there.
//
// Whoever owns it keeps the scene alive longer: the selection's nodes hang in
// it. The selection's volumes point into the density fields, so it is
// dropped before they are destroyed.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct LassoRecord;
class OSGFrameAndPlotStrategy;
class ParticleScene;
class ParticleSelection;

class SelectionHost {
public:
    // What a status line shows of the dataset on screen.
    struct DatasetStatus {
        int number = -1;          // in FerrowDatasetManager; -1: none shown
        int datasets = 0;         // how many there are
        std::string name;         // built-in name or file path
        std::size_t particles = 0;
        std::size_t selected = 0;
    };

    SelectionHost(ParticleScene& scene, OSGFrameAndPlotStrategy& frame);
    ~SelectionHost();
    SelectionHost(const SelectionHost&) = delete;
    SelectionHost& operator=(const SelectionHost&) = delete;

    // With histories kept (free exploration), Show puts the shown dataset's
    // selection aside, history and all, and showing that dataset again
    // brings it back; otherwise (a study: every trial starts afresh) it is
    // dropped. Kept selections cost their volumes' memory until the end.
    void SetKeepHistories(bool on) { keepHistories = on; }
    // New selections read the lasso image computed from the flat triangles
    // instead of the lasso camera's capture.
    void SetComputedLassoImage(bool on) { computedImage = on; }
    // Drops the selection and shows dataset nr (none outside the datasets)
    // with nothing selected; Host follows once densities are there.
    void Show(int nr);
    // Creates the selection over the shown dataset; false, doing nothing,
    // when there is one. A dataset without particles or without a density
    // field is looked at, not selected: Reason says why (an empty slot, a
    // file that could not be read, says so; no particles says nothing).
    bool Host(float threshold);
    // Why the shown dataset selects nothing; "" when it can select.
    const std::string& Reason() const { return reason; }
    // Drops the selection (its nodes leave the scene).
    void Drop();

    ParticleSelection* Get() const { return selection.get(); }
    const std::vector<bool>& Mask() const { return mask; }
    int Shown() const { return shown; }
    // The mask changed since the last call.
    bool TakeChange();
    DatasetStatus Status() const;
    // "clusters (1 of 3) · 300000 particles · 1200 selected"; empty while none is shown.
    std::string StatusLine() const;
    // The lasso the selection built last, with the camera it was drawn in.
    bool DescribeBuiltLasso(LassoRecord& lasso) const;
    // Whether moving the slider changes the selection now: the newest state
    // is a density-aware lasso's (or one waiting for its frames in Pravik's
    // own selection).
    bool ThresholdFollowsSelection() const;

private:
    // The selection's nodes into the scene (its line and surface, the flat
    // lasso under the lasso camera) and out again.
    void attachNodes();
    void detachNodes();

    ParticleScene& scene;
    OSGFrameAndPlotStrategy& frame;
    std::unique_ptr<ParticleSelection> selection;
    std::vector<bool> mask;
    bool changed = false;
    int shown = -1;
    std::string reason;
    bool emptySlot = false;  // the shown dataset's file could not be read
    bool keepHistories = false;
    bool computedImage = false;
    struct Kept {
        std::unique_ptr<ParticleSelection> selection;
        std::vector<bool> mask;
        std::string reason;
    };
    std::map<int, Kept> kept;
};
