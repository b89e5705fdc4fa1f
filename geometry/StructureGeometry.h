#pragma once
// StructureGeometry: the structure lasso. Of the dense structures that reach
// into the lasso's extrusion it keeps the one drawn around, and its field is
// the density-aware lasso's field (at a level of its own) on that
// structure's nodes and negative elsewhere, so extraction, surface and point
// test are the density-aware ones.
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
//  - the candidates are the structures and the cores with a node under the
//    lasso above λ; a candidate's outline is the structure, or the core and
//    the nodes of its region within OutlineSteps face steps of it, two or
//    half the core's radius if more (what a core claims farther out is its
//    surroundings: seen through deep vapour, a region is mostly vapour, and
//    scored whole, a droplet behind or a ripple of the vapour can match the
//    lasso better than the droplet drawn around); its score is the
//    intersection over union, on screen, of its outline's footprint and the
//    lasso image, both counted in square cells
//    over the lasso's bounding box grown by half its larger side on each
//    side (within the viewport), so a long structure counts only its stretch
//    near the lasso. The footprint is the union of one square per node, the
//    node's grid cell seen at its depth (half a grid step each side,
//    projected). A large structure's core at a high level may look like the
//    lasso; its outline, the core with the rest near it, does not;
//  - the candidates within kScoreTie of the best score (relative) are about
//    equal, and of them the one whose outline's nearest node with v > 0 is
//    nearest the viewer is kept (then the first scored: lower level first),
//    with its whole region;
//  - the kept region K grows at a level of its own. ρ̄ counts the other
//    structures under the lasso, so it is higher than the density-aware
//    lasso would have on the kept structure alone, and a small target loses
//    its rim. ρ̄' is the mean under the lasso with every node of ρ > ℓ
//    outside K counted at the mean of the nodes of ρ ≤ ℓ there (the
//    surroundings the other structures displace), and ℓ' = f·ρ̄' ≤ ℓ. The
//    kept nodes are K and the nodes of ℓ' < ρ ≤ ℓ whose face-step distance,
//    through such nodes, to K is at most that to every other node of ρ > ℓ.
//    With nothing else dense under the lasso (or nothing thin), ℓ' = ℓ;
//  - the field is v' = min(s, ρ − ℓ') on the kept nodes; every other node
//    with v' > 0 gets −v', the rest keep v'. With one structure under the
//    lasso chosen at ℓ the field is the density-aware one, bit for bit.
// Every re-threshold chooses again at its level.
//
// Cost over MarchingCubesGeometry per threshold: the structures grown from
// the nodes under the lasso (each node's neighbours looked up once), then
// every level at once, one task each: the cores of the structures with a
// node under the lasso above it, a claim only where a structure holds
// several cores (from the cores' edges), each core's outline (breadth first
// from it) and one footprint square per node of each outline and
// structure, and the kept region's rim. The field at ℓ is written beside
// the search. Memory: about a dozen int32 per node of the structures and
// level, three int32 per grid node, and one float and four int16 per grid
// node for the squares (kept for later thresholds).
//
// plainSearch runs the rules as written (GridComponents at every level), the
// reference the differential test holds the fast search to.
#include "geometry/MarchingCubesGeometry.h"

#include <cstdint>
#include <vector>

class StructureGeometry : public MarchingCubesGeometry {
public:
    // Structures whose score is at least (1 − kScoreTie) times the best are about equal.
    static constexpr double kScoreTie = 0.05;
    // Structures are looked for at the level and at kLevels − 1 doublings of it.
    static constexpr int32_t kLevels = 6;
    // A core's outline on screen: it and its region within this many face
    // steps of it, or half the core's own radius (in grid steps, from its
    // node count as a ball) where that is more.
    static constexpr int32_t kOutlineSteps = 2;

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
        int32_t part;   // its core's label among the cores grown there
    };
    std::vector<Candidate> candidates;
    int32_t chosen;
    // ℓ' of the last threshold: the level the kept structure's field uses.
    double keptLevel;
    // The level search as the rules read, every structure claimed and scored
    // at every level, in one thread; the differential test holds the fast
    // search to it.
    bool plainSearch;

