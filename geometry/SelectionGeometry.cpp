#include "geometry/SelectionGeometry.h"

#include "density/PreComputedDensity.h"
#include "geometry/SurfaceMembership.h"
#include "framework/study/FerrowManager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <system_error>
#include <thread>

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
    const ScalarField3D& density = *PreComputedDensity::Instance()->Field(nr);
    return boost::make_shared<ScalarField3D>(density.xMin, density.xMax, density.xCount,
                                             density.yMin, density.yMax, density.yCount,
                                             density.zMin, density.zMax, density.zCount);
}

// Chunk borders at multiples of 4096 keep every thread on its own words of a
// bit-packed mask. A chunk whose thread cannot be started runs here instead,
// so a refused thread never leaves started ones unjoined or work undone.
void SelectionGeometry::ForEachChunk(size_t count, const std::function<void(size_t, size_t)>& body)
{
    // Below this many particles a thread costs more than it saves.
    constexpr size_t kParticlesPerThread = 1 << 16;
    const size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    const size_t threadCount = std::min<size_t>({hardware, 8, (count + kParticlesPerThread - 1) / kParticlesPerThread});
    if (threadCount <= 1) {
        body(size_t(0), count);
        return;
    }
    constexpr size_t kAlign = 4096;
    const size_t chunk = ((count + threadCount - 1) / threadCount + kAlign - 1) / kAlign * kAlign;
    std::vector<std::thread> workers;
    workers.reserve(threadCount);
    size_t handedOut = chunk;
    for (; handedOut < count; handedOut += chunk) {
        try {
            workers.emplace_back(body, handedOut, std::min(count, handedOut + chunk));
        } catch (const std::system_error&) {
            break;
        }
    }
    body(size_t(0), std::min(count, chunk));
    if (handedOut < count)
        body(handedOut, count);
    for (std::thread& w : workers)
        w.join();
}

void SelectionGeometry::ComputeMaskFromField()
{
    const size_t count = mask.size();
    if (count == 0)
        return;
    const SurfaceMembership test(*field);
    const osg::Vec3f* points = &(*positions)[0];
    if (!particleCells || particleCells->cell.size() != count || !test.OnGridOf(*particleCells)) {
        auto cells = boost::make_shared<ParticleCells>(test.NewParticleCells(count));
        ForEachChunk(count, [&](size_t begin, size_t end) { test.ContainsRange(points, begin, end, mask, *cells); });
        particleCells = cells;
        return;
    }
    const ParticleCells& cells = *particleCells;
    ForEachChunk(count, [&](size_t begin, size_t end) { test.ContainsRange(points, cells, begin, end, mask); });
}
