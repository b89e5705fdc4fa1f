#include "geometry/StructureGeometry.h"

#include "density/ParallelParts.h"
#include "geometry/GridComponents.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The score raster has at most this many cells along its longer side: fine
// enough for a droplet a few dozen pixels wide, coarse enough that a
// footprint costs little.
const double kRasterCells = 256.0;

// Nodes per task when the structures' nodes are gathered: a first threshold
// projects each, which is worth spreading.
const size_t kGatherBlock = 4096;

// The bits first..last of a raster word (0 ≤ first ≤ last ≤ 63).
inline uint64_t Bits(int32_t first, int32_t last)
{
    return (~uint64_t(0) << first) & (~uint64_t(0) >> (63 - last));
}

}  // namespace

StructureGeometry::StructureGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                                     const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix,
                                     const LassoImage* image)
    : MarchingCubesGeometry(positions, viewer, lassoPoints, modelMatrix, image), chosen(-1), keptLevel(0.0),
      plainSearch(false), halfStepEye(0.0), rasterX0(0.0), rasterY0(0.0), cellSize(1.0), rasterColumns(0), rasterRows(0),
      rasterWords(0), lassoCellCount(0), everyDenseKept(false)
{
    const std::vector<double>& s = lassoField->values;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] > 0.0) {
            underLasso.push_back(static_cast<int32_t>(i));
            underDensity.push_back(densityField->values[i]);
        }
    screen.assign(s.size(), NodeScreen{std::numeric_limits<float>::quiet_NaN(), 1, 0, 1, 0});

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
    rasterWords = (rasterColumns + 63) / 64;
    lassoBits.assign(static_cast<size_t>(rasterWords) * static_cast<size_t>(rasterRows), 0);
    footprintBits.assign(lassoBits.size(), 0);
    // A cell is the lasso's where the image's pixel under its centre is.
    const std::vector<unsigned char>& bytes = projection.lassoImage;
    for (int32_t row = 0; row < rasterRows; ++row)
        for (int32_t column = 0; column < rasterColumns; ++column) {
            const int64_t px = static_cast<int64_t>(rasterX0 + (column + 0.5) * cellSize - left);
            const int64_t py = static_cast<int64_t>(rasterY0 + (row + 0.5) * cellSize - bottom);
            if (px < 0 || px >= projection.imageWidth || py < 0 || py >= projection.imageHeight) continue;
            const size_t pixel = static_cast<size_t>(py) * static_cast<size_t>(projection.imageWidth) + static_cast<size_t>(px);
            if (bytes[3 * pixel] != 0) {
                lassoBits[static_cast<size_t>(row) * static_cast<size_t>(rasterWords) + static_cast<size_t>(column / 64)] |=
                    uint64_t(1) << (column % 64);
                ++lassoCellCount;
            }
        }
}

StructureGeometry::~StructureGeometry() = default;

int32_t StructureGeometry::OutlineSteps(size_t coreNodes)
{
    // A smooth cluster's core is its inner part, and its own outskirts reach
    // far beyond it; a droplet a few steps across has only the density's
    // smoothing, two steps. Half the core's radius serves both: a whole
    // radius lets a droplet behind the one drawn around match the lasso
    // better, from some views of the LJ snapshot.
    const double pi = 3.14159265358979323846;
    const double radius = std::cbrt(3.0 * static_cast<double>(coreNodes) / (4.0 * pi));
    return std::max(kOutlineSteps, static_cast<int32_t>(std::ceil(0.5 * radius)));
}

