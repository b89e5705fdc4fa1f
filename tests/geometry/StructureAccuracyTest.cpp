// How well the structure lasso and the point click select what a participant
// means, against the density-aware and cylinder lassos: droplets at liquid
// density in a vapour of 1/20 of it, several on the line of sight; a cluster
// in noise; the filaments' knot; and a snapshot of Lennard-Jones droplets
// condensed from their vapour (examples/droplets). The lasso is the convex
// outline of the target's projection pushed 4 pixels out; the click is at the
// projection of its centre. Prints one table row per scene and technique.
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/DatasetFile.h"
#include "geometry/CylinderGeometry.h"
#include "geometry/PointGeometry.h"
#include "geometry/StructureGeometry.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

struct Score {
    double precision, recall, f1;
};

Score Compare(const std::vector<bool>& mask, const std::vector<bool>& target)
{
    double tp = 0, fp = 0, fn = 0;
    for (size_t i = 0; i < target.size(); ++i) {
        tp += mask[i] && target[i];
        fp += mask[i] && !target[i];
        fn += !mask[i] && target[i];
    }
    const double p = tp + fp > 0 ? tp / (tp + fp) : 0.0, r = tp + fn > 0 ? tp / (tp + fn) : 0.0;
    return Score{p, r, p + r > 0 ? 2 * p * r / (p + r) : 0.0};
}

// Convex hull (counter-clockwise) of the target's projection, each corner
// pushed 4 pixels away from the hull's centre.
std::vector<osg::Vec2f> CarefulLasso(const SceneFixture& scene, const osg::Vec3Array& cloud, const std::vector<bool>& target)
{
    std::vector<osg::Vec2d> p;
    for (size_t i = 0; i < cloud.size(); ++i)
        if (target[i]) {
            const osg::Vec3d w = scene.Project(cloud[i]);
            p.push_back(osg::Vec2d(w.x(), w.y()));
        }
    std::sort(p.begin(), p.end(), [](const osg::Vec2d& a, const osg::Vec2d& b) { return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y()); });
    auto cross = [](const osg::Vec2d& o, const osg::Vec2d& a, const osg::Vec2d& b) {
        return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    std::vector<osg::Vec2d> hull(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p[i]) <= 0) --k;
        hull[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], p[i - 1]) <= 0) --k;
        hull[k++] = p[i - 1];
    }
    hull.resize(k - 1);
    osg::Vec2d centre;
    for (const osg::Vec2d& h : hull) centre += h;
    centre /= static_cast<double>(hull.size());
    std::vector<osg::Vec2f> lasso;
    for (const osg::Vec2d& h : hull) {
        osg::Vec2d out = h - centre;
        out.normalize();
        lasso.push_back(osg::Vec2f(h + out * 4.0));
    }
    return lasso;
}

struct Row {
    std::string scene;
    double nodes;  // the target's largest extent in grid steps
    std::map<std::string, Score> scores;
};

// Every technique on one cloud and target, seen from eye towards centre.
Row Measure(const std::string& name, osg::Vec3Array* cloud, const std::vector<bool>& target, const osg::Vec3d& eye,
            const osg::Vec3d& centre)
{
    DatasetFixture data(cloud);
    SceneFixture scene(cloud);
    scene.LookAt(eye, centre, osg::Vec3d(0, 1, 0), 30.0, 1.0, 1000.0);
    Row row{name, 0.0, {}};
    osg::Vec3d low(1e30, 1e30, 1e30), high(-1e30, -1e30, -1e30), mean;
    double count = 0;
    for (size_t i = 0; i < cloud->size(); ++i)
        if (target[i])
            for (int a = 0; a < 3; ++a) {
                low[a] = std::min(low[a], static_cast<double>((*cloud)[i][a]));
                high[a] = std::max(high[a], static_cast<double>((*cloud)[i][a]));
                mean[a] += (*cloud)[i][a];
                count += a == 0;
            }
    mean /= count;
    const double steps[3] = {data.density->xStep, data.density->yStep, data.density->zStep};
    for (int a = 0; a < 3; ++a) row.nodes = std::max(row.nodes, (high[a] - low[a]) / steps[a]);

    const std::vector<osg::Vec2f> lasso = CarefulLasso(scene, *cloud, target);
    scene.PaintLassoImage(lasso);
    StructureGeometry structure(cloud, scene.viewer.get(), lasso, osg::Matrixf());
    structure.UpdateThreshold(1.0);
    row.scores["structure"] = Compare(structure.mask, target);
    MarchingCubesGeometry density(cloud, scene.viewer.get(), lasso, osg::Matrixf());
    density.UpdateThreshold(1.0);
    row.scores["density"] = Compare(density.mask, target);
    CylinderGeometry cylinder(cloud, scene.viewer.get(), lasso, osg::Matrixf());
    row.scores["cylinder"] = Compare(cylinder.mask, target);
    const osg::Vec3d click = scene.Project(mean);
    PointGeometry point(cloud, scene.viewer.get(), osg::Vec2f(static_cast<float>(click.x()), static_cast<float>(click.y())),
                        osg::Matrixf());
    point.UpdateThreshold(1.0);
    row.scores["point"] = Compare(point.mask, target);
    for (const auto& s : row.scores)
        std::printf("| %s | %.0f | %s | %.3f | %.3f | %.3f |\n", name.c_str(), row.nodes, s.first.c_str(),
                    s.second.precision, s.second.recall, s.second.f1);
    return row;
}

