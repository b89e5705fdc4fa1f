#include "selection/Delaunay.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

extern "C" {
#include <triangle.h>
}

namespace {

triangulateio* allocateRecord()
{
    auto* r = static_cast<triangulateio*>(std::malloc(sizeof(triangulateio)));
    if (!r) throw std::bad_alloc();
    // Every list null and every count zero: Triangle allocates what it returns,
    // and the destructor frees exactly what is non-null.
    std::memset(r, 0, sizeof(triangulateio));
    return r;
}

void freeRecord(triangulateio* r, bool ownsHoleAndRegionLists)
{
    if (!r) return;
    std::free(r->pointlist);
    std::free(r->pointattributelist);
    std::free(r->pointmarkerlist);
    std::free(r->trianglelist);
    std::free(r->triangleattributelist);
    std::free(r->trianglearealist);
    std::free(r->neighborlist);
    std::free(r->segmentlist);
    std::free(r->segmentmarkerlist);
    std::free(r->edgelist);
    std::free(r->edgemarkerlist);
    std::free(r->normlist);
    // Triangle copies the input's hole and region pointers into the output;
    // they are freed once, with the input.
    if (ownsHoleAndRegionLists) {
        std::free(r->holelist);
        std::free(r->regionlist);
    }
    std::free(r);
}

}  // namespace

Delaunay::Delaunay(const std::vector<osg::Vec2f>& points, const std::string& switches)
    : input(nullptr), output(nullptr)
{
    const size_t n = points.size();
    if (n < 3) throw std::invalid_argument("a polygon needs at least 3 points");
    std::set<std::pair<float, float>> seen;
    for (const osg::Vec2f& p : points) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            throw std::invalid_argument("polygon point is not finite");
        if (!seen.insert({p.x(), p.y()}).second) throw std::invalid_argument("polygon has a repeated point");
    }

    input = allocateRecord();
    try {
        output = allocateRecord();
        input->pointlist = static_cast<REAL*>(std::malloc(2 * n * sizeof(REAL)));
        input->segmentlist = static_cast<int*>(std::malloc(2 * n * sizeof(int)));
        if (!input->pointlist || !input->segmentlist) throw std::bad_alloc();
    } catch (...) {
        freeRecord(output, false);
        freeRecord(input, true);
        throw;
    }
    input->numberofpoints = static_cast<int>(n);
    input->numberofpointattributes = 0;
    input->numberofsegments = static_cast<int>(n);
    input->numberofholes = 0;
    input->numberofregions = 0;
    for (size_t i = 0; i < n; ++i) {
        input->pointlist[2 * i] = points[i].x();
        input->pointlist[2 * i + 1] = points[i].y();
        input->segmentlist[2 * i] = static_cast<int>(i);
        input->segmentlist[2 * i + 1] = static_cast<int>(i + 1);
    }
    input->segmentlist[2 * n - 1] = 0;

    std::string sw = switches;  // Triangle takes a non-const string
    triangulate(&sw[0], input, output, nullptr);
}

Delaunay::~Delaunay()
{
    freeRecord(output, false);
    freeRecord(input, true);
}
