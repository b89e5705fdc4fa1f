#pragma once
// ParticleScene: the scene graph and the embedded viewer of the 3D area, in
// the layout the selection engine binds to:
//
//   root (Group)
//    ├─ 0 dataTransform (MatrixTransform, data -> world; rotation about the data centre)
//    │    ├─ 0 dataGroup (Group)
//    │    │    └─ 0 plotCamera (nested Camera, inherits the view)
//    │    │         ├─ 0 frameGeode    (the data's bounding box, lines)
//    │    │         ├─ 1 particleGeode (drawable 0: particle points, per-vertex colour)
//    │    │         └─ 2 selectedGeode (the selected points again, drawn after the
//    │    │                             selection surface so it cannot wash them out)
//    │    └─ 1 selection node of the ParticleSelection (attached by the host)
//    └─ 1 lassoCamera (draws the flat lasso triangles offscreen; its final
//                      draw callback keeps the image for the volumes)
//
// The viewer renders into the view's current GL context (embedded window,
// single-threaded) with its viewport on the kelvo main area.
#include "framework/kelvo/LassoCamera.h"

#include <osg/Camera>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/Point>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <string>
#include <vector>

class ParticleScene {
public:
    ParticleScene(int x, int y, int width, int height);
    ~ParticleScene();
    ParticleScene(const ParticleScene&) = delete;
    ParticleScene& operator=(const ParticleScene&) = delete;

    // Shows these particles (shared with the dataset manager, not copied),
    // all unselected, centred and framed by the camera; the rotation is reset.
    void SetParticles(osg::Vec3Array* positions);
    // Colours every particle: selected (its `selection` flag) in the
    // selection's colour, else highlighted (its `highlight` flag: a target
    // shown) in the target's, else the cloud's. Missing flags are false.
    // Selected and highlighted particles are drawn once more after the
    // cloud and the selection surface, without the depth test, so neither
    // hides them at any particle count. Cost: one pass over the particles.
    void UpdateColours(const std::vector<bool>& selection, const std::vector<bool>* highlight = nullptr);
    // How the rest of the cloud is drawn: its point size in pixels and its
    // opacity (0..1; below 1 it is blended and writes no depth).
    void SetCloudAppearance(float pointSize, float opacity);
    float CloudPointSize() const { return cloudPointSize; }
    float CloudOpacity() const { return cloudOpacity; }
    // A study trial's start view: the data turned by `rotation` about its
    // centre (eye axes) and magnified by `zoom` (1: the whole cloud fits).
    void SetView(const osg::Quat& rotation, double zoom);
    // Magnifies by `factor` (clamped to MinZoom..MaxZoom overall) about view
    // pixel (x, y): what lies under it stays there.
    void ZoomAt(double factor, double x, double y);
    double Zoom() const { return zoom; }
    static constexpr double MinZoom = 0.25, MaxZoom = 64.0;
    static constexpr float PointSize = 2.0f;
    // Places the 3D area: view pixels, lower-left corner and size.
    void SetViewport(int x, int y, int width, int height);
    // View pixels -> window coordinates of the master camera's viewport. The
    // viewport sits on the 3D area of the view, so its window matrix already
    // carries the area's offset: the two frames coincide.
    osg::Vec2d ToWindow(double viewX, double viewY) const;
    // Trackball: turns the data about its centre by the drag from a to b
    // (view pixels).
    void Rotate(double ax, double ay, double bx, double by);
    void SetDefaultFboId(GLuint fbo);
    // While the data turns, draw an even sample of at most PreviewPointBudget
    // particles: software rasterisers spend their time per point, and a
    // turning cloud only needs its shape.
    void SetPreview(bool on);
    bool IsPreview() const { return preview; }
    static constexpr unsigned PreviewPointBudget = 100000;

    osgViewer::Viewer* GetViewer() const { return viewer.get(); }
    osg::Group* GetRoot() const { return root.get(); }
    osg::MatrixTransform* GetDataTransform() const { return dataTransform.get(); }
    osg::Group* GetDataGroup() const { return dataGroup.get(); }
    osg::Camera* GetPlotCamera() const { return plotCamera.get(); }
    osg::Geometry* GetParticleGeometry() const { return particleGeometry.get(); }
    osg::Vec4ubArray* GetColours() const { return colours.get(); }
    osg::DrawElementsUInt* GetSelectedPoints() const { return selectedPoints.get(); }
    LassoCamera* GetLassoCamera() const { return lassoCamera.get(); }
    // Capture of the lasso camera's drawing, read by the selection volumes.
    LassoCaptureCallback* GetLassoCapture() const;
    osg::Vec3d GetDataCentre() const { return centre; }
    int GetViewportX() const { return vpX; }
    int GetViewportY() const { return vpY; }
    int GetViewportWidth() const { return vpWidth; }
    int GetViewportHeight() const { return vpHeight; }

    static const osg::Vec4ub UnselectedColour;
    static const osg::Vec4ub SelectedColour;
    static const osg::Vec4ub TargetColour;

private:
    void updateProjection();
    void applyCloudAlpha();
    // The unselected colour at the cloud's opacity.
    osg::Vec4ub cloudColour() const;
    void updateDataMatrix();
    void rebuildFrame(const osg::BoundingBox& box);

    osg::ref_ptr<osgViewer::Viewer> viewer;
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::MatrixTransform> dataTransform;
    osg::ref_ptr<osg::Group> dataGroup;
    osg::ref_ptr<osg::Camera> plotCamera;
    osg::ref_ptr<osg::Geode> frameGeode;
    osg::ref_ptr<osg::Geometry> frameGeometry;
    osg::ref_ptr<osg::Geode> particleGeode;
    osg::ref_ptr<osg::Geometry> particleGeometry;
    osg::ref_ptr<osg::Vec3Array> positions;
    osg::ref_ptr<osg::Vec4ubArray> colours;
    osg::ref_ptr<osg::DrawArrays> particlePoints;
    osg::ref_ptr<osg::DrawElementsUInt> previewPoints;
    osg::ref_ptr<osg::Geode> selectedGeode;
    osg::ref_ptr<osg::Geometry> selectedGeometry;
    osg::ref_ptr<osg::DrawElementsUInt> selectedPoints;
    osg::ref_ptr<LassoCamera> lassoCamera;

    osg::Vec3d centre;
    double radius = 1.0;
    osg::Quat rotation;
    double zoom = 1.0;
    // The zoom's centre off the view's axis, in halves of the near plane's
    // width and height at zoom 1: 0 keeps the plain perspective.
    double zoomShiftX = 0.0, zoomShiftY = 0.0;
    float cloudPointSize = PointSize, cloudOpacity = 1.0f;
    osg::ref_ptr<osg::Point> cloudPoint;
    bool preview = false;
    int vpX = 0, vpY = 0, vpWidth = 1, vpHeight = 1;
};