StructureGeometry::NodeScreen StructureGeometry::Project(int32_t node) const
{
    const ScalarField3D& grid = *densityField;
    const int32_t ix = node % xCount, iy = (node / xCount) % yCount, iz = node / (xCount * yCount);
    const osg::Vec3d eye = projection.EyePosition(LassoProjection::NodePosition(grid, ix, iy, iz));
    const osg::Vec3d win = projection.WindowPosition(eye);
    const osg::Vec3d side = projection.WindowPosition(eye + osg::Vec3d(halfStepEye, 0.0, 0.0));
    const float x = static_cast<float>(win.x()), y = static_cast<float>(win.y()), z = static_cast<float>(win.z());
    const float half = static_cast<float>(std::fabs(side.x() - win.x()));
    // A node whose depth is NaN (on the eye) stays outside every footprint.
    NodeScreen at{std::isnan(z) ? -1.0f : z, 1, 0, 1, 0};
    if (!(at.z >= 0.0f && at.z <= 1.0f) || rasterColumns == 0) return at;
    const int32_t c0 = std::max(0, static_cast<int32_t>(std::floor((x - half - rasterX0) / cellSize)));
    const int32_t c1 = std::min(rasterColumns - 1, static_cast<int32_t>(std::floor((x + half - rasterX0) / cellSize)));
    const int32_t r0 = std::max(0, static_cast<int32_t>(std::floor((y - half - rasterY0) / cellSize)));
    const int32_t r1 = std::min(rasterRows - 1, static_cast<int32_t>(std::floor((y + half - rasterY0) / cellSize)));
    // Both ends lie on the raster (a few hundred cells) when the square meets it.
    if (c0 <= c1 && r0 <= r1)
        at = NodeScreen{at.z, static_cast<int16_t>(c0), static_cast<int16_t>(c1), static_cast<int16_t>(r0), static_cast<int16_t>(r1)};
    return at;
}

const StructureGeometry::NodeScreen& StructureGeometry::ScreenOf(int32_t node)
{
    NodeScreen& known = screen[static_cast<size_t>(node)];
    if (std::isnan(known.z)) known = Project(node);
    return known;
}

template <class At>
StructureGeometry::Candidate StructureGeometry::Score(size_t count, std::vector<uint64_t>& footprintBits, At at) const
{
    Candidate c{0.0, std::numeric_limits<double>::infinity(), 0, 0, -1};
    const size_t words = static_cast<size_t>(rasterWords);
    int32_t rowLow = rasterRows, rowHigh = -1;
    for (size_t j = 0; j < count; ++j) {
        bool under = false;
        const NodeScreen n = at(j, under);
        // Every region node has ρ > ℓ, so v > 0 where the node is under the lasso.
        if (under) c.depth = std::min<double>(c.depth, n.z);
        if (n.c0 > n.c1) continue;
        rowLow = std::min<int32_t>(rowLow, n.r0);
        rowHigh = std::max<int32_t>(rowHigh, n.r1);
        const int32_t w0 = n.c0 / 64, w1 = n.c1 / 64;
        uint64_t* row = &footprintBits[static_cast<size_t>(n.r0) * words];
        if (w0 == w1) {
            const uint64_t bits = Bits(n.c0 % 64, n.c1 % 64);
            for (int32_t r = n.r0; r <= n.r1; ++r, row += words) row[w0] |= bits;
        } else {
            for (int32_t r = n.r0; r <= n.r1; ++r, row += words) {
                row[w0] |= Bits(n.c0 % 64, 63);
                for (int32_t w = w0 + 1; w < w1; ++w) row[w] = ~uint64_t(0);
                row[w1] |= Bits(0, n.c1 % 64);
            }
        }
    }
    int64_t shared = 0;
    for (int32_t r = rowLow; r <= rowHigh; ++r)
        for (size_t w = static_cast<size_t>(r) * words, end = w + words; w < end; ++w) {
            c.footprintCells += __builtin_popcountll(footprintBits[w]);
            shared += __builtin_popcountll(footprintBits[w] & lassoBits[w]);
            footprintBits[w] = 0;
        }
    const int64_t joined = c.footprintCells + lassoCellCount - shared;
    c.score = joined > 0 ? static_cast<double>(shared) / static_cast<double>(joined) : 0.0;
    return c;
}

