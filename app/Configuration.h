#pragma once
// Configuration: the start-up record that config.xml fills. The display area
// is mainWidth x mainHeight pixels; every program window on it (kelvo = the 3D
// view, operate, the two subspace windows, the parallel-coordinates window) is
// placed by its centre and size, with the parts of the kelvo and operate
// windows (main, side and extra area) derived from them.
//
// Units and precision: positions and sizes are pixels with the origin at the
// lower left of the display area. Fractions read from the file are floats; the
// products and sums below are evaluated in double and every (int) truncates
// toward zero, so a 0.45 height on 1600 pixels gives 719, not 720.
//
// The constructor sets the default layout for a 2400 x 1600 display. The
// layout* operations recompute a window's derived values after its element
// was read; the kelvo window formulas there deliberately differ from the
// default layout, so a file without a kelvo window keeps the default one.
#include "framework/ombra/AreaRect.h"
#include "framework/ombra/Point3d.h"

class Configuration {
public:
    Configuration();

    Point3d mainOrigin;
    int mainWidth;
    int mainHeight;
    int fullscreen;
    int condition;
    int participantId; // the study's participant unless the command line names one

    Point3d kelvoPosition;
    float kelvoX;
    int kelvoY;
    int kelvoWidth;
    int kelvoHeight;
    float kelvoFrameSize; // kept for the record; no formula uses it
    AreaRect kelvoMainArea;

    Point3d operatePosition;
    float operateX;
    float operateY;
    int operateWidth;
    int operateHeight;
    float operateFrameSize;
    AreaRect operateMainArea;
    AreaRect operateSideArea;
    AreaRect operateExtraArea;

    AreaRect kelvoSideArea;
    AreaRect kelvoExtraArea;

    // The three windows below reach the framework only through the aspect
    // ratios sent while reading; they start at 0.
    Point3d subspace2dPosition;
    float subspace2dX = 0.0f;
    int subspace2dY = 0;
    int subspace2dWidth = 0;
    int subspace2dHeight = 0;
    float subspace2dFrameSize = 0.0f;
    float subspace2dAspect = 0.0f;

    Point3d subspace3dPosition;
    float subspace3dX = 0.0f;
    int subspace3dY = 0;
    int subspace3dWidth = 0;
    int subspace3dHeight = 0;
    float subspace3dFrameSize = 0.0f;
    float subspace3dAspect = 0.0f;

    Point3d pcpPosition;
    float pcpX = 0.0f;
    int pcpY = 0;
    int pcpWidth = 0;
    int pcpHeight = 0;

    int unitSize;
    float kelvoAspect;

    // <render mode="on-demand"/>: frames are drawn only while something
    // changes, so an idle program rests; continuous (the default) redraws
    // whenever the event loop is idle.
    bool renderOnDemand = false;
    // <raster mode="cpu"/>: the selection volumes read the lasso image the
    // engine computes from the lasso's triangles instead of the one the lasso
    // camera captures (gl, the default).
    bool computedLassoImage = false;

    // <cloud pointSize="2" opacity="1"/>: how the unselected particles are
    // drawn in free exploration (a study file may set its own).
    float cloudPointSize = 2.0f;
    float cloudOpacity = 1.0f;

    // Derived values after a window element was read, from the record as it
    // stands. None of them talks to the framework.
    void layoutMainWindow();      // unitSize
    void layoutKelvoWindow();     // position, three areas, kelvoAspect
    void layoutOperateWindow();   // position, three areas
    void layoutSubspace2dWindow(); // position, subspace2dAspect
    void layoutSubspace3dWindow(); // position, subspace3dAspect
    void layoutPcpWindow();       // position

private:
    void defaultKelvoAreas();
    void operateAreas(double extraLift);
};
