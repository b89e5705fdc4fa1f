#pragma once
// ParticleSelection: the selection engine's facade. It owns the scene nodes of
// the lasso line, the flat (triangulated) lasso and the selection surface;
// records lassos in window coordinates; turns a finished lasso into a
// selection volume combined with the previous state; writes the caller's
// per-particle mask; keeps a history with undo and redo.
//
// Calling order: construct; attach GetSelectionNode() to the scene and
// GetFlatTriangles() below the lasso camera; ResetSelection(); per lasso one
// start, addIntoPath per point, endPath; if GetendPathTag(), draw a frame, then
// BuildGeometry() and SetendPathTag(false).
//
// A history command that fails (the current dataset has no density field,
// memory runs out) prints one console line and leaves the history, both
// stacks, the mask, the display and the current volume as they were. A
// threshold change re-thresholds the newest lasso's volume into a field of
// its own and swaps it in only once the new state is built, so a failed one
// leaves every state as it was; the threshold keeps the slider's value
// (GetThreshold, the next lasso's), and moving the slider again retries.
// A lasso that is ignored (no selection reset yet, a minus or intersection
// lasso on the empty initial state, a volume that cannot be built) says why
// in GetLassoRefusal().
//
// Required scene: root Group; child 0 a MatrixTransform (data transform) whose
// child 0 is a Group whose child 0 is a Camera whose child 1 is a Geode whose
// drawable 0 is a Geometry with a Vec3Array of particle positions; child 1 of
// the root is the lasso camera.
#include "geometry/LassoCoverage.h"
#include "geometry/SelectionGeometry.h"
#include "geometry/Technique.h"

#include <boost/shared_ptr.hpp>
#include <osg/Camera>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <deque>
#include <string>
#include <vector>

class ParticleSelection {
public:
    ParticleSelection(osgViewer::Viewer* viewer, osg::Camera* camera,
                      std::vector<bool>* selectionMask, bool* selectionChanged);
    ~ParticleSelection();
    ParticleSelection(const ParticleSelection&) = delete;
    ParticleSelection& operator=(const ParticleSelection&) = delete;

    osg::Group* GetSelectionNode();
    osg::Geode* GetFlatTriangles();

    void startPlusPath(double x, double y);
    void startMinusPath(double x, double y);
    void startIntersectionPath(double x, double y);
    void addIntoPath(double x, double y);
    void endPath();
    bool GetendPathTag();
    void SetendPathTag(bool value);
    void BuildGeometry();
    // The trial's technique: IsPravikSelection() first, IsCylinderSelection()
    // second, else the registered technique of the study framework's name.
    // Null, with why, when none is set or the name is not registered.
    static const Technique* TrialTechnique(std::string* why = nullptr);
    // A press and release no farther apart than this (window units) is a
    // click: a click technique takes it at the press; for a lasso technique
    // it stays a lasso of too few points.
    static constexpr float kClickTolerance = 4.0f;
    // Whether the newest finished stroke went to a click technique as a click.
    bool IsClick() const { return clickPending; }
    // endPath triangulates only the lasso's part within the viewport, or all
    // of it while EngineSwitches::lassoClippedToView is off; the lasso image
    // differs only in pixels on the lasso's boundary.
    // Where the volumes read the lasso's pixels: the image the lasso camera
    // captures in the frame after endPath (the default), or the coverage of
    // the flat triangles endPath computes itself, which needs no frame, no GL
    // context and no display (BuildGeometry may follow endPath at once).
    enum class LassoImageSource { Captured, Computed };
    void SetLassoImageSource(LassoImageSource source) { imageSource = source; }
    LassoImageSource GetLassoImageSource() const { return imageSource; }

    void updateSelection(float t);
    void ChangeThreshold(float t);
    void GeometryVisible(bool visible);
    void undoLastSelection();
    void redoLastSelection();
    void ClearSelection();
    void ResetSelection();
    double GetVolume();