struct Droplet {
    osg::Vec3f centre;
    float radius;
};

// Uniform vapour of 0.05 particles per unit volume in [-25, 25]³ and droplets
// of 1 per unit volume; droplet 0 is the target. Without others, only the
// target and the vapour.
osg::ref_ptr<osg::Vec3Array> Droplets(const std::vector<Droplet>& droplets, bool others, std::vector<bool>& target)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    target.clear();
    for (int i = 0; i < 6250; ++i) {
        cloud->push_back(osg::Vec3f(25 * u(rng), 25 * u(rng), 25 * u(rng)));
        target.push_back(false);
    }
    for (size_t d = 0; d < (others ? droplets.size() : 1); ++d) {
        const Droplet& drop = droplets[d];
        const int n = static_cast<int>(4.18879 * drop.radius * drop.radius * drop.radius);
        for (int i = 0; i < n;) {
            const osg::Vec3f r(u(rng), u(rng), u(rng));
            if (r.length2() > 1.0f) continue;
            cloud->push_back(drop.centre + r * drop.radius);
            target.push_back(d == 0);
            ++i;
        }
    }
    return cloud;
}

// Droplets of the LAMMPS snapshot: particles with at least 5 others within
// 1.5 σ, joined within 1.5 σ; parts of at least 100 particles, largest first.
std::vector<std::vector<int>> SnapshotDroplets(const osg::Vec3Array& cloud)
{
    const float reach = 1.5f;
    std::map<std::tuple<int, int, int>, std::vector<int>> cells;
    auto cellOf = [reach](const osg::Vec3f& p) {
        return std::make_tuple(static_cast<int>(std::floor(p.x() / reach)), static_cast<int>(std::floor(p.y() / reach)),
                               static_cast<int>(std::floor(p.z() / reach)));
    };
    for (size_t i = 0; i < cloud.size(); ++i) cells[cellOf(cloud[i])].push_back(static_cast<int>(i));
    auto near = [&](int i, const std::function<void(int)>& each) {
        const auto c = cellOf(cloud[static_cast<size_t>(i)]);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz) {
                    auto it = cells.find(std::make_tuple(std::get<0>(c) + dx, std::get<1>(c) + dy, std::get<2>(c) + dz));
                    if (it == cells.end()) continue;
                    for (int j : it->second)
                        if (j != i && (cloud[static_cast<size_t>(j)] - cloud[static_cast<size_t>(i)]).length() < reach) each(j);
                }
    };
    std::vector<bool> liquid(cloud.size());
    for (size_t i = 0; i < cloud.size(); ++i) {
        int n = 0;
        near(static_cast<int>(i), [&n](int) { ++n; });
        liquid[i] = n >= 5;
    }
    std::vector<int> part(cloud.size(), -1);
    std::vector<std::vector<int>> droplets;
    for (size_t s = 0; s < cloud.size(); ++s) {
        if (!liquid[s] || part[s] >= 0) continue;
        std::vector<int> members{static_cast<int>(s)};
        part[s] = 1;
        for (size_t k = 0; k < members.size(); ++k)
            near(members[k], [&](int j) {
                if (liquid[static_cast<size_t>(j)] && part[static_cast<size_t>(j)] < 0) {
                    part[static_cast<size_t>(j)] = 1;
                    members.push_back(j);
                }
            });
        if (members.size() >= 100) droplets.push_back(members);
    }
    std::sort(droplets.begin(), droplets.end(), [](const std::vector<int>& a, const std::vector<int>& b) { return a.size() > b.size(); });
    return droplets;
}

}  // namespace

