#include "geometry/StructureGeometry.h"

#include "geometry/GridComponents.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The score raster has at most this many cells along its longer side: fine
// enough for a droplet a few dozen pixels wide, coarse enough that a
// footprint costs little.
const double kRasterCells = 256.0;

}  // namespace

StructureGeometry::StructureGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                                     const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix,
                                     const LassoImage* image)
    : MarchingCubesGeometry(positions, viewer, lassoPoints, modelMatrix, image), chosen(-1), halfStepEye(0.0),
      rasterX0(0.0), rasterY0(0.0), cellSize(1.0), rasterColumns(0), rasterRows(0), lassoCellCount(0)
{
    const std::vector<double>& s = lassoField->values;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] > 0.0) underLasso.push_back(static_cast<int32_t>(i));
    const float unknown = std::numeric_limits<float>::quiet_NaN();
    screen.assign(s.size(), NodeScreen{unknown, unknown, unknown, unknown});

    const osg::Matrixd modelView = osg::Matrixd(projection.modelMatrix) * projection.viewMatrix;
    const ScalarField3D& grid = *densityField;
    const double steps[3][3] = {{grid.xStep, 0, 0}, {0, grid.yStep, 0}, {0, 0, grid.zStep}};
    for (const auto& step : steps)
        halfStepEye = std::max(halfStepEye,
                               0.5 * osg::Matrixd::transform3x3(osg::Vec3d(step[0], step[1], step[2]), modelView).length());

    if (lassoPoints.empty() || projection.imageWidth <= 0 || projection.imageHeight <= 0) return;
    double minX = lassoPoints[0].x(), maxX = minX, minY = lassoPoints[0].y(), maxY = minY;
    for (const osg::Vec2f& p : lassoPoints) {
        minX = std::min<double>(minX, p.x());
        maxX = std::max<double>(maxX, p.x());
        minY = std::min<double>(minY, p.y());
        maxY = std::max<double>(maxY, p.y());
    }
    const double margin = 0.5 * std::max(maxX - minX, maxY - minY);
    const double left = projection.viewportX, bottom = projection.viewportY;
    rasterX0 = std::max(left, minX - margin);
    rasterY0 = std::max(bottom, minY - margin);
    const double width = std::min(left + projection.imageWidth, maxX + margin) - rasterX0;
    const double height = std::min(bottom + projection.imageHeight, maxY + margin) - rasterY0;
    if (!(width > 0.0 && height > 0.0)) return;
    cellSize = std::max(1.0, std::max(width, height) / kRasterCells);
    rasterColumns = static_cast<int32_t>(std::ceil(width / cellSize));
    rasterRows = static_cast<int32_t>(std::ceil(height / cellSize));
    lassoCells.assign(static_cast<size_t>(rasterColumns) * static_cast<size_t>(rasterRows), 0);
    // A cell is the lasso's where the image's pixel under its centre is.
    const std::vector<unsigned char>& bytes = projection.lassoImage;
    for (int32_t row = 0; row < rasterRows; ++row)
        for (int32_t column = 0; column < rasterColumns; ++column) {
            const int64_t px = static_cast<int64_t>(rasterX0 + (column + 0.5) * cellSize - left);
            const int64_t py = static_cast<int64_t>(rasterY0 + (row + 0.5) * cellSize - bottom);
            if (px < 0 || px >= projection.imageWidth || py < 0 || py >= projection.imageHeight) continue;
            const size_t pixel = static_cast<size_t>(py) * static_cast<size_t>(projection.imageWidth) + static_cast<size_t>(px);
            if (bytes[3 * pixel] != 0) {
                lassoCells[static_cast<size_t>(row) * static_cast<size_t>(rasterColumns) + static_cast<size_t>(column)] = 1;
                ++lassoCellCount;
            }
        }
}

StructureGeometry::~StructureGeometry() = default;

const StructureGeometry::NodeScreen& StructureGeometry::Screen(int32_t node)
{
    NodeScreen& known = screen[static_cast<size_t>(node)];
    if (!std::isnan(known.z)) return known;
    const ScalarField3D& grid = *densityField;
    const int32_t ix = node % xCount, iy = (node / xCount) % yCount, iz = node / (xCount * yCount);
    const osg::Vec3d eye = projection.EyePosition(LassoProjection::NodePosition(grid, ix, iy, iz));
    const osg::Vec3d win = projection.WindowPosition(eye);
    const osg::Vec3d side = projection.WindowPosition(eye + osg::Vec3d(halfStepEye, 0.0, 0.0));
    known = NodeScreen{static_cast<float>(win.x()), static_cast<float>(win.y()), static_cast<float>(win.z()),
                       static_cast<float>(std::fabs(side.x() - win.x()))};
    // A node whose depth is NaN (on the eye) stays outside every footprint.
    if (std::isnan(known.z)) known.z = -1.0f;
    return known;
}

