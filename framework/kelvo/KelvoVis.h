#pragma once
// KelvoVis: the visualization the view hosts. It shows the current study
// dataset in an embedded OSG viewer placed in the kelvo main area, hosts the
// ParticleSelection that turns lassos into a selection, and draws the
// on-screen controls (threshold slider, undo, redo, clear) in the side and
// extra areas. A column along the right edge of the main area holds the
// touch controls: the stroke mode for pointers without a keyboard (rotate;
// lasso plus, minus, intersection), the technique in free exploration
// (density-aware, cylinder) and the study's Start/Done button; every one is
// at least kMinTouchSize pixels. Messages (the trial's instruction) go in a
// band above the 3D area, never over the data.
//
// Texts that explain the program lie over the 3D area only, never over the
// touch column or the message band: the help panel (centred), a notice (a
// hint, what a key did; in the lower part), the status line (dataset,
// particles, selected; lower-left corner, outside a study) and, along the
// threshold slider, its label, which says when the value only applies to
// the next density-aware lasso. Whoever changes the help or the notice
// wakes an on-demand view; the status line and the label change with
// frames that are drawn anyway.
//
// Pointers without a keyboard (TUIO fingers, the whiteboard pen, the extra
// mice) send plain strokes; a plain stroke that starts on the 3D area does
// what the selected stroke mode says. The Qt mouse keeps its keys (the view
// says which pointer it is through setPointerHasKeyboard). While a lasso is
// being drawn, presses of every other pointer are ignored, buttons included:
// a second hand must not change the selection under a lasso in progress.
//
// How the view drives it, every paint: setDefaultFboId(fbo) when the view
// renders into a framebuffer object, renderAll(false) (controls; finishes a
// lasso that has been drawn once), frame() on every viewer of GetOsgViewer(),
// then renderTouchIndication(). Input arrives as OmbraEvents through
// getComponentAt / processEvent; changeNotifier's valueChanged() asks for an
// immediate repaint. The study trial control sees it only as a StudyTrialView.
//
// It places and drives its parts: SelectionHost holds the selection over the
// shown dataset, DensityWorker the density precomputation and its progress,
// OnScreenTexts the texts over the 3D area and beside the slider, StudyPanel
// a study's form, questionnaires and breaks over the main area (drawn after
// the viewers, the only thing a press reaches while it is shown).
#include "framework/kelvo/DensityWorker.h"
#include "framework/kelvo/KelvoLayout.h"
#include "framework/kelvo/OnScreenTexts.h"
#include "framework/kelvo/SelectionHost.h"
#include "framework/kelvo/StudyPanel.h"
#include "framework/kelvo/StudyTrialView.h"
#include "framework/ombra/EventKind.h"
#include "framework/ombra/OmbraManager.h"
#include "framework/ombra/TextPanel.h"

#include <QtGui/qwindowdefs.h>
#include <osg/GL>
#include <osg/Matrixd>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class ButtonComponent;
class ChangeNotifier;
class OSGFrameAndPlotStrategy;
class ParticleScene;
class ParticleSelection;
class SliderComponent;
class StudyTrialControl;
class WindowsFrameTimer;

class KelvoVis : public OmbraManager, public StudyTrialView {
public:
    // Component ids; the view hands them back through addToUpdateList.
    enum ComponentId {
        FrameId = 1, SliderId = 2, UndoId = 3, RedoId = 4, ClearId = 5, StudyId = 6,
        RotateModeId = 7, PlusModeId = 8, MinusModeId = 9, IntersectionModeId = 10,
        // One technique button per registered technique, from 11 on, in the
        // registry's order: density, cylinder, then the others.
        DensityTechniqueId = 11, CylinderTechniqueId = 12,
        // The study panel's controls (form, questionnaires, breaks), from 100 on.
        StudyPanelFirstId = 100
    };
    // What a plain stroke of a pointer without a keyboard does on the 3D area.
    enum StrokeMode { RotateMode = 0, PlusMode, MinusMode, IntersectionMode };
    // Touch controls are never smaller than this (view pixels).
    static constexpr double kMinTouchSize = 40.0;

