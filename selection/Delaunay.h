#pragma once
// Delaunay: one run of Triangle on a closed polygon. In: the polygon's points
// in window coordinates (segment i joins point i and i+1, the last closes to
// point 0) and Triangle's switches. Out: `output`, Triangle's triangulation.
// Owns both records and every array in them.
//
// Triangle ends the process on an internal error, so the constructor refuses
// (std::invalid_argument) input it cannot handle: fewer than 3 points,
// non-finite coordinates, or repeated points.
#include <osg/Vec2f>

#include <string>
#include <vector>

struct triangulateio;

class Delaunay {
public:
    Delaunay(const std::vector<osg::Vec2f>& points, const std::string& switches);
    ~Delaunay();
    Delaunay(const Delaunay&) = delete;
    Delaunay& operator=(const Delaunay&) = delete;

    triangulateio* input;
    triangulateio* output;
};
