#pragma once
// ParticleDensityField3D: a ScalarField3D filled by adaptive kernel density
// estimation (Epanechnikov kernel, pilot estimate, per-particle bandwidths).
// In: particle positions in data coordinates, all strictly inside the grid.
// Out: values = estimated probability density per unit volume (each particle
// weighs 1/n). Cost: O(n · nodes per kernel support) twice, plus three
// quantile selections. Threads split the grid's planes among them; every node
// still sums its particles in their order, so results do not depend on them.
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

    // In-place ascending quicksort with an explicit stack; always completes.
    static bool SortAscending(double* values, int count);
    // Adds one particle's kernel (1 − Q)/N to every node with Q ≤ 1.
    void SplatKernel(const osg::Vec3f& bandwidth, const osg::Vec3f& point, bool normalise);
    // Fixed-bandwidth estimate sampled at every particle; returns their mean.
    double PilotDensity(const osg::Vec3f& bandwidth, const std::vector<osg::Vec3f>& positions,
                        std::vector<double>& densities);
    void AdaptiveDensity(const osg::Vec3f& bandwidth, const std::vector<double>& densities,
                         double mean, const std::vector<osg::Vec3f>& positions);

    // Upper bound on the worker threads of the estimate (0: one per hardware
    // thread, the default). Results are the same for every setting; tests and
    // benchmarks use it to compare against a single thread.
    static void SetMaxThreads(int threads);
};
