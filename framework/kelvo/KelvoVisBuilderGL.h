#pragma once
// KelvoVisBuilderGL: the builder for an OpenGL view. buildVis creates the
// KelvoVis (datasets, scene, viewer, selection); buildKelvo places the 3D
// view in the kelvo main area and the controls in its side and extra areas.
// The operate window's values are kept for the layout record only.
#include "framework/kelvo/KelvoLayout.h"
#include "framework/kelvo/KelvoVisBuilder.h"

class KelvoVisBuilderGL : public KelvoVisBuilder {
public:
    KelvoVisBuilderGL() = default;
    ~KelvoVisBuilderGL() override = default;

    void buildVis(WindowsFrameTimer* timer, WId window, Point3d mainOrigin, int mainWidth,
                  int mainHeight) override;

    void buildKelvo(Point3d centre, int displayWidth, int displayHeight,
                    Point3d kelvoCentre, int kelvoWidth, int kelvoHeight,
                    int kelvoMainX, int kelvoMainY, int kelvoMainWidth, int kelvoMainHeight,
                    int kelvoSideX, int kelvoSideY, int kelvoSideWidth, int kelvoSideHeight,
                    int kelvoExtraX, int kelvoExtraY, int kelvoExtraWidth, int kelvoExtraHeight,
                    int kelvoUnitSize,
                    Point3d operateCentre, int operateWidth, int operateHeight,
                    int operateMainX, int operateMainY, int operateMainWidth, int operateMainHeight,
                    int operateSideX, int operateSideY, int operateSideWidth, int operateSideHeight,
                    int operateExtraX, int operateExtraY, int operateExtraWidth, int operateExtraHeight,
                    int operateUnitSize) override;

    KelvoVis* getVis() override { return vis; }

private:
    // Not owned: the view takes the visualization and deletes it.
    KelvoVis* vis = nullptr;
    Point3d origin;
};