// The structure lasso at every threshold of a drag: the fast search against
// the plain one and against a volume built afresh at that threshold, field,
// mask and candidates alike, bit for bit.
static void ExpectEveryThresholdAsBuiltAfresh(const std::string& name, osg::Vec3Array* cloud, const std::vector<bool>& target,
                                       const osg::Vec3d& eye, const osg::Vec3d& centre)
{
    DatasetFixture data(cloud);
    SceneFixture scene(cloud);
    scene.LookAt(eye, centre, osg::Vec3d(0, 1, 0), 30.0, 1.0, 1000.0);
    const std::vector<osg::Vec2f> lasso = CarefulLasso(scene, *cloud, target);
    scene.PaintLassoImage(lasso);
    StructureGeometry dragged(cloud, scene.viewer.get(), lasso, osg::Matrixf());
    int grown = 0;
    for (double factor : {1.0, 0.6, 1.7, 3.0, 1.0, 0.35, 6.0}) {
        dragged.UpdateThreshold(factor);
        StructureGeometry fresh(cloud, scene.viewer.get(), lasso, osg::Matrixf());
        fresh.UpdateThreshold(factor);
        StructureGeometry plain(cloud, scene.viewer.get(), lasso, osg::Matrixf());
        plain.plainSearch = true;
        plain.UpdateThreshold(factor);
        const std::string at = name + " at " + std::to_string(factor);
        for (const StructureGeometry* other : {&fresh, &plain}) {
            ASSERT_EQ(dragged.candidates.size(), other->candidates.size()) << at;
            for (size_t c = 0; c < dragged.candidates.size(); ++c) {
                EXPECT_EQ(dragged.candidates[c].score, other->candidates[c].score) << at;
                EXPECT_EQ(dragged.candidates[c].depth, other->candidates[c].depth) << at;
                EXPECT_EQ(dragged.candidates[c].footprintCells, other->candidates[c].footprintCells) << at;
                EXPECT_EQ(dragged.candidates[c].level, other->candidates[c].level) << at;
            }
            EXPECT_EQ(dragged.chosen, other->chosen) << at;
            EXPECT_EQ(dragged.keptLevel, other->keptLevel) << at;
            EXPECT_TRUE(dragged.field->values == other->field->values) << at;
            EXPECT_TRUE(dragged.mask == other->mask) << at;
        }
        grown += dragged.keptLevel < factor * dragged.meanDensity;
    }
    // The drags go through thresholds where the kept structure grows at a level of its own.
    EXPECT_GT(grown, 0) << name;
}

// Per atom, the droplet it belongs to (−1: the vapour's).
std::vector<int> Owners(const std::vector<std::vector<int>>& droplets, size_t atoms)
{
    std::vector<int> owner(atoms, -1);
    for (size_t d = 0; d < droplets.size(); ++d)
        for (int i : droplets[d]) owner[static_cast<size_t>(i)] = static_cast<int>(d);
    return owner;
}

// Droplet d alone: the atoms of every other droplet removed, the vapour kept.
Row MeasureAlone(const std::string& name, const osg::Vec3Array& cloud, const std::vector<int>& owner, size_t d,
                 const std::vector<bool>& target, const osg::Vec3d& eye, const osg::Vec3d& centre)
{
    osg::ref_ptr<osg::Vec3Array> single = new osg::Vec3Array;
    std::vector<bool> alone;
    for (size_t i = 0; i < cloud.size(); ++i)
        if (owner[i] < 0 || owner[i] == static_cast<int>(d)) {
            single->push_back(cloud[i]);
            alone.push_back(target[i]);
        }
    return Measure(name + " (alone)", single.get(), alone, eye, centre);
}