void StructureGeometry::SearchPlain(double level, std::vector<int32_t>& kept)
{
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    GridComponents base(xCount, yCount, zCount);
    for (int32_t i : underLasso)
        if (rho[static_cast<size_t>(i)] - level > 0.0)
            base.Grow(i, [&rho, level](int32_t n) { return rho[static_cast<size_t>(n)] - level > 0.0; });
    const int32_t* baseFirst = base.Count() > 0 ? base.First(0) : nullptr;
    const int32_t* baseLast = base.Count() > 0 ? base.Last(base.Count() - 1) : nullptr;

    std::vector<std::vector<int32_t>> regions;  // per candidate
    for (int32_t k = 0; k < kLevels && base.Count() > 0; ++k) {
        const double lk = std::ldexp(level, k);
        if (k > 0 && !(lk > level)) break;  // a level of 0 (or below) does not rise
        GridComponents cores(xCount, yCount, zCount);
        for (const int32_t* n = baseFirst; n != baseLast; ++n)
            cores.Grow(*n, [&rho, lk](int32_t m) { return rho[static_cast<size_t>(m)] - lk > 0.0; });
        if (cores.Count() == 0) break;
        const std::vector<int32_t> claim = cores.Claim([&base](int32_t m) { return base.LabelOf(m) >= 0; });
        std::vector<uint8_t> hit(static_cast<size_t>(cores.Count()), 0);
        for (int32_t i : underLasso)
            if (std::min(s[static_cast<size_t>(i)], rho[static_cast<size_t>(i)] - lk) > 0.0) hit[static_cast<size_t>(cores.LabelOf(i))] = 1;
        for (int32_t core = 0; core < cores.Count(); ++core) {
            if (!hit[static_cast<size_t>(core)]) continue;
            std::vector<int32_t> nodes;
            for (const int32_t* n = baseFirst; n != baseLast; ++n)
                if (claim[static_cast<size_t>(*n)] == core) nodes.push_back(*n);
            // Its outline: at the level itself the whole structure, higher up
            // the core and its region within OutlineSteps face steps of it.
            std::vector<int32_t> outline = nodes;
            if (k > 0) {
                std::vector<int32_t> steps(rho.size(), -1);
                outline.assign(cores.First(core), cores.Last(core));
                const int32_t reach = OutlineSteps(outline.size());
                for (int32_t n : outline) steps[static_cast<size_t>(n)] = 0;
                for (size_t next = 0; next < outline.size(); ++next) {
                    const int32_t n = outline[next], d = steps[static_cast<size_t>(n)];
                    if (d == reach) continue;
                    cores.FaceNeighbours(n, [&](int32_t m) {
                        if (steps[static_cast<size_t>(m)] < 0 && claim[static_cast<size_t>(m)] == core) {
                            steps[static_cast<size_t>(m)] = d + 1;
                            outline.push_back(m);
                        }
                    });
                }
            }
            Candidate c = Score(outline.size(), footprintBits, [&](size_t j, bool& under) {
                under = s[static_cast<size_t>(outline[j])] > 0.0;
                return ScreenOf(outline[j]);
            });
            c.level = k;
            c.part = core;
            candidates.push_back(c);
            regions.push_back(std::move(nodes));
        }
    }
    Choose();
    if (chosen >= 0) kept = regions[static_cast<size_t>(chosen)];
}

