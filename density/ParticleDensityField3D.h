#pragma once
// ParticleDensityField3D: a ScalarField3D filled by adaptive kernel density
// estimation (Epanechnikov kernel, pilot estimate, per-particle bandwidths).
// In: particle positions in data coordinates, all strictly inside the grid.
// Out: values = estimated probability density per unit volume (each particle
// weighs 1/n). Cost: O(n · nodes per kernel support) twice, plus three
// quantile selections. Threads split the grid's planes among them; every node
// still sums its particles in their order, so results do not depend on them.
//
// This unit holds the estimator (bandwidth rule, pilot and adaptive passes,
// the split into slabs); KernelSplat adds one kernel to a slab, walking its
// rows with KernelRowWalks; SlabBalance places the slab borders.
#include "density/ScalarField3D.h"

#include <osg/Vec3f>
#include <vector>

class ParticleDensityField3D : public ScalarField3D {
public:
    ParticleDensityField3D(double xMin, double xMax, int xCount,
                           double yMin, double yMax, int yCount,
                           double zMin, double zMax, int zCount);

    // Fills the (all-zero) grid with the adaptive estimate of the positions.
    void ComputeDensity(const std::vector<osg::Vec3f>& positions);

    // The fixed bandwidth of the pilot estimate: per axis, the spread between
    // the sorted coordinates at ⌈0.2·n⌉ and ⌈0.8·n⌉ (0-based), doubled and
    // divided by ln n, as a float. An axis without spread gets its node step
    // (with a console line). False when no positive bandwidth exists: fewer
    // than 5 particles, or a grid flat on an axis (a console line names it).
    bool GlobalBandwidth(const std::vector<osg::Vec3f>& positions, osg::Vec3f& bandwidth) const;

    // In-place ascending quicksort with an explicit stack; always completes.
    static bool SortAscending(double* values, int count);
    // Adds one particle's kernel (1 − Q)/N to every node with Q ≤ 1.
    void SplatKernel(const osg::Vec3f& bandwidth, const osg::Vec3f& point, bool normalise);
    // Fixed-bandwidth estimate sampled at every particle; returns their mean.
    double PilotDensity(const osg::Vec3f& bandwidth, const std::vector<osg::Vec3f>& positions,
                        std::vector<double>& densities);
    void AdaptiveDensity(const osg::Vec3f& bandwidth, const std::vector<double>& densities,
                         double mean, const std::vector<osg::Vec3f>& positions);
    // Threads and vector width follow EngineSwitches::maxThreads and
    // simdLevel; results are the same for every setting.
};
