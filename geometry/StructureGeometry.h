#pragma once
// StructureGeometry: the structure lasso. Of the dense structures that reach
// into the lasso's extrusion it keeps the one drawn around, and its field is
// the density-aware lasso's field on that structure's nodes and negative
// elsewhere, so extraction, surface and point test are the density-aware
// ones.
//
// For factor f (level ℓ = f·ρ̄, ρ̄ and the field v = min(s, ρ − ℓ) exactly as
// MarchingCubesGeometry has them):
//  - the structures at ℓ are the parts (GridComponents: six face neighbours)
//    of the nodes with ρ > ℓ, not clipped by the lasso, that hold a node
//    with v > 0. Droplets that their vapour joins at ℓ stand apart higher
//    up, so at λ = ℓ, 2ℓ, 4ℓ, ... (kLevels levels, fewer once nothing is
//    left) the cores are the parts of the nodes with ρ > λ in those
//    structures, and each core claims the nodes of its structure nearer to
//    it (in face steps within the structure) than to any other core there;
//  - the candidates are the cores with a node under the lasso above λ; a
//    candidate's score is the intersection over union, on screen, of its
//    region's footprint and the lasso image, both counted in square cells
//    over the lasso's bounding box grown by half its larger side on each
//    side (within the viewport), so a long structure counts only its stretch
//    near the lasso. The footprint is the union of one square per node, the
//    node's grid cell seen at its depth (half a grid step each side,
//    projected). A large structure's core at a high level may look like the
//    lasso; its region, the structure at ℓ, does not;
//  - the candidates within kScoreTie of the best score (relative) are about
//    equal, and of them the one whose region's nearest node with v > 0 is
//    nearest the viewer is kept (then the first scored: lower level first);
//  - the kept region's nodes keep v, every other node with v > 0 gets −v,
//    the rest keep v. With one structure under the lasso chosen at ℓ the
//    field is the density-aware one, bit for bit.
// Every re-threshold chooses again at its level.
//
// Cost over MarchingCubesGeometry per threshold: the structures grown from
// the nodes under the lasso, then per level their cores, the claim (a
// breadth-first pass over the structures) and one footprint square per node
// of the candidates' regions; two projections per node reached (kept for
// later thresholds); one int32 per grid node and level.
#include "geometry/MarchingCubesGeometry.h"

#include <cstdint>
#include <vector>

class StructureGeometry : public MarchingCubesGeometry {
public:
    // Structures whose score is at least (1 − kScoreTie) times the best are about equal.
    static constexpr double kScoreTie = 0.05;
    // Structures are looked for at the level and at kLevels − 1 doublings of it.
    static constexpr int32_t kLevels = 6;

    StructureGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                      const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix,
                      const LassoImage* image = nullptr);
    ~StructureGeometry() override;
    bool UpdateThresholdLeavingMask(double factor) override;
    void ComputeMask() override;

    // What the last threshold found, for the tests and the measurements:
    // every structure's score and nearest depth, and the one kept (−1: none).
    struct Candidate {
        double score;
        double depth;
        int64_t footprintCells;
        int32_t level;  // the doubling it was found at (0: the level itself)
        int32_t part;   // its core's label there
    };
    std::vector<Candidate> candidates;
    int32_t chosen;

private:
    // Window x, y, depth and half-size of a node's cell; depth NaN until
    // first needed.
    struct NodeScreen {
        float x, y, z, half;
    };
    const NodeScreen& Screen(int32_t node);
    // Score and depth of the region [first, last); stamp has one entry per raster cell.
    Candidate Score(const int32_t* first, const int32_t* last, std::vector<int32_t>& stamp);

    std::vector<NodeScreen> screen;
    std::vector<int32_t> underLasso;  // the nodes with s > 0, ascending
    double halfStepEye;               // half the longest grid step, in eye units
    // The score raster: its origin and cell size in window pixels, its size,
    // and which cells' centres lie on a lasso pixel.
    double rasterX0, rasterY0, cellSize;
    int32_t rasterColumns, rasterRows;
    std::vector<uint8_t> lassoCells;
    int64_t lassoCellCount;
};
