#pragma once
// HeadlessScene: the scene layout ParticleSelection requires, without a
// window, for the command-line tool and the Python module. Drawn in an
// offscreen OpenGL frame only when asked (the captured lasso image, which
// needs an X display); otherwise no GL context is made at all.
//
// In: the particles, the viewport size and whether frames are drawn. Out: the
// viewer with its master camera (viewport 0, 0, width, height), the data
// transform and the lasso camera. Cost: one context creation when drawn.
#include "framework/kelvo/LassoCamera.h"
#include "framework/kelvo/OffscreenContext.h"

#include <osg/BoundingBox>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osgViewer/Viewer>

#include <algorithm>
#include <cmath>
#include <stdexcept>

struct HeadlessScene {
    HeadlessScene(osg::Vec3Array* particles, int width, int height, bool drawn)
    {
        viewer = new osgViewer::Viewer;
        root = new osg::Group;
        dataTransform = new osg::MatrixTransform;
        osg::ref_ptr<osg::Group> dataGroup = new osg::Group;
        osg::ref_ptr<osg::Camera> particleCamera = new osg::Camera;
        osg::ref_ptr<osg::Geode> particleGeode = new osg::Geode;
        osg::ref_ptr<osg::Geometry> particleGeometry = new osg::Geometry;
        particleGeometry->setVertexArray(particles);
        particleGeode->addDrawable(particleGeometry.get());
        particleCamera->addChild(new osg::Group);
        particleCamera->addChild(particleGeode.get());
        dataGroup->addChild(particleCamera.get());
        dataTransform->addChild(dataGroup.get());
        root->addChild(dataTransform.get());
        lassoCamera = new LassoCamera(viewer->getCamera(), dataTransform.get());
        root->addChild(lassoCamera.get());
        viewer->setSceneData(root.get());

        viewer->getCamera()->setViewport(0, 0, width, height);
        // As in Pravik's scene: a frame must not move the near and far plane
        // to the scene's bounds, or the volume built after it would see
        // another projection than the one the lasso was drawn under.
        viewer->getCamera()->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
        if (!drawn) return;
        gc = DrawViewerOffscreen(*viewer, width, height);
        if (!gc) throw std::runtime_error("no offscreen OpenGL context for --raster gl (is DISPLAY set? --raster cpu needs none)");
    }

    osg::ref_ptr<osgViewer::Viewer> viewer;
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::MatrixTransform> dataTransform;
    osg::ref_ptr<LassoCamera> lassoCamera;
    osg::ref_ptr<osg::GraphicsContext> gc;
};

// The default camera: perspective, fovy degrees, looking from eye at center;
// with no eye given, the whole dataset seen along -z from its centre. Near
// and far enclose the dataset's bounding sphere.
inline void LookAtParticles(osg::Camera* camera, const osg::Vec3Array& particles, double fovy, int width, int height,
                            bool eyeGiven, osg::Vec3d& eye, osg::Vec3d& center, const osg::Vec3d& up)
{
    osg::BoundingBox box;
    for (const osg::Vec3& p : particles) box.expandBy(p);
    const double radius = box.radius() > 0 ? box.radius() : 1.0;
    if (!eyeGiven) {
        center = box.center();
        eye = center + osg::Vec3d(0, 0, radius / std::sin(osg::DegreesToRadians(fovy) * 0.5) * 1.05);
    }
    const double distance = (eye - center).length();
    camera->setViewMatrixAsLookAt(eye, center, up);
    camera->setProjectionMatrixAsPerspective(fovy, double(width) / height, std::max(distance - 2 * radius, distance * 0.01),
                                             distance + 2 * radius);
}
