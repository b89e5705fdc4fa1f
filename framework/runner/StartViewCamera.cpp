#include "framework/runner/StartViewCamera.h"

#include <algorithm>
#include <cmath>

void StartViewCamera::Frame(const osg::Vec3Array& positions, osg::BoundingBox& box, osg::Vec3d& centre,
                            double& radius)
{
    box.init();
    for (const osg::Vec3f& v : positions) box.expandBy(v);
    if (box.valid()) {
        centre = box.center();
        radius = std::max(static_cast<double>(box.radius()), 1e-6);
    } else {
        box = osg::BoundingBox(-1, -1, -1, 1, 1, 1);
        centre = osg::Vec3d();
        radius = 1.0;
    }
}

osg::Matrixd StartViewCamera::DataMatrix(const osg::Vec3d& centre, const osg::Quat& rotation)
{
    return osg::Matrixd::translate(-centre) * osg::Matrixd::rotate(rotation);
}

StartViewCamera::StartViewCamera(double radius, int width, int height, double zoom)
{
    aspect = static_cast<double>(width) / height;
    // Fit the bounding sphere into the narrower of the two opening angles.
    halfY = osg::DegreesToRadians(FieldOfViewDegrees) * 0.5;
    const double halfX = std::atan(std::tan(halfY) * aspect);
    distance = radius / std::sin(std::min(halfX, halfY));
    zNear = std::max(distance - radius * DepthMargin, distance * 0.01);
    zFar = distance + radius * DepthMargin;
    // A zoom narrows the opening angle; the camera stays where the whole
    // cloud lies in front of it, so near and far still hold every particle.
    fovy = osg::RadiansToDegrees(2.0 * std::atan(std::tan(halfY) / zoom));
}

osg::Matrixd StartViewCamera::View() const
{
    return osg::Matrixd::lookAt(osg::Vec3d(0, 0, distance), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
}

osg::Matrixd StartViewCamera::Projection() const
{
    return osg::Matrixd::perspective(fovy, aspect, zNear, zFar);
}
