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
// Cost: one context creation; a display that refuses the connection is
// tried again up to four times, 250 ms apart.
#include <osg/GraphicsContext>
#include <osgViewer/Viewer>

#include <chrono>
#include <cstdlib>
#include <thread>

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
    osg::ref_ptr<osg::GraphicsContext> gc = osg::GraphicsContext::createGraphicsContext(traits.get());
    // An X server resets when its last client leaves and drops the
    // connections being set up at that moment (programs starting and ending
    // in turn, as in the tests): worth a few more tries.
    const char* display = std::getenv("DISPLAY");
    for (int retry = 0; !gc && display && *display && retry < 4; ++retry) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        gc = osg::GraphicsContext::createGraphicsContext(traits.get());
    }
    return gc;
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