// The LJ snapshot's periodic box tiled 2×2×2 (160 σ a side, 240 000 atoms),
// each tile turned by another symmetry of the cube so that no droplet repeats
// on a line: twice as many droplets on every line of sight, each about 4 grid
// steps across, seen through 160 σ of vapour.
osg::ref_ptr<osg::Vec3Array> DeepBox(const std::vector<osg::Vec3f>& box)
{
    const float side = 80.0f;
    const int axes[8][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {1, 0, 2}, {0, 2, 1}, {2, 1, 0}, {1, 2, 0}, {2, 0, 1}};
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (int t = 0; t < 8; ++t)
        for (const osg::Vec3f& q : box) {
            osg::Vec3f p(q[axes[t][0]], q[axes[t][1]], q[axes[t][2]]);
            const int flips = t < 6 ? t : t - 5;
            for (int a = 0; a < 3; ++a)
                if ((flips >> a) & 1) p[a] = side - p[a];
            cloud->push_back(p + osg::Vec3f(side * static_cast<float>(t >> 2), side * static_cast<float>((t >> 1) & 1),
                                            side * static_cast<float>(t & 1)));
        }
    return cloud;
}

TEST(StructureAccuracyTest, EveryThresholdOfADragIsTheVolumeBuiltAfresh)
{
    const std::vector<std::vector<Droplet>> scenes = {
        {{{0, 0, 8}, 4}, {{0, 1, -6}, 8}, {{6, -5, 18}, 4}},
        {{{0, 0, 0}, 3}, {{0, 0, 10}, 4}, {{1, 0, -9}, 4}, {{-4, 3, 18}, 3}, {{4, -3, -18}, 5}},
        // Two droplets close enough that their vapour joins them into one structure.
        {{{0, 0, 0}, 5}, {{3, 2, -9}, 5}, {{-2, 0, 12}, 6}},
    };
    for (size_t k = 0; k < scenes.size(); ++k) {
        std::vector<bool> target;
        osg::ref_ptr<osg::Vec3Array> cloud = Droplets(scenes[k], true, target);
        ExpectEveryThresholdAsBuiltAfresh("droplet scene " + std::to_string(k), cloud.get(), target, osg::Vec3d(0, 0, 90),
                                          osg::Vec3d(0, 0, 0));
    }
    std::vector<osg::Vec3f> positions;
    std::string error;
    ASSERT_TRUE(DatasetFile::Read(std::string(TRELLAN_EXAMPLES) + "/droplets/droplets.xyz", positions, error)) << error;
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array(positions.begin(), positions.end());
    const std::vector<std::vector<int>> droplets = SnapshotDroplets(*cloud);
    ASSERT_FALSE(droplets.empty());
    std::vector<bool> target(cloud->size());
    for (int i : droplets[0]) target[static_cast<size_t>(i)] = true;
    ExpectEveryThresholdAsBuiltAfresh("LJ droplet 1", cloud.get(), target, osg::Vec3d(40, 40, 260), osg::Vec3d(40, 40, 40));

    osg::ref_ptr<osg::Vec3Array> deep = DeepBox(positions);
    const std::vector<std::vector<int>> deepDroplets = SnapshotDroplets(*deep);
    ASSERT_FALSE(deepDroplets.empty());
    std::vector<bool> deepTarget(deep->size());
    for (int i : deepDroplets[0]) deepTarget[static_cast<size_t>(i)] = true;
    ExpectEveryThresholdAsBuiltAfresh("deep box droplet 1", deep.get(), deepTarget, osg::Vec3d(80, 80, 600),
                                      osg::Vec3d(80, 80, 80));
}

