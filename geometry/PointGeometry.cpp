#include "geometry/PointGeometry.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"
#include "geometry/GridComponents.h"

#include <boost/make_shared.hpp>
#include <osg/Viewport>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

PointGeometry::PointGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer, const osg::Vec2f& click,
                             osg::Matrixf modelMatrix)
    : SelectionGeometry(positions), peakDensity(0.0), seed(-1)
{
    if (!viewer) throw std::invalid_argument("point volume: no viewer");
    const osg::Camera* camera = viewer->getCamera();
    if (!camera->getViewport()) throw std::invalid_argument("point volume: the camera has no viewport");
    const int datasetNr = FerrowManager::Instance()->GetCurrentDatasetNr();
    density = PreComputedDensity::Instance()->Field(datasetNr);
    if (!density)
        throw std::out_of_range("point volume: dataset " + std::to_string(datasetNr) + " has no density field");
    const ParticleDensityField3D& grid = *density;
    field = boost::make_shared<ScalarField3D>(grid.xMin, grid.xMax, grid.xCount, grid.yMin, grid.yMax, grid.yCount,
                                              grid.zMin, grid.zMax, grid.zCount);

    // The ray in data space: the click unprojected onto the near and far plane.
    const osg::Matrixd toWindow = osg::Matrixd(modelMatrix) * camera->getViewMatrix() * camera->getProjectionMatrix() *
                                  camera->getViewport()->computeWindowMatrix();
    const osg::Matrixd fromWindow = osg::Matrixd::inverse(toWindow);
    const osg::Vec3d nearPoint = osg::Vec3d(click.x(), click.y(), 0.0) * fromWindow;
    const osg::Vec3d farPoint = osg::Vec3d(click.x(), click.y(), 1.0) * fromWindow;
    const osg::Vec3d direction = farPoint - nearPoint;
    // The stretch of the ray inside the grid's box (slab clipping).
    double enter = 0.0, leave = 1.0;
    const double lows[3] = {grid.xMin, grid.yMin, grid.zMin}, highs[3] = {grid.xMax, grid.yMax, grid.zMax};
    for (int a = 0; a < 3; ++a) {
        if (direction[a] == 0.0) {
            if (nearPoint[a] < lows[a] || nearPoint[a] > highs[a]) leave = -1.0;
            continue;
        }
        double t0 = (lows[a] - nearPoint[a]) / direction[a], t1 = (highs[a] - nearPoint[a]) / direction[a];
        if (t0 > t1) std::swap(t0, t1);
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
    }
    if (!(enter < leave) || !std::isfinite(direction.length())) return;

    const double dense = kDenseFactor * grid.Mean();
    const double structure = 2.0 * dense;  // what a run's largest sample must reach
    const double step = 0.5 * std::min({grid.xStep, grid.yStep, grid.zStep}) / direction.length();
    // The run ends where the density drops below half its largest value so
    // far: the next structure behind starts a run of its own.
    osg::Vec3f peakAt;
    double largest = 0.0;
    std::vector<double> run;
    for (double t = enter; t <= leave; t += step) {
        const osg::Vec3f p(nearPoint + direction * t);
        const double rho = grid.Sample(p);
        if (rho >= dense && rho > 0.0 && rho >= 0.5 * largest) {
            run.push_back(rho);
            if (rho > largest) {
                largest = rho;
                peakAt = p;
            }
        } else if (!run.empty()) {
            // A run whose half-density contour is not dense itself is a ripple
            // of the surroundings: its contour would run out into them.
            if (largest >= structure) break;
            run.clear();
            largest = 0.0;
        }
    }
    if (largest < structure) run.clear();
    if (run.empty()) return;
    // The density there: the mean of the run's samples at half its largest or above.
    double sum = 0.0;
    int counted = 0;
    for (double rho : run)
        if (rho >= 0.5 * largest) {
            sum += rho;
            ++counted;
        }
    peakDensity = sum / counted;
    // The densest of the eight nodes around the peak sample.
    const int cx = std::min(grid.xCount - 2, std::max(0, static_cast<int>((peakAt.x() - grid.xMin) / grid.xStep)));
    const int cy = std::min(grid.yCount - 2, std::max(0, static_cast<int>((peakAt.y() - grid.yMin) / grid.yStep)));
    const int cz = std::min(grid.zCount - 2, std::max(0, static_cast<int>((peakAt.z() - grid.zMin) / grid.zStep)));
    for (int corner = 0; corner < 8; ++corner) {
        const int32_t n = grid.NodeIndex(cx + (corner & 1), cy + ((corner >> 1) & 1), cz + ((corner >> 2) & 1));
        if (seed < 0 || grid.values[static_cast<size_t>(n)] > grid.values[static_cast<size_t>(seed)]) seed = n;
    }
}

PointGeometry::~PointGeometry() = default;

const SurfaceMesh& PointGeometry::GetSurface() const { return surface; }

SurfaceMesh& PointGeometry::GetSurface() { return surface; }

void PointGeometry::UpdateThreshold(double factor)
{
    UpdateThresholdLeavingMask(factor);
    ComputeMask();
}

bool PointGeometry::UpdateThresholdLeavingMask(double factor)
{
    const ScalarField3D& grid = *density;
    boost::shared_ptr<ScalarField3D> fresh = boost::make_shared<ScalarField3D>(
        grid.xMin, grid.xMax, grid.xCount, grid.yMin, grid.yMax, grid.yCount, grid.zMin, grid.zMax, grid.zCount);
    const double level = factor * 0.5 * peakDensity;
    const std::vector<double>& rho = grid.values;
    std::vector<double>& out = fresh->values;
    GridComponents parts(grid.xCount, grid.yCount, grid.zCount);
    const int32_t kept = seed < 0 || peakDensity <= 0.0
                             ? -1
                             : parts.Grow(seed, [&rho, level](int32_t n) { return rho[static_cast<size_t>(n)] - level > 0.0; });
    for (size_t i = 0; i < out.size(); ++i) {
        const double v = rho[i] - level;
        // Strictly negative off the part: a node at the level would still be on the surface.
        out[i] = kept >= 0 && parts.LabelOf(static_cast<int32_t>(i)) == kept
                     ? v
                     : std::min(-std::fabs(v), -std::numeric_limits<double>::min());
    }
    fresh->ExtractIsoSurface(0.0);
    SurfaceMesh copy = fresh->surface;
    // Nothing below throws.
    field.swap(fresh);
    std::swap(surface, copy);
    return true;
}
