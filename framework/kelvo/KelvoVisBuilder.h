#pragma once
// KelvoVisBuilder: builds the visualization in two stages. buildVis creates
// the visualization for a window and a display size; buildKelvo then lays out
// the kelvo (3D view) and operate windows. Rectangles are given as centre x,
// centre y, width, height in view pixels, origin at the lower left.
#include "framework/ombra/Point3d.h"

#include <QtGui/qwindowdefs.h>

class KelvoVis;
class WindowsFrameTimer;

class KelvoVisBuilder {
public:
    virtual ~KelvoVisBuilder() = default;

    virtual void buildVis(WindowsFrameTimer* timer, WId window, Point3d mainOrigin, int mainWidth,
                          int mainHeight) = 0;

    virtual void buildKelvo(Point3d centre, int displayWidth, int displayHeight,
                            Point3d kelvoCentre, int kelvoWidth, int kelvoHeight,
                            int kelvoMainX, int kelvoMainY, int kelvoMainWidth, int kelvoMainHeight,
                            int kelvoSideX, int kelvoSideY, int kelvoSideWidth, int kelvoSideHeight,
                            int kelvoExtraX, int kelvoExtraY, int kelvoExtraWidth, int kelvoExtraHeight,
                            int kelvoUnitSize,
                            Point3d operateCentre, int operateWidth, int operateHeight,
                            int operateMainX, int operateMainY, int operateMainWidth, int operateMainHeight,
                            int operateSideX, int operateSideY, int operateSideWidth, int operateSideHeight,
                            int operateExtraX, int operateExtraY, int operateExtraWidth,
                            int operateExtraHeight, int operateUnitSize) = 0;

    // The visualization built by buildVis; null before it or when it failed.
    virtual KelvoVis* getVis() = 0;
};
