#include "geometry/MarchingCubesGeometry.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>

MarchingCubesGeometry::MarchingCubesGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                                             const std::vector<osg::Vec2f>& lassoPoints,
                                             osg::Matrixf modelMatrix, const LassoImage* image)
    : SelectionGeometry(positions),
      projection(viewer, lassoPoints, modelMatrix, LassoImageBounds::ExcludeEdges, image),
      meanDensity(0.0), densityField(nullptr), xCount(0), yCount(0), zCount(0)
{
    // densityField points into PreComputedDensity's list, which owns the
    // field: PreComputedDensity::Destroy must not run while volumes live.
    // Holding the field's shared pointer as well keeps it alive should
    // Destroy come early, so the volume never reads freed memory.
    const int datasetNr = FerrowManager::Instance()->GetCurrentDatasetNr();
    densityFieldHold = PreComputedDensity::Instance()->Field(datasetNr);
    if (!densityFieldHold)
        throw std::out_of_range("lasso volume: dataset " + std::to_string(datasetNr) + " has no density field");
    densityField = densityFieldHold.get();
    xCount = densityField->xCount;
    yCount = densityField->yCount;
    zCount = densityField->zCount;

    const ScalarField3D& grid = *densityField;
    lassoField.reset(new ScalarField3D(grid.xMin, grid.xMax, grid.xCount, grid.yMin, grid.yMax, grid.yCount,
                                       grid.zMin, grid.zMax, grid.zCount));
    field = boost::make_shared<ScalarField3D>(grid.xMin, grid.xMax, grid.xCount, grid.yMin, grid.yMax,
                                              grid.yCount, grid.zMin, grid.zMax, grid.zCount);

    projection.FillField(*lassoField);

    // Summed x outermost, then y, then z: the order fixes the rounding of ρ̄.
    // Walking the grid in that order strides across memory, so the densities
    // under the lasso are first copied into that order, four z-planes at a
    // time, and then summed front to back. The other nodes are copied as
    // +0.0: adding it leaves any sum that starts at +0.0 as it was.
    const std::vector<double>& inside = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    const size_t column = static_cast<size_t>(zCount), plane = static_cast<size_t>(yCount) * column;
    // Every element is written below: no zeroing first.
    const std::unique_ptr<double[]> ordered(new double[inside.size()]);
    int64_t count = 0;
    for (int32_t iy = 0; iy < yCount; ++iy)
        for (int32_t zFirst = 0; zFirst < zCount; zFirst += 4) {
            const int32_t zLast = std::min(zCount, zFirst + 4);
            for (int32_t ix = 0; ix < xCount; ++ix) {
                double* to = &ordered[static_cast<size_t>(ix) * plane + static_cast<size_t>(iy) * column];
                for (int32_t iz = zFirst; iz < zLast; ++iz) {
                    const size_t i = static_cast<size_t>(grid.NodeIndex(ix, iy, iz));
                    const bool under = inside[i] > 0.0;
                    count += under;
                    to[iz] = under ? rho[i] : 0.0;
                }
            }
        }
    double sum = 0.0;
    for (size_t i = 0; i < inside.size(); ++i) sum += ordered[i];
    if (count > 0) {
        meanDensity = sum / static_cast<double>(count);
    } else {
        // No node under the lasso: fall back to the mean of the whole grid.
        double all = 0.0;
        for (double v : densityField->values) all += v;
        meanDensity = all / static_cast<double>(densityField->nodeCount);
    }
}

MarchingCubesGeometry::~MarchingCubesGeometry() = default;

const SurfaceMesh& MarchingCubesGeometry::GetSurface() const
{
    return surface;
}

SurfaceMesh& MarchingCubesGeometry::GetSurface()
{
    return surface;
}

void MarchingCubesGeometry::UpdateThreshold(double factor)
{
    UpdateThresholdLeavingMask(factor);
    ComputeMask();
}

bool MarchingCubesGeometry::UpdateThresholdLeavingMask(double factor)
{
    const double level = factor * meanDensity;
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    std::vector<double>& out = field->values;
    for (size_t i = 0; i < out.size(); ++i) out[i] = std::min(s[i], rho[i] - level);

    field->ExtractIsoSurface(0.0);
    surface = field->surface;
    return true;
}

void MarchingCubesGeometry::ComputeMask()
{
    // Membership is Contains for every particle. This class keeps the field
    // test of the base as its Contains, so for it the base's batched mask
    // gives the same answers; a kind derived from it goes through its own
    // Contains.
    if (typeid(*this) == typeid(MarchingCubesGeometry)) {
        ComputeMaskFromField();
        return;
    }
    const size_t count = mask.size();
    if (count == 0) return;
    const osg::Vec3f* points = &(*positions)[0];
    ForEachChunk(count, [this, points](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) mask[i] = Contains(points[i]);
    });
}

double MarchingCubesGeometry::ScreenSignedDistance(const osg::Vec3d& eye) const
{
    return projection.ScreenSignedDistance(eye);
}
