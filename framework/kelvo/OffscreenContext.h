#pragma once
// Offscreen OpenGL contexts: a context without a window, a pbuffer on the X
// display that DISPLAY names, for drawing the scene where there is no view:
// the command-line tools and the tests. Header-only, like LassoCamera, so
// programs built on the engine alone can use it.
//
// In: a size in pixels (and a viewer). Out: CreateOffscreenContext gives the
// context (8 bits per colour, 24-bit depth, single-buffered), not realized,
// or null when the display has none; DrawViewerOffscreen also makes it the
// viewer's and realizes the viewer single-threaded, so frame() draws into it.
// Cost: one context creation.
#include <osg/GraphicsContext>
#include <osgViewer/Viewer>

inline osg::ref_ptr<osg::GraphicsContext> CreateOffscreenContext(int width, int height)
{
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    traits->width = width;
    traits->height = height;
    traits->pbuffer = true;
    traits->doubleBuffer = false;
    traits->red = traits->green = traits->blue = 8;
    traits->depth = 24;
    return osg::GraphicsContext::createGraphicsContext(traits.get());
}

inline osg::ref_ptr<osg::GraphicsContext> DrawViewerOffscreen(osgViewer::Viewer& viewer, int width, int height)
{
    osg::ref_ptr<osg::GraphicsContext> gc = CreateOffscreenContext(width, height);
    if (!gc) return gc;
    viewer.getCamera()->setGraphicsContext(gc.get());
    viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    viewer.realize();
    return gc;
}
