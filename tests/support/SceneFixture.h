#pragma once
// A scene of the layout ParticleSelection requires, on a real osgViewer::Viewer
// with a master camera (view, projection, viewport) and a lasso camera whose
// final draw callback is a LassoCaptureCallback. No GL context is created;
// tests that need drawing attach one themselves.
#include "framework/kelvo/LassoCaptureCallback.h"

#include <osg/Camera>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

struct SceneFixture {
    // Particles in data coordinates; the data transform starts as identity.
    explicit SceneFixture(osg::Vec3Array* particles, int viewportWidth = 800, int viewportHeight = 600);

    // Perspective camera looking from eye at center, vertical field of view in degrees.
    void LookAt(const osg::Vec3d& eye, const osg::Vec3d& center, const osg::Vec3d& up,
                double fovyDegrees = 30.0, double zNear = 1.0, double zFar = 100.0);
    void Ortho(double left, double right, double bottom, double top, double zNear, double zFar);
    // Window coordinates (lower-left origin) of a data-space point.
    osg::Vec3d Project(const osg::Vec3d& data) const;
    // Fills the lasso image by hand: every pixel inside the polygon (window
    // coordinates relative to the viewport) gets a non-zero first byte.
    void PaintLassoImage(const std::vector<osg::Vec2f>& polygon);
    // Puts the framework's LassoCamera (it draws the lasso in a frame, so the
    // viewer needs a GL context) in place of the stand-in; lassoCamera and
    // capture then name it and its capture.
    void UseLassoCamera();

    osg::ref_ptr<osgViewer::Viewer> viewer;
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::MatrixTransform> dataTransform;
    osg::ref_ptr<osg::Group> dataGroup;
    osg::ref_ptr<osg::Camera> particleCamera;
    osg::ref_ptr<osg::Geode> particleGeode;
    osg::ref_ptr<osg::Geometry> particleGeometry;
    osg::ref_ptr<osg::Vec3Array> particles;
    osg::ref_ptr<osg::Camera> lassoCamera;
    osg::ref_ptr<LassoCaptureCallback> capture;
};