    // Loads the study datasets when none are loaded, builds the scene for the
    // current dataset and hosts the selection. The 3D view covers the whole
    // display until setLayout places it.
    KelvoVis(WindowsFrameTimer* timer, WId window, int displayWidth, int displayHeight);
    ~KelvoVis() override;
    KelvoVis(const KelvoVis&) = delete;
    KelvoVis& operator=(const KelvoVis&) = delete;

    // Second build stage: the kelvo window's areas (view pixels). The operate
    // window is kept for reference only.
    void setLayout(const KelvoLayout& kelvo, const KelvoLayout& operate);

    void processEvent(OmbraEvent* event, VisComponent* component) override;
    VisComponent* getComponentAt(double x, double y, bool touch) override;
    void addToUpdateList(int id) override;
    void setPointerHasKeyboard(bool keyboard) override { pointerHasKeyboard = keyboard; }

    StrokeMode GetStrokeMode() const { return strokeMode; }
    void SetStrokeMode(StrokeMode mode);
    // Technique of touch lassos in free exploration (a trial fixes its own).
    bool GetTouchCylinder() const { return GetTouchTechnique() == "cylinder"; }
    void SetTouchCylinder(bool cylinder) { SetTouchTechnique(cylinder ? "cylinder" : "density"); }
    // Any registered technique by name; false (nothing changes) for another name.
    const std::string& GetTouchTechnique() const { return touchTechniques[touchTechnique]; }
    bool SetTouchTechnique(const std::string& name);
    // Whether the selection reads the lasso image the engine computes rather
    // than the lasso camera's capture; set before the selection is hosted.
    void SetComputedLassoImage(bool computed) { computedLassoImage = computed; }
    ButtonComponent* GetModeButton(StrokeMode mode) const { return modeButtons[mode]; }
    ButtonComponent* GetTechniqueButton(bool cylinder) const { return techniqueButtons[cylinder ? 1 : 0]; }
    // The named technique's button, or null.
    ButtonComponent* GetTechniqueButton(const std::string& name) const;
    // Pointers drawn as down (touch marks), for tests.
    size_t GetPointersDown() const { return pointersDown.size(); }
    // Where the message band lies (view pixels, origin lower left).
    void GetMessageBand(double& left, double& bottom, double& width, double& height) const;

    // Draws the controls with plain GL in the view's orthographic pixel space
    // and runs the between-frames work (dataset switch, density computation,
    // a drawn lasso's completion, selection colours).
    void renderAll(bool force);
    // Marks the pointers that are down (after the viewers have drawn).
    void renderTouchIndication();
    // The view's size changed; areas scale with it from the display size.
    void resizeVis(int width, int height);
    std::vector<osgViewer::Viewer*> GetOsgViewer();
    // The framebuffer the view renders into (a QOpenGLWidget draws into its
    // own FBO); OSG rebinds it after off-screen cameras.
    void setDefaultFboId(GLuint fbo);

    // Emits valueChanged() when the view should repaint at once.
    ChangeNotifier* changeNotifier;