TEST(StructureAccuracyTest, DropletsOnTheLineOfSight)
{
    // Seen from +z; the target at the origin, others in front and behind,
    // straight on the ray and off it.
    struct Case {
        std::string name;
        std::vector<Droplet> droplets;
    };
    const std::vector<Case> cases = {
        {"droplets, target r=6 between two", {{{0, 0, 0}, 6}, {{1, 1, 13}, 5}, {{-1, 0, -15}, 7}, {{9, 4, 8}, 5}, {{-8, -6, -8}, 6}}},
        {"droplets, target r=4 before a large one", {{{0, 0, 8}, 4}, {{0, 1, -6}, 8}, {{6, -5, 18}, 4}}},
        {"droplets, target r=7 behind two", {{{0, 0, -12}, 7}, {{2, 0, 3}, 4}, {{-3, 2, 14}, 5}}},
        {"droplets, target r=3 among four", {{{0, 0, 0}, 3}, {{0, 0, 10}, 4}, {{1, 0, -9}, 4}, {{-4, 3, 18}, 3}, {{4, -3, -18}, 5}}},
        {"droplets, target r=4 between two", {{{0, 0, 0}, 4}, {{1, -1, 12}, 5}, {{-1, 1, -12}, 6}}},
        {"droplets, target r=4.5 behind a large one", {{{0, 0, -10}, 4.5f}, {{1, 0, 5}, 7}, {{-5, 4, 15}, 4}}},
        {"droplets, target r=4 half before a large one", {{{2, 0, 4}, 4}, {{-6, 1, -8}, 7}, {{6, 6, -15}, 5}}},
    };
    for (const Case& c : cases) {
        std::vector<bool> target, alone;
        osg::ref_ptr<osg::Vec3Array> cloud = Droplets(c.droplets, true, target);
        const Row row = Measure(c.name, cloud.get(), target, osg::Vec3d(0, 0, 90), osg::Vec3d(0, 0, 0));
        osg::ref_ptr<osg::Vec3Array> single = Droplets(c.droplets, false, alone);
        const Row isolated = Measure(c.name + " (alone)", single.get(), alone, osg::Vec3d(0, 0, 90), osg::Vec3d(0, 0, 0));
        const double f1 = row.scores.at("structure").f1;
        EXPECT_GE(f1, 0.95 * isolated.scores.at("density").f1) << c.name;
        if (row.nodes >= 8) {
            EXPECT_GE(f1, 0.9) << c.name;
            EXPECT_GE(f1, row.scores.at("density").f1 + 0.15) << c.name;
        }
    }
}

TEST(StructureAccuracyTest, ClusterInNoiseAndTheFilamentsKnot)
{
    std::vector<int> labels;
    osg::ref_ptr<osg::Vec3Array> cloud = DatasetFixture::BlobInNoise(5000, 20000, 3, &labels);
    std::vector<bool> target(labels.size());
    for (size_t i = 0; i < labels.size(); ++i) target[i] = labels[i] == 1;
    const Row row = Measure("cluster in noise", cloud.get(), target, osg::Vec3d(0, 0, 30), osg::Vec3d(0, 0, 0));
    EXPECT_GE(row.scores.at("structure").f1, row.scores.at("density").f1);
    EXPECT_GE(row.scores.at("point").f1, 0.9);

    BuiltInDataset filaments;
    ASSERT_TRUE(BuiltInDatasets::Generate("filaments", filaments, 60000));
    std::vector<bool> knot(filaments.labels.size());
    for (size_t i = 0; i < knot.size(); ++i) knot[i] = filaments.labels[i] == 6;
    Measure("filaments' knot", filaments.positions.get(), knot, osg::Vec3d(0, 0, 200), osg::Vec3d(0, 0, 0));
}

TEST(StructureAccuracyTest, LennardJonesDropletsSnapshot)
{
    std::vector<osg::Vec3f> positions;
    std::string error;
    ASSERT_TRUE(DatasetFile::Read(std::string(TRELLAN_EXAMPLES) + "/droplets/droplets.xyz", positions, error)) << error;
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array(positions.begin(), positions.end());
    const std::vector<std::vector<int>> droplets = SnapshotDroplets(*cloud);
    ASSERT_GE(droplets.size(), 3u);
    const std::vector<int> owner = Owners(droplets, cloud->size());
    std::map<std::string, double> sum;
    for (size_t d = 0; d < std::min<size_t>(droplets.size(), 4); ++d) {
        const std::string name = "LJ droplet " + std::to_string(d + 1) + " (" + std::to_string(droplets[d].size()) + ")";
        std::vector<bool> target(cloud->size());
        for (int i : droplets[d]) target[static_cast<size_t>(i)] = true;
        const Row row = Measure(name, cloud.get(), target, osg::Vec3d(40, 40, 260), osg::Vec3d(40, 40, 40));
        for (const auto& s : row.scores) sum[s.first] += s.second.f1;
        const Row isolated = MeasureAlone(name, *cloud, owner, d, target, osg::Vec3d(40, 40, 260), osg::Vec3d(40, 40, 40));
        EXPECT_GE(row.scores.at("structure").f1, 0.95 * isolated.scores.at("density").f1) << name;
        // Nothing else on the ray: the click takes the droplet, not the vapour's ripples around it.
        EXPECT_GE(isolated.scores.at("point").f1, 0.8) << name;
    }
    // Over the four largest droplets, the structure lasso beats the density-aware one.
    EXPECT_GT(sum["structure"], sum["density"]);
}