StructureGeometry::Candidate StructureGeometry::Score(const int32_t* first, const int32_t* last, std::vector<int32_t>& stamp)
{
    const std::vector<double>& v = field->values;
    // Stamps of earlier scores are told apart by a number of their own.
    const int32_t mark = static_cast<int32_t>(candidates.size());
    Candidate c{0.0, std::numeric_limits<double>::infinity(), 0, 0, -1};
    int64_t shared = 0;
    for (const int32_t* n = first; n != last; ++n) {
        const NodeScreen& at = Screen(*n);
        if (v[static_cast<size_t>(*n)] > 0.0) c.depth = std::min<double>(c.depth, at.z);
        if (!(at.z >= 0.0f && at.z <= 1.0f) || rasterColumns == 0) continue;
        const int32_t c0 = std::max(0, static_cast<int32_t>(std::floor((at.x - at.half - rasterX0) / cellSize)));
        const int32_t c1 = std::min(rasterColumns - 1, static_cast<int32_t>(std::floor((at.x + at.half - rasterX0) / cellSize)));
        const int32_t r0 = std::max(0, static_cast<int32_t>(std::floor((at.y - at.half - rasterY0) / cellSize)));
        const int32_t r1 = std::min(rasterRows - 1, static_cast<int32_t>(std::floor((at.y + at.half - rasterY0) / cellSize)));
        for (int32_t row = r0; row <= r1; ++row)
            for (int32_t column = c0; column <= c1; ++column) {
                const size_t cell = static_cast<size_t>(row) * static_cast<size_t>(rasterColumns) + static_cast<size_t>(column);
                if (stamp[cell] == mark) continue;
                stamp[cell] = mark;
                ++c.footprintCells;
                shared += lassoCells[cell];
            }
    }
    const int64_t joined = c.footprintCells + lassoCellCount - shared;
    c.score = joined > 0 ? static_cast<double>(shared) / static_cast<double>(joined) : 0.0;
    return c;
}

bool StructureGeometry::UpdateThresholdLeavingMask(double factor)
{
    // The density-aware field, as MarchingCubesGeometry writes it.
    const double level = factor * meanDensity;
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    std::vector<double>& out = field->values;
    for (size_t i = 0; i < out.size(); ++i) out[i] = std::min(s[i], rho[i] - level);

    // The structures at the level that reach under the lasso, their nodes one run.
    GridComponents base(xCount, yCount, zCount);
    for (int32_t i : underLasso)
        if (out[static_cast<size_t>(i)] > 0.0)
            base.Grow(i, [&rho, level](int32_t n) { return rho[static_cast<size_t>(n)] - level > 0.0; });
    const int32_t* baseFirst = base.Count() > 0 ? base.First(0) : nullptr;
    const int32_t* baseLast = base.Count() > 0 ? base.Last(base.Count() - 1) : nullptr;

    // At each level, the cores in there and the region each claims; the
    // cores under the lasso are scored by their regions.
    candidates.clear();
    std::vector<std::vector<int32_t>> owners;
    std::vector<int32_t> stamp(lassoCells.size(), -1);
    for (int32_t k = 0; k < kLevels && base.Count() > 0; ++k) {
        const double lk = std::ldexp(level, k);
        if (k > 0 && !(lk > level)) break;  // a level of 0 (or below) does not rise
        GridComponents cores(xCount, yCount, zCount);
        for (const int32_t* n = baseFirst; n != baseLast; ++n)
            cores.Grow(*n, [&rho, lk](int32_t m) { return rho[static_cast<size_t>(m)] - lk > 0.0; });
        if (cores.Count() == 0) break;
        owners.push_back(cores.Claim([&base](int32_t m) { return base.LabelOf(m) >= 0; }));
        const std::vector<int32_t>& owner = owners.back();
        std::vector<uint8_t> under(static_cast<size_t>(cores.Count()), 0);
        for (int32_t i : underLasso)
            if (std::min(s[static_cast<size_t>(i)], rho[static_cast<size_t>(i)] - lk) > 0.0) under[static_cast<size_t>(cores.LabelOf(i))] = 1;
        // The regions' nodes, region after region (a counting sort by owner).
        std::vector<int32_t> starts(static_cast<size_t>(cores.Count()) + 1, 0);
        for (const int32_t* n = baseFirst; n != baseLast; ++n)
            if (owner[static_cast<size_t>(*n)] >= 0) ++starts[static_cast<size_t>(owner[static_cast<size_t>(*n)]) + 1];
        for (size_t c = 1; c < starts.size(); ++c) starts[c] += starts[c - 1];
        std::vector<int32_t> regions(static_cast<size_t>(starts.back()));
        std::vector<int32_t> fill(starts.begin(), starts.end() - 1);
        for (const int32_t* n = baseFirst; n != baseLast; ++n) {
            const int32_t o = owner[static_cast<size_t>(*n)];  // −1: a structure without a core here
            if (o >= 0) regions[static_cast<size_t>(fill[static_cast<size_t>(o)]++)] = *n;
        }
        for (int32_t core = 0; core < cores.Count(); ++core) {
            if (!under[static_cast<size_t>(core)]) continue;
            Candidate c = Score(regions.data() + starts[static_cast<size_t>(core)],
                                regions.data() + starts[static_cast<size_t>(core) + 1], stamp);
            c.level = k;
            c.part = core;
            candidates.push_back(c);
        }
    }

    chosen = -1;
    double best = 0.0;
    for (const Candidate& c : candidates) best = std::max(best, c.score);
    for (int32_t k = 0; k < static_cast<int32_t>(candidates.size()); ++k) {
        const Candidate& c = candidates[static_cast<size_t>(k)];
        if (c.score < (1.0 - kScoreTie) * best) continue;
        if (chosen < 0 || c.depth < candidates[static_cast<size_t>(chosen)].depth) chosen = k;
    }
    const std::vector<int32_t>* owner = chosen >= 0 ? &owners[static_cast<size_t>(candidates[static_cast<size_t>(chosen)].level)] : nullptr;
    const int32_t core = chosen >= 0 ? candidates[static_cast<size_t>(chosen)].part : -1;
    for (int32_t i : underLasso) {
        double& v = out[static_cast<size_t>(i)];
        if (v > 0.0 && !(owner && (*owner)[static_cast<size_t>(i)] == core)) v = -v;
    }

    field->ExtractIsoSurface(0.0);
    surface = field->surface;
    return true;
}

void StructureGeometry::ComputeMask()
{
    // Contains is the field test of the base, so the batched mask answers it.
    ComputeMaskFromField();
}
