#include "tests/support/FunctionVolume.h"

FunctionVolume::FunctionVolume(osg::Vec3Array* positions, const Function& f) : SelectionGeometry(positions)
{
    field = CreateFieldOnCurrentGrid();
    ScalarField3D& g = *field;
    for (int iz = 0; iz < g.zCount; ++iz)
        for (int iy = 0; iy < g.yCount; ++iy)
            for (int ix = 0; ix < g.xCount; ++ix)
                g.values[g.NodeIndex(ix, iy, iz)] =
                    f(g.xMin + ix * g.xStep, g.yMin + iy * g.yStep, g.zMin + iz * g.zStep);
    g.ExtractIsoSurface(0.0);
    ComputeMaskFromField();
}
