#include "density/ParticleDensityField3D.h"
// placeholder: the estimator is being written
ParticleDensityField3D::ParticleDensityField3D(double a, double b, int c, double d, double e, int f, double g, double h, int i)
    : ScalarField3D(a, b, c, d, e, f, g, h, i) {}
void ParticleDensityField3D::ComputeDensity(const std::vector<osg::Vec3f>&) {}