void StructureGeometry::SearchFast(double level, std::vector<int32_t>& kept)
{
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    // The structures, grown from the nodes under the lasso in ascending
    // order as the plain search grows them, so both number the cores alike.
    // A node's dense neighbours all have their index once it is expanded.
    baseNodes.clear();
    baseDensity.clear();
    baseScreen.clear();
    baseUnder.clear();
    baseCoordinates.clear();
    structureOf.clear();
    neighbours.clear();
    lassoNodes.clear();
    structureStart.assign(1, 0);
    const int32_t slice = xCount * yCount;
    for (size_t j = 0; j < underLasso.size(); ++j) {
        const int32_t seed = underLasso[j];
        if (!(underDensity[j] - level > 0.0) || compact[static_cast<size_t>(seed)] >= 0) continue;
        const int32_t structure = static_cast<int32_t>(structureStart.size()) - 1;
        compact[static_cast<size_t>(seed)] = static_cast<int32_t>(baseNodes.size());
        baseNodes.push_back(seed);
        baseCoordinates.push_back(Coordinates{seed % xCount, (seed / xCount) % yCount, seed / slice});
        for (size_t next = static_cast<size_t>(structureStart.back()); next < baseNodes.size(); ++next) {
            const int32_t n = baseNodes[next];
            const Coordinates at = baseCoordinates[next];
            structureOf.push_back(structure);
            int32_t* found = &*neighbours.insert(neighbours.end(), 6, -1);
            auto visit = [&](int32_t m, int32_t mx, int32_t my, int32_t mz) {
                int32_t& index = compact[static_cast<size_t>(m)];
                if (index < 0) {
                    if (!(rho[static_cast<size_t>(m)] - level > 0.0)) return;
                    index = static_cast<int32_t>(baseNodes.size());
                    baseNodes.push_back(m);
                    baseCoordinates.push_back(Coordinates{mx, my, mz});
                }
                *found++ = index;
            };
            // The face order of GridComponents: −x, +x, −y, +y, −z, +z.
            if (at.x > 0) visit(n - 1, at.x - 1, at.y, at.z);
            if (at.x + 1 < xCount) visit(n + 1, at.x + 1, at.y, at.z);
            if (at.y > 0) visit(n - xCount, at.x, at.y - 1, at.z);
            if (at.y + 1 < yCount) visit(n + xCount, at.x, at.y + 1, at.z);
            if (at.z > 0) visit(n - slice, at.x, at.y, at.z - 1);
            if (at.z + 1 < zCount) visit(n + slice, at.x, at.y, at.z + 1);
        }
        structureStart.push_back(static_cast<int32_t>(baseNodes.size()));
    }
    const int32_t nodeCount = static_cast<int32_t>(baseNodes.size());
    const int32_t structureCount = static_cast<int32_t>(structureStart.size()) - 1;
    // What the search reads of each node, gathered in node order; a node's
    // square is projected the first time it is needed.
    baseDensity.resize(static_cast<size_t>(nodeCount));
    baseUnder.resize(static_cast<size_t>(nodeCount));
    baseScreen.resize(static_cast<size_t>(nodeCount));
    parallel::ForEachBlock(static_cast<size_t>(nodeCount), kGatherBlock, [&](size_t first, size_t last) {
        for (size_t b = first; b < last; ++b) {
            const int32_t n = baseNodes[b];
            compact[static_cast<size_t>(n)] = -1;
            baseDensity[b] = rho[static_cast<size_t>(n)];
            baseUnder[b] = s[static_cast<size_t>(n)] > 0.0;
            baseScreen[b] = ScreenOf(n);
        }
    });
    for (int32_t b = 0; b < nodeCount; ++b)
        if (baseUnder[static_cast<size_t>(b)]) {
            lassoNodes.push_back(b);
            denseUnder.push_back(baseNodes[static_cast<size_t>(b)]);
        }

    // A structure has a candidate at λ exactly when one of its nodes under the
    // lasso is above λ: its densest such node says up to which level it is searched.
    densestUnder.assign(static_cast<size_t>(structureCount), -std::numeric_limits<double>::infinity());
    for (int32_t b : lassoNodes)
        densestUnder[static_cast<size_t>(structureOf[static_cast<size_t>(b)])] =
            std::max(densestUnder[static_cast<size_t>(structureOf[static_cast<size_t>(b)])], baseDensity[static_cast<size_t>(b)]);
    int32_t levelCount = nodeCount > 0 ? 1 : 0;
    while (levelCount > 0 && levelCount < kLevels) {
        const double lk = std::ldexp(level, levelCount);
        if (!(lk > level)) break;  // a level of 0 (or below) does not rise
        bool any = false;
        for (double d : densestUnder) any = any || d - lk > 0.0;
        if (!any) break;  // nothing under the lasso this high, nor higher up
        ++levelCount;
    }
    // Every level's cores, claims and regions at once; they depend on the structures alone.
    if (levels.size() < static_cast<size_t>(kLevels)) levels.resize(static_cast<size_t>(kLevels));
    parallel::ForEachIndex(static_cast<size_t>(std::max(0, levelCount - 1)),
                           [&](size_t j) { SearchLevel(static_cast<int32_t>(j) + 1, std::ldexp(level, static_cast<int>(j) + 1)); });

    // The candidates in order, level by level and core by core; a structure
    // is scored once at the level itself, a core once with its outline.
    jobs.clear();
    candidateJob.clear();
    for (int32_t st = 0; levelCount > 0 && st < structureCount; ++st) {
        candidates.push_back(Candidate{0.0, 0.0, 0, 0, st});
        candidateJob.push_back(static_cast<int32_t>(jobs.size()));
        jobs.push_back(Job{st, -1, -1, Candidate{}});
    }
    for (int32_t k = 1; k < levelCount; ++k) {
        const LevelWork& w = levels[static_cast<size_t>(k)];
        for (int32_t core = 0; core < static_cast<int32_t>(w.coreStructure.size()); ++core) {
            if (!w.under[static_cast<size_t>(core)]) continue;
            candidates.push_back(Candidate{0.0, 0.0, 0, k, core});
            candidateJob.push_back(static_cast<int32_t>(jobs.size()));
            jobs.push_back(Job{w.coreStructure[static_cast<size_t>(core)], k, core, Candidate{}});
        }
    }
    parallel::ForEachIndex(jobs.size(), [&](size_t j) {
        Job& job = jobs[j];
        std::vector<uint64_t> bits(footprintBits.size(), 0);
        if (job.level < 0) {
            const int32_t first = structureStart[static_cast<size_t>(job.structure)];
            job.result = Score(static_cast<size_t>(structureStart[static_cast<size_t>(job.structure) + 1] - first), bits,
                               [&](size_t i, bool& inside) {
                                   inside = baseUnder[static_cast<size_t>(first) + i] != 0;
                                   return baseScreen[static_cast<size_t>(first) + i];
                               });
        } else {
            // The core and its region within OutlineSteps of it: in a
            // structure of several cores the claim's depths say which, and a
            // structure of one core, its region, is walked breadth first.
            const LevelWork& w = levels[static_cast<size_t>(job.level)];
            const int32_t coreFirst = w.coreStart[static_cast<size_t>(job.core)], coreLast = w.coreStart[static_cast<size_t>(job.core) + 1];
            const int32_t reach = OutlineSteps(static_cast<size_t>(coreLast - coreFirst));
            std::vector<int32_t> outline;
            if (w.coresIn[static_cast<size_t>(job.structure)] > 1) {
                for (int32_t r = w.regionStart[static_cast<size_t>(job.core)]; r < w.regionStart[static_cast<size_t>(job.core) + 1]; ++r) {
                    const int32_t b = w.region[static_cast<size_t>(r)];
                    if (w.depth[static_cast<size_t>(b)] <= reach) outline.push_back(b);
                }
            } else {
                outline.assign(w.coreNodes.begin() + coreFirst, w.coreNodes.begin() + coreLast);
                const int32_t sFirst = structureStart[static_cast<size_t>(job.structure)];
                std::vector<int32_t> steps(static_cast<size_t>(structureStart[static_cast<size_t>(job.structure) + 1] - sFirst), -1);
                for (int32_t b : outline) steps[static_cast<size_t>(b - sFirst)] = 0;
                for (size_t next = 0; next < outline.size(); ++next) {
                    const int32_t b = outline[next], d = steps[static_cast<size_t>(b - sFirst)];
                    if (d == reach) continue;
                    const int32_t* to = &neighbours[6 * static_cast<size_t>(b)];
                    for (int32_t f = 0; f < 6 && to[f] >= 0; ++f)
                        if (steps[static_cast<size_t>(to[f] - sFirst)] < 0) {
                            steps[static_cast<size_t>(to[f] - sFirst)] = d + 1;
                            outline.push_back(to[f]);
                        }
                }
            }
            job.result = Score(outline.size(), bits, [&](size_t i, bool& inside) {
                inside = baseUnder[static_cast<size_t>(outline[i])] != 0;
                return baseScreen[static_cast<size_t>(outline[i])];
            });
        }
    });
    for (size_t c = 0; c < candidates.size(); ++c) {
        const Candidate& r = jobs[static_cast<size_t>(candidateJob[c])].result;
        candidates[c].score = r.score;
        candidates[c].depth = r.depth;
        candidates[c].footprintCells = r.footprintCells;
    }
    Choose();
    if (chosen < 0) return;
    const Job& job = jobs[static_cast<size_t>(candidateJob[static_cast<size_t>(chosen)])];
    if (job.level < 0 || levels[static_cast<size_t>(job.level)].coresIn[static_cast<size_t>(job.structure)] == 1) {
        kept.assign(baseNodes.begin() + structureStart[static_cast<size_t>(job.structure)],
                    baseNodes.begin() + structureStart[static_cast<size_t>(job.structure) + 1]);
    } else {
        const LevelWork& w = levels[static_cast<size_t>(job.level)];
        for (int32_t j = w.regionStart[static_cast<size_t>(job.core)]; j < w.regionStart[static_cast<size_t>(job.core) + 1]; ++j)
            kept.push_back(baseNodes[static_cast<size_t>(w.region[static_cast<size_t>(j)])]);
    }
}