TEST(StructureAccuracyTest, DropletsThroughADeepBox)
{
    std::vector<osg::Vec3f> positions;
    std::string error;
    ASSERT_TRUE(DatasetFile::Read(std::string(TRELLAN_EXAMPLES) + "/droplets/droplets.xyz", positions, error)) << error;
    osg::ref_ptr<osg::Vec3Array> cloud = DeepBox(positions);
    const std::vector<std::vector<int>> droplets = SnapshotDroplets(*cloud);
    const std::vector<int> owner = Owners(droplets, cloud->size());
    // The sixteen first droplets of 140 atoms or more, seen from +z.
    int measured = 0, nearAlone = 0;
    double structureSum = 0.0, densitySum = 0.0;
    for (size_t d = 0; d < droplets.size() && measured < 16; ++d) {
        if (droplets[d].size() < 140) continue;
        ++measured;
        const std::string name = "deep box droplet " + std::to_string(measured) + " (" + std::to_string(droplets[d].size()) + ")";
        std::vector<bool> target(cloud->size());
        for (int i : droplets[d]) target[static_cast<size_t>(i)] = true;
        const Row row = Measure(name, cloud.get(), target, osg::Vec3d(80, 80, 600), osg::Vec3d(80, 80, 80));
        const Row isolated = MeasureAlone(name, *cloud, owner, d, target, osg::Vec3d(80, 80, 600), osg::Vec3d(80, 80, 80));
        nearAlone += row.scores.at("structure").f1 >= 0.95 * isolated.scores.at("density").f1;
        structureSum += row.scores.at("structure").f1;
        densitySum += row.scores.at("density").f1;
    }
    ASSERT_EQ(measured, 16);
    // Through this much vapour a core's whole region is mostly vapour; scored
    // on its outline, the droplet drawn around is the one kept.
    EXPECT_GE(nearAlone, 12);
    EXPECT_GT(structureSum, densitySum);
}

TEST(StructureAccuracyTest, LennardJonesDropletsFromFourMoreViews)
{
    std::vector<osg::Vec3f> positions;
    std::string error;
    ASSERT_TRUE(DatasetFile::Read(std::string(TRELLAN_EXAMPLES) + "/droplets/droplets.xyz", positions, error)) << error;
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array(positions.begin(), positions.end());
    const std::vector<std::vector<int>> droplets = SnapshotDroplets(*cloud);
    ASSERT_GE(droplets.size(), 6u);
    const std::vector<int> owner = Owners(droplets, cloud->size());
    // Along x and y, and two oblique views: each puts other droplets behind other targets.
    const osg::Vec3d centre(40, 40, 40);
    const osg::Vec3d eyes[] = {centre + osg::Vec3d(220, 0, 0), centre + osg::Vec3d(0, 220, 0.1),
                               centre + osg::Vec3d(130, 130, 110), centre + osg::Vec3d(-150, 60, -140)};
    double structureSum = 0.0, densitySum = 0.0;
    for (size_t e = 0; e < 4; ++e)
        for (size_t d = 0; d < 6; ++d) {
            const std::string name = "LJ droplet " + std::to_string(d + 1) + ", view " + std::to_string(e + 1);
            std::vector<bool> target(cloud->size());
            for (int i : droplets[d]) target[static_cast<size_t>(i)] = true;
            const Row row = Measure(name, cloud.get(), target, eyes[e], centre);
            const Row isolated = MeasureAlone(name, *cloud, owner, d, target, eyes[e], centre);
            // A whole region, or an outline of the core's whole radius, keeps a droplet behind here.
            EXPECT_GE(row.scores.at("structure").f1, 0.95 * isolated.scores.at("density").f1) << name;
            structureSum += row.scores.at("structure").f1;
            densitySum += row.scores.at("density").f1;
        }
    EXPECT_GT(structureSum, densitySum);
}
