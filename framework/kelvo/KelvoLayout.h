#pragma once
// KelvoLayout: one window of the visualization as the second build stage
// receives it: centre and size, its main (3D) area, its side and extra areas
// for controls, and the size unit. All values are view pixels.
#include "framework/ombra/AreaRect.h"
#include "framework/ombra/Point3d.h"

struct KelvoLayout {
    Point3d centre;
    int width = 0;
    int height = 0;
    AreaRect mainArea;
    AreaRect sideArea;
    AreaRect extraArea;
    int unitSize = 0;
};