void StructureGeometry::SearchLevel(int32_t k, double lk)
{
    LevelWork& w = levels[static_cast<size_t>(k)];
    const int32_t nodeCount = static_cast<int32_t>(baseNodes.size());
    const int32_t structureCount = static_cast<int32_t>(structureStart.size()) - 1;
    w.coreOf.assign(static_cast<size_t>(nodeCount), -1);
    w.coreNodes.clear();
    w.coreStart.assign(1, 0);
    w.coreStructure.clear();
    w.edgeNodes.clear();
    w.edgeStart.assign(1, 0);
    w.coresIn.assign(static_cast<size_t>(structureCount), 0);
    w.firstCore.resize(static_cast<size_t>(structureCount));
    // The cores of the structures with a candidate here, grown in base order
    // as the plain search grows them.
    for (int32_t st = 0; st < structureCount; ++st) {
        if (!(densestUnder[static_cast<size_t>(st)] - lk > 0.0)) continue;
        for (int32_t seed = structureStart[static_cast<size_t>(st)]; seed < structureStart[static_cast<size_t>(st) + 1]; ++seed) {
            if (w.coreOf[static_cast<size_t>(seed)] >= 0 || !(baseDensity[static_cast<size_t>(seed)] - lk > 0.0)) continue;
            const int32_t label = static_cast<int32_t>(w.coreStructure.size());
            w.coreOf[static_cast<size_t>(seed)] = label;
            size_t next = w.coreNodes.size();
            w.coreNodes.push_back(seed);
            while (next < w.coreNodes.size()) {
                const int32_t n = w.coreNodes[next++];
                const int32_t* to = &neighbours[6 * static_cast<size_t>(n)];
                bool edge = false;
                for (int32_t f = 0; f < 6 && to[f] >= 0; ++f) {
                    const size_t m = static_cast<size_t>(to[f]);
                    if (!(baseDensity[m] - lk > 0.0)) {
                        edge = true;
                    } else if (w.coreOf[m] < 0) {
                        w.coreOf[m] = label;
                        w.coreNodes.push_back(to[f]);
                    }
                }
                // Only a core node beside a node outside every core can claim.
                if (edge) w.edgeNodes.push_back(n);
            }
            w.coreStart.push_back(static_cast<int32_t>(w.coreNodes.size()));
            w.edgeStart.push_back(static_cast<int32_t>(w.edgeNodes.size()));
            w.coreStructure.push_back(st);
            if (w.coresIn[static_cast<size_t>(st)]++ == 0) w.firstCore[static_cast<size_t>(st)] = label;
        }
    }
    const int32_t coreCount = static_cast<int32_t>(w.coreStructure.size());
    w.under.assign(static_cast<size_t>(coreCount), 0);
    for (int32_t b : lassoNodes)
        if (baseDensity[static_cast<size_t>(b)] - lk > 0.0) w.under[static_cast<size_t>(w.coreOf[static_cast<size_t>(b)])] = 1;

    // The claim in each structure of several cores: breadth first from the
    // cores' edges in label order, as GridComponents::Claim from all their nodes.
    w.claim.resize(static_cast<size_t>(nodeCount));
    w.depth.resize(static_cast<size_t>(nodeCount));
    w.regionStart.assign(static_cast<size_t>(coreCount) + 1, 0);
    for (int32_t st = 0; st < structureCount; ++st) {
        if (w.coresIn[static_cast<size_t>(st)] < 2) continue;
        const int32_t sFirst = structureStart[static_cast<size_t>(st)], sLast = structureStart[static_cast<size_t>(st) + 1];
        const int32_t c0 = w.firstCore[static_cast<size_t>(st)], c1 = c0 + w.coresIn[static_cast<size_t>(st)];
        for (int32_t b = sFirst; b < sLast; ++b) {
            w.claim[static_cast<size_t>(b)] = w.coreOf[static_cast<size_t>(b)];
            w.depth[static_cast<size_t>(b)] = w.coreOf[static_cast<size_t>(b)] >= 0 ? 0 : -1;
        }
        // Breadth first, so a node's depth is its distance to the core that
        // claims it, through nodes that core claims: what its outline reads.
        w.queue.assign(w.edgeNodes.begin() + w.edgeStart[static_cast<size_t>(c0)], w.edgeNodes.begin() + w.edgeStart[static_cast<size_t>(c1)]);
        for (size_t next = 0; next < w.queue.size(); ++next) {
            const int32_t from = w.queue[next], label = w.claim[static_cast<size_t>(from)];
            const int32_t* to = &neighbours[6 * static_cast<size_t>(from)];
            for (int32_t f = 0; f < 6 && to[f] >= 0; ++f)
                if (w.claim[static_cast<size_t>(to[f])] < 0) {
                    w.claim[static_cast<size_t>(to[f])] = label;
                    w.depth[static_cast<size_t>(to[f])] = w.depth[static_cast<size_t>(from)] + 1;
                    w.queue.push_back(to[f]);
                }
        }
        for (int32_t b = sFirst; b < sLast; ++b) ++w.regionStart[static_cast<size_t>(w.claim[static_cast<size_t>(b)]) + 1];
    }
    // The regions' nodes, region after region in base order (a counting sort by owner).
    for (size_t c = 1; c < w.regionStart.size(); ++c) w.regionStart[c] += w.regionStart[c - 1];
    w.region.resize(static_cast<size_t>(w.regionStart.back()));
    w.queue.assign(w.regionStart.begin(), w.regionStart.end() - 1);
    for (int32_t st = 0; st < structureCount; ++st) {
        if (w.coresIn[static_cast<size_t>(st)] < 2) continue;
        for (int32_t b = structureStart[static_cast<size_t>(st)]; b < structureStart[static_cast<size_t>(st) + 1]; ++b)
            w.region[static_cast<size_t>(w.queue[static_cast<size_t>(w.claim[static_cast<size_t>(b)])]++)] = b;
    }
}