private:
    // A node's cell as the score raster sees it: its window depth (NaN until
    // first needed) and the raster cells its square covers, [c0, c1] × [r0, r1]
    // (empty when c0 > c1).
    struct NodeScreen {
        float z;
        int16_t c0, c1, r0, r1;
    };
    NodeScreen Project(int32_t node) const;
    // How far an outline reaches beyond a core of this many nodes.
    static int32_t OutlineSteps(size_t coreNodes);
    const NodeScreen& ScreenOf(int32_t node);
    // Score and depth of a region of count nodes; at(j) gives the j-th
    // node's NodeScreen and whether it is under the lasso.
    template <class At>
    Candidate Score(size_t count, std::vector<uint64_t>& footprintBits, At at) const;
    // Candidates at level ℓ, the choice, and the chosen region's grid nodes.
    void SearchPlain(double level, std::vector<int32_t>& kept);
    void SearchFast(double level, std::vector<int32_t>& kept);
    // The fast search's level k ≥ 1 (at λ = lk): its cores, claims and regions.
    void SearchLevel(int32_t k, double lk);
    void Choose();
    // ℓ' for region K (grid nodes); marks the kept nodes for Kept.
    double GrowKept(double factor, double level, const std::vector<int32_t>& kept);
    bool Kept(int32_t node) const;

    std::vector<NodeScreen> screen;
    std::vector<int32_t> underLasso;    // the nodes with s > 0, ascending
    std::vector<double> underDensity;   // their densities, in that order
    double halfStepEye;                 // half the longest grid step, in eye units
    // The score raster: its origin and cell size in window pixels, its size,
    // and which cells' centres lie on a lasso pixel (one bit per cell, rows
    // of rasterWords words); a footprint is drawn in footprintBits.
    double rasterX0, rasterY0, cellSize;
    int32_t rasterColumns, rasterRows, rasterWords;
    std::vector<uint64_t> lassoBits, footprintBits;
    int64_t lassoCellCount;

    // Work space kept between thresholds (all −1 between them): per grid
    // node, its index among the structures' nodes, and the kept region's
    // rim distances (0 on K) and the other structures' ones.
    std::vector<int32_t> compact, rimDistance, otherDistance;
    std::vector<int32_t> rim, others;  // the nodes those two reach
    std::vector<int32_t> denseUnder;   // the nodes under the lasso with ρ > ℓ
    bool everyDenseKept;               // whether K holds all of them

    // The fast search's structures, each node by its index in growth order:
    // its grid node, structure, density and neighbours (six, −1 padded), and
    // those under the lasso; where each structure starts.
    std::vector<int32_t> baseNodes, structureOf, neighbours, lassoNodes, structureStart;
    std::vector<double> baseDensity;
    std::vector<NodeScreen> baseScreen;
    std::vector<uint8_t> baseUnder;
    struct Coordinates {
        int32_t x, y, z;
    };
    std::vector<Coordinates> baseCoordinates;
    // Per structure: the density of its densest node under the lasso.
    std::vector<double> densestUnder;
    // One level's work, each level on its own: every node's core (−1 outside
    // the cores) and claim; the cores' nodes, edges (nodes beside a node
    // outside every core) and where each core's start, and its structure;
    // per structure its cores and the first; per core whether it is under
    // the lasso and where its region starts in region; every claimed node's
    // distance to its core.
    struct LevelWork {
        std::vector<int32_t> coreOf, claim, depth, coreNodes, coreStart, edgeNodes, edgeStart, coreStructure;
        std::vector<int32_t> coresIn, firstCore, regionStart, region, queue;
        std::vector<uint8_t> under;
    };
    std::vector<LevelWork> levels;
    // What to score: a whole structure (level −1) or a core's outline at a
    // level, and each candidate's one.
    struct Job {
        int32_t structure, level, core;
        Candidate result;
    };
    std::vector<Job> jobs;
    std::vector<int32_t> candidateJob;
};
