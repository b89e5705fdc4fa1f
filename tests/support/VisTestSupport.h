#pragma once
// Shared by the tests of the visualization core (KelvoVis): an offscreen GL
// context made current for the embedded viewer to draw into, one paint as the
// view does it, and events sent by their names.
#include "framework/kelvo/KelvoLayout.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OffscreenContext.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/EventKind.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/VisComponent.h"
#include "framework/tovik/ConstantProvider.h"

#include <QGuiApplication>

#include <cstdlib>
#include <string>

namespace vistest {

// Texts are measured with the GUI application's fonts: one application for
// the whole test program, made when first needed.
inline void EnsureGuiApplication()
{
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

constexpr int ViewWidth = 800;
constexpr int ViewHeight = 600;

// 3D area x 80..800, y 20..580; slider x 10..70, y 180..560 under its value
// line; undo, redo, clear stacked top to bottom in x 10..70, y 15..165.
inline KelvoLayout TestLayout()
{
    KelvoLayout k;
    k.centre = Point3d(400, 300, 0);
    k.width = ViewWidth;
    k.height = ViewHeight;
    k.mainArea = AreaRect(440, 300, 720, 560);
    k.sideArea = AreaRect(40, 380, 60, 400);
    k.extraArea = AreaRect(40, 90, 60, 150);
    k.unitSize = 32;
    return k;
}

struct OffscreenContext {
    OffscreenContext()
    {
        if (!std::getenv("DISPLAY")) return;
        gc = CreateOffscreenContext(ViewWidth, ViewHeight);
        if (gc && gc->realize()) gc->makeCurrent();
        else gc = nullptr;
    }
    ~OffscreenContext()
    {
        if (gc) {
            gc->releaseContext();
            gc->close();
        }
    }
    osg::ref_ptr<osg::GraphicsContext> gc;
};

// One paint of the view: controls, then every viewer's frame, then the marks.
inline void Paint(KelvoVis& vis)
{
    vis.renderAll(false);
    for (osgViewer::Viewer* v : vis.GetOsgViewer())
        if (v->getSceneData()) v->frame();
    vis.renderTouchIndication();
}

inline unsigned Type(const std::string& name)
{
    return ConstantProvider::getInstance()->getEventTypeIdentifier(name);
}

// Sends one event the way the view does: a press carries the component under
// it, moves and releases carry none.
inline void Send(KelvoVis& vis, const std::string& name, double x, double y, int pointer = 0)
{
    const bool press = EventKind::FromName(name).phase == EventKind::Start;
    VisComponent* component = press ? vis.getComponentAt(x, y, true) : nullptr;
    if (press && component) component->onHit();
    OmbraEvent* e = new OmbraEvent(Type(name), pointer, x, y, 0.0, component, 1);
    vis.processEvent(e, component);
    delete e;
}

// View pixel of a data point in the shown scene.
inline osg::Vec3d Project(KelvoVis& vis, const osg::Vec3d& data)
{
    osgViewer::Viewer* v = vis.GetOsgViewer().front();
    const osg::Camera* cam = v->getCamera();
    osg::Matrixd m = vis.GetScene()->GetDataTransform()->getMatrix() * cam->getViewMatrix() *
                     cam->getProjectionMatrix() * cam->getViewport()->computeWindowMatrix();
    return data * m;
}

} // namespace vistest
