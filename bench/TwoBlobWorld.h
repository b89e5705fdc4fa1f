#pragma once
// The lasso benchmarks' world: particleCount particles uniform in the unit
// cube, a 64³ density field of two Gaussian blobs (one twice the other) and
// the camera looking at them; the lasso is the caller's. Cost: one pass over
// the particles and the grid.
#include "geometry/LassoProjection.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/SceneFixture.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

struct TwoBlobWorld {
    TwoBlobWorld(int particleCount, std::vector<osg::Vec2f> lassoPoints) : lasso(std::move(lassoPoints))
    {
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        osg::ref_ptr<osg::Vec3Array> particles = new osg::Vec3Array;
        particles->reserve(static_cast<size_t>(particleCount));
        for (int i = 0; i < particleCount; ++i) particles->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
        grid.reset(new HandDensityGrid(particles.get()));
        ScalarField3D& d = *grid->density;
        for (int iz = 0; iz < 64; ++iz)
            for (int iy = 0; iy < 64; ++iy)
                for (int ix = 0; ix < 64; ++ix) {
                    const osg::Vec3f p = LassoProjection::NodePosition(d, ix, iy, iz);
                    const double a = (p - osg::Vec3f(0.2f, 0.1f, 0)).length2(), b = (p - osg::Vec3f(-0.4f, -0.2f, 0.3f)).length2();
                    d.values[static_cast<size_t>(d.NodeIndex(ix, iy, iz))] = std::exp(-a / 0.05) + 0.5 * std::exp(-b / 0.02);
                }
        scene.reset(new SceneFixture(particles.get()));
        scene->LookAt(osg::Vec3d(1, 2, 6), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
        scene->PaintLassoImage(lasso);
    }
    std::vector<osg::Vec2f> lasso;
    std::unique_ptr<HandDensityGrid> grid;
    std::unique_ptr<SceneFixture> scene;
};