void StructureGeometry::Choose()
{
    chosen = -1;
    double best = 0.0;
    for (const Candidate& c : candidates) best = std::max(best, c.score);
    for (int32_t k = 0; k < static_cast<int32_t>(candidates.size()); ++k) {
        const Candidate& c = candidates[static_cast<size_t>(k)];
        if (c.score < (1.0 - kScoreTie) * best) continue;
        if (chosen < 0 || c.depth < candidates[static_cast<size_t>(chosen)].depth) chosen = k;
    }
}

double StructureGeometry::GrowKept(double factor, double level, const std::vector<int32_t>& kept)
{
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    // ρ̄' from the nodes under the lasso: K's as they are, the other dense
    // ones at the mean of the thin ones. Nothing else dense, or nothing thin:
    // ℓ stays.
    double keptSum = 0.0, thinSum = 0.0;
    int64_t keptCount = 0;
    for (int32_t n : kept)
        if (s[static_cast<size_t>(n)] > 0.0) {
            keptSum += rho[static_cast<size_t>(n)];
            ++keptCount;
        }
    const int64_t denseCount = static_cast<int64_t>(denseUnder.size());
    // K holds every dense node under the lasso: no sign changes.
    everyDenseKept = denseCount == keptCount;
    if (everyDenseKept) return level;
    for (int32_t n : kept) {
        rimDistance[static_cast<size_t>(n)] = 0;
        rim.push_back(n);
    }
    const int64_t all = static_cast<int64_t>(underDensity.size()), thinCount = all - denseCount;
    if (thinCount == 0) return level;
    for (double r : underDensity)
        if (!(r - level > 0.0)) thinSum += r;
    const double lower = std::min(
        level, factor * (keptSum + thinSum / static_cast<double>(thinCount) * static_cast<double>(all - keptCount)) / static_cast<double>(all));
    if (!(lower < level)) return level;

    // The rim: nodes of ℓ' < ρ ≤ ℓ reached from K, with their distance to it;
    // the other dense nodes beside them start the others' distances.
    for (size_t next = 0; next < rim.size(); ++next) {
        const int32_t n = rim[next], d = rimDistance[static_cast<size_t>(n)];
        GridComponents::FaceNeighboursIn(xCount, yCount, zCount, n, [&](int32_t m) {
            const double r = rho[static_cast<size_t>(m)];
            if (r - level > 0.0) {
                if (d > 0 && rimDistance[static_cast<size_t>(m)] != 0 && otherDistance[static_cast<size_t>(m)] < 0) {
                    otherDistance[static_cast<size_t>(m)] = 0;
                    others.push_back(m);
                }
            } else if (r - lower > 0.0 && rimDistance[static_cast<size_t>(m)] < 0) {
                rimDistance[static_cast<size_t>(m)] = d + 1;
                rim.push_back(m);
            }
        });
    }
    // The others take only the rim nodes strictly nearer to them: a shortest
    // path to such a node runs through such nodes alone.
    for (size_t next = 0; next < others.size(); ++next) {
        const int32_t n = others[next], d = otherDistance[static_cast<size_t>(n)];
        GridComponents::FaceNeighboursIn(xCount, yCount, zCount, n, [&](int32_t m) {
            if (otherDistance[static_cast<size_t>(m)] < 0 && d + 1 < rimDistance[static_cast<size_t>(m)]) {
                otherDistance[static_cast<size_t>(m)] = d + 1;
                others.push_back(m);
            }
        });
    }
    return lower;
}

