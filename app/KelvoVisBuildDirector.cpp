#include "app/KelvoVisBuildDirector.h"

#include "app/Configuration.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/KelvoVisBuilder.h"

KelvoVis* KelvoVisBuildDirector::createVis(KelvoVisBuilder* builder)
{
    if (!builder->getVis()) return nullptr;

    const Configuration& c = *configuration;
    const Point3d displayCentre(c.mainOrigin.x + c.mainWidth * 0.5, c.mainOrigin.y + c.mainHeight * 0.5, 0);
    builder->buildKelvo(displayCentre, c.mainWidth, c.mainHeight,
                        c.kelvoPosition, c.kelvoWidth, c.kelvoHeight,
                        c.kelvoMainArea.x, c.kelvoMainArea.y, c.kelvoMainArea.width, c.kelvoMainArea.height,
                        c.kelvoSideArea.x, c.kelvoSideArea.y, c.kelvoSideArea.width, c.kelvoSideArea.height,
                        c.kelvoExtraArea.x, c.kelvoExtraArea.y, c.kelvoExtraArea.width, c.kelvoExtraArea.height,
                        c.unitSize,
                        c.operatePosition, c.operateWidth, c.operateHeight,
                        c.operateMainArea.x, c.operateMainArea.y, c.operateMainArea.width,
                        c.operateMainArea.height,
                        c.operateSideArea.x, c.operateSideArea.y, c.operateSideArea.width,
                        c.operateSideArea.height,
                        c.operateExtraArea.x, c.operateExtraArea.y, c.operateExtraArea.width,
                        c.operateExtraArea.height,
                        c.unitSize);
    builder->getVis()->SetComputedLassoImage(c.computedLassoImage);
    return builder->getVis();
}
