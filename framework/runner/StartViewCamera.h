#pragma once
// StartViewCamera: where Pravik's camera stands for a cloud and a start view,
// shared by the 3D area (ParticleScene) and the simulated participant, so
// that a simulated lasso is drawn on the picture a person would see.
//
// In: the cloud's bounding box, the viewport size in pixels and the view's
// zoom (1: the whole cloud fits). Out: the camera on the +z axis looking at
// the origin, a perspective of FieldOfViewDegrees (narrowed by the zoom)
// whose near and far planes hold the cloud in any rotation, and the data
// matrix that moves the cloud's centre to the origin and turns it. Cost: a
// few trigonometric calls (Frame: one pass over the particles).
#include <osg/Array>
#include <osg/BoundingBox>
#include <osg/Matrixd>
#include <osg/Quat>
#include <osg/Vec3d>

class StartViewCamera {
public:
    static constexpr double FieldOfViewDegrees = 30.0;  // vertical, at zoom 1
    // Keeps the rotating data inside the depth range with room to spare.
    static constexpr double DepthMargin = 1.1;

    // The cloud's box, centre and radius; without particles a unit box.
    static void Frame(const osg::Vec3Array& positions, osg::BoundingBox& box, osg::Vec3d& centre, double& radius);
    // Data -> world: the centre to the origin, then `rotation` about it.
    static osg::Matrixd DataMatrix(const osg::Vec3d& centre, const osg::Quat& rotation);

    StartViewCamera(double radius, int width, int height, double zoom);

    osg::Matrixd View() const;
    // The plain perspective (a zoom about the view's axis).
    osg::Matrixd Projection() const;

    double aspect = 1.0;
    double halfY = 0.0;     // half the opening angle at zoom 1, radians
    double distance = 0.0;  // from the camera to the cloud's centre
    double zNear = 0.0, zFar = 0.0;
    double fovy = 0.0;      // degrees, after the zoom
};