bool StructureGeometry::Kept(int32_t node) const
{
    const int32_t d = rimDistance[static_cast<size_t>(node)];
    return d == 0 || (d > 0 && otherDistance[static_cast<size_t>(node)] < 0);
}

bool StructureGeometry::UpdateThresholdLeavingMask(double factor)
{
    const double level = factor * meanDensity;
    if (compact.empty()) {
        compact.assign(densityField->values.size(), -1);
        rimDistance.assign(densityField->values.size(), -1);
        otherDistance.assign(densityField->values.size(), -1);
    }
    candidates.clear();
    denseUnder.clear();
    everyDenseKept = false;
    std::vector<int32_t> kept;
    const std::vector<double>& s = lassoField->values;
    const std::vector<double>& rho = densityField->values;
    std::vector<double>& out = field->values;
    // The density-aware field at ℓ is written beside the search, which reads
    // none of it; it is the field at ℓ' unless the kept structure grows.
    parallel::ForEachIndex(2, [&](size_t part) {
        if (part == 1) {
            for (size_t i = 0; i < out.size(); ++i) out[i] = std::min(s[i], rho[i] - level);
            return;
        }
        if (plainSearch) {
            for (size_t j = 0; j < underLasso.size(); ++j)
                if (underDensity[j] - level > 0.0) denseUnder.push_back(underLasso[j]);
            SearchPlain(level, kept);
        } else {
            SearchFast(level, kept);
        }
        keptLevel = chosen >= 0 ? GrowKept(factor, level, kept) : level;
    });

    // The density-aware field at ℓ', negative on every node not kept.
    if (keptLevel != level)
        for (size_t i = 0; i < out.size(); ++i) out[i] = std::min(s[i], rho[i] - keptLevel);
    // v' > 0 only under the lasso where ρ > ℓ': at ℓ' = ℓ the dense nodes found there.
    auto negate = [&](int32_t i) {
        double& v = out[static_cast<size_t>(i)];
        if (v > 0.0 && !Kept(i)) v = -v;
    };
    if (keptLevel == level) {
        if (!everyDenseKept)
            for (int32_t i : denseUnder) negate(i);
    }
    else
        for (size_t j = 0; j < underLasso.size(); ++j)
            if (underDensity[j] - keptLevel > 0.0) negate(underLasso[j]);
    for (int32_t n : rim) rimDistance[static_cast<size_t>(n)] = -1;
    for (int32_t n : others) otherDistance[static_cast<size_t>(n)] = -1;
    rim.clear();
    others.clear();

    field->ExtractIsoSurface(0.0);
    surface = field->surface;
    return true;
}

void StructureGeometry::ComputeMask()
{
    // Contains is the field test of the base, so the batched mask answers it.
    ComputeMaskFromField();
}
