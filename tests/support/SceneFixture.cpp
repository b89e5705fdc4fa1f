#include "tests/support/SceneFixture.h"

#include "framework/kelvo/LassoCamera.h"

#include <osg/Viewport>

SceneFixture::SceneFixture(osg::Vec3Array* p, int w, int h)
    : viewer(new osgViewer::Viewer), root(new osg::Group), dataTransform(new osg::MatrixTransform),
      dataGroup(new osg::Group), particleCamera(new osg::Camera), particleGeode(new osg::Geode),
      particleGeometry(new osg::Geometry), particles(p ? p : new osg::Vec3Array),
      lassoCamera(new osg::Camera), capture(new LassoCaptureCallback)
{
    particleGeometry->setVertexArray(particles.get());
    particleGeode->addDrawable(particleGeometry.get());
    particleCamera->addChild(new osg::Geode);  // child 0: anything
    particleCamera->addChild(particleGeode.get());
    dataGroup->addChild(particleCamera.get());
    dataTransform->addChild(dataGroup.get());
    root->addChild(dataTransform.get());
    lassoCamera->setFinalDrawCallback(capture.get());
    lassoCamera->setNodeMask(0);
    root->addChild(lassoCamera.get());
    viewer->setSceneData(root.get());
    viewer->getCamera()->setViewport(new osg::Viewport(0, 0, w, h));
    LookAt(osg::Vec3d(0, 0, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
}

void SceneFixture::UseLassoCamera()
{
    osg::ref_ptr<LassoCamera> camera = new LassoCamera(viewer->getCamera(), dataTransform.get());
    root->setChild(1, camera.get());
    lassoCamera = camera;
    capture = camera->GetCapture();
}

void SceneFixture::LookAt(const osg::Vec3d& eye, const osg::Vec3d& center, const osg::Vec3d& up,
                          double fovy, double zNear, double zFar)
{
    osg::Camera* cam = viewer->getCamera();
    cam->setViewMatrixAsLookAt(eye, center, up);
    const osg::Viewport* vp = cam->getViewport();
    double aspect = vp ? vp->width() / vp->height() : 1.0;
    cam->setProjectionMatrixAsPerspective(fovy, aspect, zNear, zFar);
}

void SceneFixture::Ortho(double l, double r, double b, double t, double n, double f)
{
    viewer->getCamera()->setProjectionMatrixAsOrtho(l, r, b, t, n, f);
}

osg::Vec3d SceneFixture::Project(const osg::Vec3d& data) const
{
    const osg::Camera* cam = viewer->getCamera();
    osg::Matrixd m = dataTransform->getMatrix() * cam->getViewMatrix() * cam->getProjectionMatrix();
    if (cam->getViewport()) m = m * cam->getViewport()->computeWindowMatrix();
    return data * m;
}

void SceneFixture::PaintLassoImage(const std::vector<osg::Vec2f>& poly)
{
    const osg::Viewport* vp = viewer->getCamera()->getViewport();
    const int w = static_cast<int>(vp->width()), h = static_cast<int>(vp->height());
    capture->width = w;
    capture->height = h;
    capture->image.assign(static_cast<size_t>(w) * h * 3, 0);
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            // Pixel centre, even-odd rule.
            const double px = col + 0.5, py = row + 0.5;
            bool inside = false;
            for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
                const double xi = poly[i].x(), yi = poly[i].y(), xj = poly[j].x(), yj = poly[j].y();
                if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) inside = !inside;
            }
            if (inside) capture->image[(static_cast<size_t>(row) * w + col) * 3] = 255;
        }
}