    // For the program, a study runner and tests.
    ParticleSelection* GetSelection() const { return host->Get(); }
    const std::vector<bool>& GetSelectionMask() const override { return host->Mask(); }
    OSGFrameAndPlotStrategy* GetFrameStrategy() const { return frameStrategy; }
    ParticleScene* GetScene() const { return scene.get(); }
    SliderComponent* GetThresholdSlider() const { return slider; }
    ButtonComponent* GetUndoButton() const { return undoButton; }
    ButtonComponent* GetRedoButton() const { return redoButton; }
    ButtonComponent* GetClearButton() const { return clearButton; }
    // Start/done of a study trial; hidden outside a study.
    ButtonComponent* GetStudyButton() const { return studyButton; }
    StudyTrialControl* GetStudyControl() const { return study.get(); }
    // The participant form, questionnaires and breaks over the main area;
    // while it is shown nothing else on the view takes a press.
    StudyPanel* GetStudyPanel() const { return panel.get(); }
    // A break counting down repaints every second, even in an on-demand view.
    bool KeepsAwake() const { return panel->Counting(); }
    VisComponent* GetFrameComponent() const { return frameComponent; }
    const KelvoLayout& GetKelvoLayout() const { return kelvo; }
    int GetShownDataset() const { return host->Shown(); }
    bool DensitiesReady() const override { return densitiesReady; }
    // Runs the density precomputation now if it has not run (it prints one
    // progress line per dataset), or waits for the one running. renderAll
    // starts it on a worker thread after one frame has shown the "Computing
    // densities…" message, shows its progress and takes the fields once done.
    void ComputeDensitiesNow();
    // Shows dataset nr (a new selection over its particles); renderAll calls
    // it when the study framework's current dataset changes.
    void ShowDataset(int nr);
    std::vector<int> GetUpdateList() const { return updateList; }
    // Status line over the 3D area ("Computing densities…"); empty hides it.
    void SetMessage(const std::string& text) override;
    const std::string& GetMessage() const { return texts.GetMessage(); }
    const OnScreenTexts& GetTexts() const { return texts; }
    // A line along the top of the 3D area (a replay's step); empty hides it.
    void SetCaption(const std::string& text) { texts.SetCaption(text); }
    const std::string& GetCaption() const { return texts.GetCaption(); }
    // A closed line over the 3D area in view pixels (a replayed lasso's);
    // empty hides it.
    void SetOutline(std::vector<osg::Vec2f> points) { texts.SetOutline(std::move(points)); }

    // A target shown over the selection (Ctrl+O) until another replaces it
    // or Clear/ShowDataset drops it; selected particles of it show as
    // selected. The status line counts it.
    void SetHighlight(std::vector<bool> target);
    void ClearHighlight();
    const std::vector<bool>& GetHighlight() const { return highlight; }
    // Zoom (wheel, keys) where the view allows it: always in free
    // exploration, in a study only where the study file allows it.
    void SetZoomAllowedInStudy(bool on) { zoomInStudy = on; }
    // Which device the events that follow come from ("mouse", "touch",
    // "board", "mice"), set by the view before it hands them on, and whether
    // the Qt mouse is off: a study's trial rows record both.
    void SetPointerSource(const char* source) { pointerSource = source ? source : ""; }
    void SetTouchOnly(bool on);
    bool ZoomAllowed() const;
    // Magnifies about view pixel (x, y); false where zoom is not allowed.
    bool ZoomAt(double factor, double x, double y);
    // Back to the dataset's start view: no turn, no zoom.
    void ResetView();

    // What a status line shows of the dataset on screen.
    using DatasetStatus = SelectionHost::DatasetStatus;
    DatasetStatus GetDatasetStatus() const { return host->Status(); }

    // The help panel's rows (keys, what they do; a heading has no second part).
    using HelpRow = TextPanel::Row;
    void SetHelp(std::vector<HelpRow> rows) { texts.SetHelp(std::move(rows)); }
    void SetHelpShown(bool shown) { texts.SetHelpShown(shown); }
    bool IsHelpShown() const { return texts.IsHelpShown(); }
    // One line in the lower part of the 3D area; empty hides it.
    void SetNotice(const std::string& text) { texts.SetNotice(text); }
    const std::string& GetNotice() const { return texts.GetNotice(); }
    // "clusters (1 of 3) · 300000 particles · 1200 selected"; empty while none is shown.
    const std::string& GetStatusLine() const { return texts.GetStatusLine(); }
    // Whether moving the slider changes the selection now: the newest state
    // is a density-aware lasso's. Otherwise the value waits for the next one.
    bool ThresholdFollowsSelection() const { return host->ThresholdFollowsSelection(); }
    // The slider's label as drawn.
    std::string GetThresholdLabel() const;
    // What the on-screen controls do, for the help panel.
    static std::vector<HelpRow> ControlHelp();

private:
    // What the study trial control may do (StudyTrialView).
    bool IsLassoInProgress() const override;
    bool DescribeBuiltLasso(LassoRecord& lasso) const override;
    void ResetSelection() override;
    void PresetThreshold(float threshold) override;
    void SetView(const osg::Quat& rotation, double zoom) override;
    void ColourParticles(const std::vector<bool>& flagged, bool target) override;

