#include "geometry/SelectionGeometry.h"

#include "density/ParallelParts.h"
#include "density/PreComputedDensity.h"
#include "geometry/AllocationFaults.h"
#include "geometry/MaskWords.h"
#include "geometry/SurfaceMembership.h"
#include "framework/study/FerrowManager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

SelectionGeometry::SelectionGeometry(osg::Vec3Array* positions)
    : positions(positions), mask(positions ? positions->size() : 0)
{
    if (positions)
        positions->ref();
}

SelectionGeometry::~SelectionGeometry()
{
    if (positions)
        positions->unref();
}

const SurfaceMesh& SelectionGeometry::GetSurface() const { return field->surface; }

SurfaceMesh& SelectionGeometry::GetSurface() { return field->surface; }

void SelectionGeometry::UpdateThreshold(double) {}

bool SelectionGeometry::UpdateThresholdLeavingMask(double factor)
{
    UpdateThreshold(factor);
    return false;
}

void SelectionGeometry::ComputeMask() { ComputeMaskFromField(); }

bool SelectionGeometry::Contains(const osg::Vec3f& p) const
{
    return field->IsWithinBounds(p) && field->IsInsideSurface(p);
}

double SelectionGeometry::VolumeFraction() const
{
    const ScalarField3D& f = *field;
    long long inside = 0;
    for (int ix = 0; ix < f.xCount; ++ix) {
        const float x = static_cast<float>(f.xMin + ix * f.xStep);
        for (int iy = 0; iy < f.yCount; ++iy) {
            const float y = static_cast<float>(f.yMin + iy * f.yStep);
            for (int iz = 0; iz < f.zCount; ++iz) {
                const float z = static_cast<float>(f.zMin + iz * f.zStep);
                if (Contains(osg::Vec3f(x, y, z)))
                    ++inside;
            }
        }
    }
    return static_cast<double>(inside) /
           (static_cast<double>(f.xCount) * f.yCount * f.zCount);
}

boost::shared_ptr<ScalarField3D> SelectionGeometry::CreateFieldOnCurrentGrid()
{
    const int nr = FerrowManager::Instance()->GetCurrentDatasetNr();
    const boost::shared_ptr<ParticleDensityField3D>& field = PreComputedDensity::Instance()->Field(nr);
    if (!field) throw std::out_of_range("dataset " + std::to_string(nr) + " has no density field");
    const ScalarField3D& density = *field;
    return boost::make_shared<ScalarField3D>(density.xMin, density.xMax, density.xCount,
                                             density.yMin, density.yMax, density.yCount,
                                             density.zMin, density.zMax, density.zCount);
}

void SelectionGeometry::ForEachChunk(size_t count, const std::function<void(size_t, size_t)>& body)
{
    parallel::ForEachBlock(count, MaskWords::kTaskChunk, body);
}

void SelectionGeometry::ComputeMaskFromField()
{
    const size_t count = mask.size();
    if (count == 0)
        return;
    AllocationFaults::Check();
    SurfaceMembership(*field).ComputeMask(&(*positions)[0], mask, particleCells);
}
