#pragma once
// BuiltInDatasets: the study's own particle clouds, so the program runs with no
// dataset files at all. Each is generated from a fixed seed by a generator and
// distributions implemented here (never the standard library's distributions),
// so the same name gives the same particles, bit for bit, on every machine
// with IEEE double arithmetic and the same libm.
//
// Every cloud holds dense structures inside sparse uniform background noise and
// labels each particle: 0 = background noise, 1.. = the structure it belongs to.
// Coordinates are data units, roughly within [-50, 50] on every axis.
//
//   "clusters"   300,000 particles: six Gaussian clusters of different sizes and
//                densities (labels 1..6), 15 % noise.
//   "disk"       250,000 particles: a thin, tilted disk with an exponential
//                radial profile (label 1) and a central bulge (label 2), 15 % noise.
//   "filaments"  200,000 particles: five curved filaments of different widths
//                (labels 1..5) meeting at a dense knot (label 6), 15 % noise.
#include <osg/Array>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>
#include <vector>

struct BuiltInDataset {
    std::string name;
    osg::ref_ptr<osg::Vec3Array> positions;
    std::vector<int> labels;  // one per particle
};

class BuiltInDatasets {
public:
    // The names in the order LoadBuiltIns adds them.
    static const std::vector<std::string>& Names();
    // Position of name in Names(), or -1 for an unknown name.
    static int Find(const std::string& name);
    // Generates the named cloud; particleCount 0 gives its standard size, any
    // other count the same mixture with that many particles. Returns false for
    // an unknown name (out is left empty).
    static bool Generate(const std::string& name, BuiltInDataset& out, size_t particleCount = 0);
};