    void placeComponents();
    // Width of the touch column for a main area of w x h; sets its cells.
    double touchColumnWidth(double w, double h);
    void placeTouchColumn(double l, double b, double w, double h);
    void updateTouchButtons();
    // Creates the ParticleSelection over the shown dataset once densities exist.
    void hostSelection();
    void refreshColoursIfChanged();
    void recolour();
    const std::vector<bool>* shownHighlight() const { return highlight.empty() ? nullptr : &highlight; }
    // Undo and redo are live only when there is something to undo or redo.
    void updateButtonStates();
    VisComponent* addComponent(VisComponent* component);

    WindowsFrameTimer* timer;
    WId window;
    int displayWidth, displayHeight;
    int viewWidth, viewHeight;
    KelvoLayout kelvo;
    KelvoLayout operate;
    bool laidOut = false;

    // Declared first: destroyed last, after every volume over its fields.
    DensityWorker densities;
    std::unique_ptr<ParticleScene> scene;
    // Declared after the scene: the selection's nodes hang in the scene.
    std::unique_ptr<SelectionHost> host;

    std::vector<std::unique_ptr<VisComponent>> components;
    VisComponent* frameComponent = nullptr;
    OSGFrameAndPlotStrategy* frameStrategy = nullptr; // owned by frameComponent
    SliderComponent* slider = nullptr;
    ButtonComponent* undoButton = nullptr;
    ButtonComponent* redoButton = nullptr;
    ButtonComponent* clearButton = nullptr;
    ButtonComponent* studyButton = nullptr;
    ButtonComponent* modeButtons[4] = {};
    std::vector<ButtonComponent*> techniqueButtons;
    std::vector<std::string> touchTechniques;  // the buttons' techniques
    StrokeMode strokeMode = RotateMode;
    size_t touchTechnique = 0;
    bool computedLassoImage = false;
    bool pointerHasKeyboard = false;
    // Plain strokes turned into lassos by the stroke mode, per pointer id.
    std::map<int, EventKind> translated;
    double columnCell = kMinTouchSize;
    int columnCount = 1;
    double bandLeft = 0, bandBottom = 0, bandWidth = 0, bandHeight = 0;
    std::unique_ptr<StudyTrialControl> study;
    std::unique_ptr<StudyPanel> panel;

    // Component that took the press, per pointer id; moves and releases go there.
    std::map<int, VisComponent*> strokeTarget;
    // Where each pointer that is down was last seen, for the touch marks.
    std::map<int, std::pair<double, double>> pointersDown;
    std::vector<int> updateList;

    // Decoded event types, by identifier.
    std::map<unsigned, EventKind> kinds;

    bool densitiesReady = false;
    void finishDensities();
    // The shown dataset cannot be selected (no extent, or too few particles).
    std::string unselectableReason;
    std::vector<bool> highlight;
    bool zoomInStudy = false;
    std::string pointerSource;
    // The data's turn when a stroke on the 3D area began, per pointer: a
    // stroke that ends with another turned the view.
    std::map<int, osg::Matrixd> turnAtPress;
    int framesWithMessage = 0;
    double labelHeight = 0.0;

    void updateStatusLine();
    OnScreenTexts texts;
};
