#pragma once
// A one-dataset study: the given particles become dataset 0 of the dataset
// manager, the current trial shows dataset 0, and the density cache holds its
// 64³ field. The destructor tears the density cache and the dataset manager
// down again, so every test starts from empty singletons.
#include "density/ParticleDensityField3D.h"

#include <boost/shared_ptr.hpp>
#include <osg/Array>
#include <osg/ref_ptr>

#include <vector>

struct DatasetFixture {
    // Any dataset and density left by an earlier test is discarded first.
    explicit DatasetFixture(osg::Vec3Array* particles, const std::vector<int>& labels = {});
    ~DatasetFixture();
    DatasetFixture(const DatasetFixture&) = delete;
    DatasetFixture& operator=(const DatasetFixture&) = delete;

    // A dense ball of blobCount particles (radius 1 around the origin) inside
    // noiseCount particles spread uniformly over the cube [-5, 5]³; the same
    // seed always gives the same cloud. Labels: 1 for the ball, 0 for noise.
    static osg::ref_ptr<osg::Vec3Array> BlobInNoise(int blobCount, int noiseCount, unsigned seed = 1,
                                                    std::vector<int>* labels = nullptr);

    osg::ref_ptr<osg::Vec3Array> particles;
    // The field of dataset 0 as the density cache holds it.
    boost::shared_ptr<ParticleDensityField3D> density;
};
