#include "app/Configuration.h"

#include "app/TruncateToInt.h"

namespace {
// Display assumed until a "mainwindow" element says otherwise.
const int kDefaultWidth = 2400;
const int kDefaultHeight = 1600;
// The size unit of the framework's controls, as a share of the display width.
const double kUnitShare = 0.04;
}

Configuration::Configuration()
    : mainOrigin(0, 0, 0),
      mainWidth(kDefaultWidth),
      mainHeight(kDefaultHeight),
      fullscreen(0),
      condition(0),
      participantId(1)
{
    kelvoX = static_cast<float>(mainWidth * 0.25);
    kelvoY = TruncateToInt(mainHeight * 0.5);
    kelvoPosition = Point3d(kelvoX, kelvoY, 0);
    kelvoWidth = TruncateToInt(mainWidth * 0.4);
    kelvoHeight = TruncateToInt(mainHeight * 0.45);
    kelvoFrameSize = static_cast<float>(mainWidth * 0.0425);
    defaultKelvoAreas();

    unitSize = TruncateToInt(mainWidth * kUnitShare);
    kelvoAspect = static_cast<float>(kelvoMainArea.width) / static_cast<float>(kelvoMainArea.height);

    operateX = static_cast<float>(mainWidth * 0.25);
    operateY = static_cast<float>(mainHeight * 0.5);
    operatePosition = Point3d(operateX, operateY, 0);
    operateWidth = TruncateToInt(mainWidth * 0.4);
    operateHeight = TruncateToInt(mainHeight * 0.45);
    operateFrameSize = static_cast<float>(mainWidth * 0.0425);
    // The default layout lifts the extra area by its whole height.
    operateAreas(1.0);
}

void Configuration::defaultKelvoAreas()
{
    const double W = kelvoWidth, X = kelvoX, Y = kelvoY;
    kelvoMainArea.x = TruncateToInt(W * 0.05 + X);
    kelvoMainArea.y = TruncateToInt(Y);
    kelvoMainArea.width = TruncateToInt(W * 0.9);
    kelvoMainArea.height = kelvoHeight;

    kelvoSideArea.x = TruncateToInt(X - W * 0.5 + W * 0.05);
    kelvoSideArea.y = TruncateToInt(Y);
    kelvoSideArea.width = TruncateToInt(W * 0.1);
    kelvoSideArea.height = kelvoHeight;

    kelvoExtraArea.x = TruncateToInt(W * 0.5 + X + W * 0.025);
    kelvoExtraArea.width = TruncateToInt(kelvoSideArea.width * 0.4);
    kelvoExtraArea.height = TruncateToInt(kelvoSideArea.height * 0.2);
    kelvoExtraArea.y = TruncateToInt(kelvoSideArea.y + kelvoSideArea.height * 0.5 - kelvoExtraArea.height);
}

void Configuration::operateAreas(double extraLift)
{
    const double W = operateWidth, H = operateHeight, X = operateX, Y = operateY;
    const double F = operateFrameSize;
    operateMainArea.x = TruncateToInt(W * 0.025 + X);
    operateMainArea.y = TruncateToInt(Y);
    operateMainArea.width = TruncateToInt(W * 0.95 - F * 2);
    operateMainArea.height = TruncateToInt(H - F * 4 - mainHeight * 0.04);

    operateSideArea.x = TruncateToInt(X - W * 0.5 + W * 0.025);
    operateSideArea.y = TruncateToInt(Y);
    operateSideArea.width = TruncateToInt(W * 0.05);
    operateSideArea.height = operateHeight;

    operateExtraArea.x = TruncateToInt(W * 0.5 + X + W * 0.025);
    operateExtraArea.width = TruncateToInt(operateSideArea.width * 0.8);
    operateExtraArea.height = TruncateToInt(operateSideArea.height * 0.2);
    operateExtraArea.y = TruncateToInt(operateSideArea.y + operateSideArea.height * 0.5
                                          - operateExtraArea.height * extraLift);
}

void Configuration::layoutMainWindow()
{
    unitSize = TruncateToInt(mainWidth * kUnitShare);
}

void Configuration::layoutKelvoWindow()
{
    kelvoPosition = Point3d(kelvoX, kelvoY, 0);
    const double W = kelvoWidth, H = kelvoHeight, X = kelvoX, Y = kelvoY;

    kelvoMainArea.x = TruncateToInt(X);
    kelvoMainArea.y = TruncateToInt(H * 0.05 + Y);
    kelvoMainArea.width = TruncateToInt(W * 0.8);
    kelvoMainArea.height = TruncateToInt(H * 0.9);

    kelvoSideArea.x = TruncateToInt(X - W * 0.5 + W * 0.05);
    kelvoSideArea.y = TruncateToInt(Y);
    kelvoSideArea.width = TruncateToInt(W * 0.1);
    kelvoSideArea.height = kelvoHeight;

    kelvoExtraArea.x = kelvoMainArea.x;
    kelvoExtraArea.y = TruncateToInt(Y - H * 0.45);
    kelvoExtraArea.width = kelvoMainArea.width;
    kelvoExtraArea.height = TruncateToInt(H * 0.1);

    // A zero height gives an infinite or undefined ratio; the framework gets
    // it as it is.
    kelvoAspect = static_cast<float>(kelvoMainArea.width) / static_cast<float>(kelvoMainArea.height);
}

void Configuration::layoutOperateWindow()
{
    operatePosition = Point3d(operateX, operateY, 0);
    // Read from the file, the extra area sits half its height lower than in
    // the default layout.
    operateAreas(0.5);
}

void Configuration::layoutSubspace2dWindow()
{
    subspace2dPosition = Point3d(subspace2dX, subspace2dY, 0);
    // The margin is a single-precision value; the differences use double.
    const double margin = static_cast<float>(subspace2dWidth * 0.07);
    const int innerWidth = TruncateToInt(subspace2dWidth - margin);
    const int innerHeight = TruncateToInt(subspace2dHeight - margin);
    subspace2dAspect = static_cast<float>(innerWidth) / static_cast<float>(innerHeight);
}

void Configuration::layoutSubspace3dWindow()
{
    subspace3dPosition = Point3d(subspace3dX, subspace3dY, 0);
    const double margin = static_cast<float>(subspace3dWidth * 0.06);
    const double frame = subspace3dFrameSize;
    const int innerWidth = TruncateToInt(subspace3dWidth - frame * 2 - margin);
    const int innerHeight = TruncateToInt(subspace3dHeight - frame * 2);
    subspace3dAspect = static_cast<float>(innerWidth) / static_cast<float>(innerHeight);
}

void Configuration::layoutPcpWindow()
{
    pcpPosition = Point3d(pcpX, pcpY, 0);
}
