#include "framework/kelvo/KelvoVisBuilderGL.h"

#include "framework/kelvo/KelvoVis.h"

void KelvoVisBuilderGL::buildVis(WindowsFrameTimer* timer, WId window, Point3d mainOrigin, int mainWidth,
                                 int mainHeight)
{
    origin = mainOrigin;
    if (mainWidth <= 0 || mainHeight <= 0) {
        printf("Visualization not built: display size %d x %d\n", mainWidth, mainHeight);
        vis = nullptr;
        return;
    }
    vis = new KelvoVis(timer, window, mainWidth, mainHeight);
}

void KelvoVisBuilderGL::buildKelvo(Point3d, int, int, Point3d kelvoCentre, int kelvoWidth, int kelvoHeight,
                                   int kelvoMainX, int kelvoMainY, int kelvoMainWidth, int kelvoMainHeight,
                                   int kelvoSideX, int kelvoSideY, int kelvoSideWidth, int kelvoSideHeight,
                                   int kelvoExtraX, int kelvoExtraY, int kelvoExtraWidth, int kelvoExtraHeight,
                                   int kelvoUnitSize, Point3d operateCentre, int operateWidth, int operateHeight,
                                   int operateMainX, int operateMainY, int operateMainWidth, int operateMainHeight,
                                   int operateSideX, int operateSideY, int operateSideWidth, int operateSideHeight,
                                   int operateExtraX, int operateExtraY, int operateExtraWidth,
                                   int operateExtraHeight, int operateUnitSize)
{
    if (!vis) return;
    KelvoLayout kelvo;
    kelvo.centre = kelvoCentre;
    kelvo.width = kelvoWidth;
    kelvo.height = kelvoHeight;
    kelvo.mainArea = AreaRect(kelvoMainX, kelvoMainY, kelvoMainWidth, kelvoMainHeight);
    kelvo.sideArea = AreaRect(kelvoSideX, kelvoSideY, kelvoSideWidth, kelvoSideHeight);
    kelvo.extraArea = AreaRect(kelvoExtraX, kelvoExtraY, kelvoExtraWidth, kelvoExtraHeight);
    kelvo.unitSize = kelvoUnitSize;

    KelvoLayout operate;
    operate.centre = operateCentre;
    operate.width = operateWidth;
    operate.height = operateHeight;
    operate.mainArea = AreaRect(operateMainX, operateMainY, operateMainWidth, operateMainHeight);
    operate.sideArea = AreaRect(operateSideX, operateSideY, operateSideWidth, operateSideHeight);
    operate.extraArea = AreaRect(operateExtraX, operateExtraY, operateExtraWidth, operateExtraHeight);
    operate.unitSize = operateUnitSize;

    vis->setLayout(kelvo, operate);
}