    // Read-only views for the host and for tests.
    const std::vector<osg::Vec2f>& GetLassoPoints() const { return lassoPoints; }
    const std::vector<boost::shared_ptr<SelectionGeometry>>& GetHistory() const { return selectionHistory; }
    const std::deque<int>& GetUndoStack() const { return undoStack; }
    const std::deque<int>& GetRedoStack() const { return redoStack; }
    // The newest lasso's volume while threshold changes follow it, else null.
    // Its own mask is kept only where it is the first state; combined with a
    // previous state only the combination's mask is computed.
    const boost::shared_ptr<SelectionGeometry>& GetCurrentVolume() const { return currentVolume; }
    int GetSelectionMode() const { return selectionMode; }
    float GetThreshold() const { return threshold; }
    const osg::Matrixf& GetScreenMatrix() const { return screenMatrix; }
    osg::Vec3Array* GetLassoVertices() const { return lassoVertices.get(); }
    osg::Vec3Array* GetFlatTriangleVertices() const { return flatTrianglesVertices.get(); }
    // The same triangles in window coordinates, three points each, before unprojection.
    const std::vector<osg::Vec2f>& GetFlatTriangleWindowCorners() const { return flatTriangleCorners; }
    // The newest lasso's computed image (empty while the source is Captured).
    const LassoCoverage& GetLassoCoverage() const { return coverage; }
    osg::Geometry* GetVolumeGeometry() const { return volumeGeometry.get(); }
    osg::Geode* GetVolumeGeode() const { return volumeGeode.get(); }
    osg::Camera* GetLassoCamera() const { return lassoCamera; }
    osg::Camera* GetCamera() const { return camera; }
    // Why the newest finished lasso was ignored (also said on the console);
    // empty when it was taken.
    const std::string& GetLassoRefusal() const { return lassoRefusal; }
    // The triangulator is quiet unless asked for its statistics (a debugging aid).
    void SetTriangulatorReport(bool on) { triangulatorReport = on; }

private:
    bool refreshSceneBindings();
    void appendLassoPoint(double x, double y);
    void unprojectAndAppend(double x, double y);
    void startPath(int mode, double x, double y);
    // The display's arrays, kept so that a failed command can put them back.
    struct DisplayArrays {
        osg::ref_ptr<osg::Array> vertices;
        osg::ref_ptr<osg::Array> normals;
        osg::ref_ptr<osg::PrimitiveSet> elements;
    };
    // Re-thresholds volume at t and builds the state it makes with previous
    // by mode (volume itself when previous is null), masks computed
    // and shown in the display. Changes no member but the display and the
    // volume's own field, surface and mask: callers put the display back,
    // and the volume (VolumeAside) where it is in the history, when it throws.
    boost::shared_ptr<SelectionGeometry> buildState(SelectionGeometry* previous,
                                                    const boost::shared_ptr<SelectionGeometry>& volume, int mode,
                                                    float t);
    void writeMaskFromState(int k);
    // Shows the state's surface in volumeGeometry.
    void rebuildVolumeDisplay(const SelectionGeometry& state);
    // Shows history state k: the arrays it was shown with before, else
    // rebuilt from its surface and kept for the next time.
    void showState(size_t k);
    // Undo and redo: moves the newest entry of `from` onto `to` and shows
    // `state`; on failure both stacks, the display and the mask stay as they
    // were, with one console line naming `command`.
    void moveNewest(std::deque<int>& from, std::deque<int>& to, int state, const char* command);
    DisplayArrays saveDisplay() const;
    void restoreDisplay(const DisplayArrays& arrays);
    void clearFlatTriangles();
    void refuseLasso(const std::string& why);

    osgViewer::Viewer* viewer;
    std::vector<bool>* selectionMask;
    osg::Camera* camera;
    osg::Camera* lassoCamera;
    osg::ref_ptr<osg::Group> selectionNode;
    osg::ref_ptr<osg::Geode> volumeGeode;
    osg::ref_ptr<osg::Geode> lassoGeode;
    osg::ref_ptr<osg::Vec3Array> lassoVertices;
    osg::ref_ptr<osg::Geometry> lassoGeometry;
    osg::ref_ptr<osg::Geometry> volumeGeometry;
    osg::Vec3Array* particlePositions;
    std::vector<osg::Vec2f> lassoPoints;
    osg::Matrixf modelMatrix;
    osg::Matrixf inverseModelMatrix;
    osg::Matrixf inverseScreenMatrix;
    osg::Matrixf screenMatrix;
    int32_t selectionMode;
    std::vector<boost::shared_ptr<SelectionGeometry>> selectionHistory;
    // The display of each history state once shown (empty arrays: not yet),
    // so undo and redo need not smooth a surface again; dropped with the
    // state's volume when the history is trimmed or cut.
    std::vector<DisplayArrays> stateDisplays;
    boost::shared_ptr<SelectionGeometry> currentVolume;
    boost::shared_ptr<SelectionGeometry> emptyVolume;
    // The particles' cells on the density grid, found by an earlier volume:
    // every volume of a dataset lies on that grid, so a new lasso's first
    // mask need not search them again. Held with the positions they are of.
    boost::shared_ptr<const ParticleCells> knownCells;
    osg::ref_ptr<osg::Vec3Array> knownCellsPositions;
    float threshold;
    int32_t currentMode;  // the mode of currentVolume's lasso
    float currentFactor;  // the threshold currentVolume was last built at
    bool endPathTag;
    std::string lassoRefusal;
    osg::ref_ptr<osg::Geometry> flatTrianglesGeometry;
    osg::ref_ptr<osg::Vec3Array> flatTrianglesVertices;
    osg::ref_ptr<osg::Geode> flatTrianglesGeode;
    osg::ref_ptr<osg::Vec4Array> flatTrianglesColors;
    std::deque<int> undoStack;
    std::deque<int> redoStack;
    bool bindingsPending;
    bool* selectionChanged;
    bool triangulatorReport = false;
    LassoImageSource imageSource = LassoImageSource::Captured;
    std::vector<osg::Vec2f> flatTriangleCorners;
    LassoCoverage coverage;
    bool clickPending = false;
};
