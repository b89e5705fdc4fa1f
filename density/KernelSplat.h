#pragma once
// KernelSplat: one particle's Epanechnikov kernel added to the planes of one
// slab of a grid. In: the grid's layout, its values, the particle, its
// bandwidth per axis, whether the kernel is normalised (divided by
// N = hx·hy·hz) and the slab [firstPlane, endPlane). Out: (1 − Q)/N added to
// every node of the slab with Q = ux² + uy² + uz² ≤ 1, u the offset in
// bandwidths, bit for bit as the literal walk over the kernel's box adds it.
// Cost: a few operations per plane and row of the box, one square root per
// plane, the row walk per node written (KernelRowWalks).
//
// The planes and rows that cannot write are left out before the walk:
// every plane and row whose uy² + uz² exceeds 1 + 1e-6. Q along a row is
// uy² + uz² + ux² up to the walk's rounding errors, which stay far below that
// margin while the node spacing is at most kLiteralWalkMinSpacing bandwidths;
// narrower kernels list every row of their box and walk it literally.
#include "density/ExactQuotient.h"
#include "density/KernelRowWalks.h"
#include "density/ScalarField3D.h"

#include <osg/Vec3f>

#include <cmath>
#include <cstddef>
#include <vector>

namespace density {

inline bool UsableBandwidth(double h) { return h > 0.0 && std::isfinite(h); }

// What a kernel's bandwidth fixes: node spacing in bandwidth units, the
// divisor N and its reciprocal. Kept per thread for the last bandwidth seen,
// since the pilot estimate uses one bandwidth for all particles and many
// particles share the capped one.
struct KernelScale {
    osg::Vec3f bandwidth{0.0f, 0.0f, 0.0f};
    bool normalised = false;
    bool usable = false;
    double sx = 0.0, sy = 0.0, sz = 0.0, sx2 = 0.0, divisor = 1.0, reciprocal = 1.0;
    bool exactQuotient = false;  // divisor allows ExactQuotient
    KernelScale() = default;
    KernelScale(const ScalarField3D& f, const osg::Vec3f& h, bool normalise) : bandwidth(h), normalised(normalise)
    {
        const double hx = h.x(), hy = h.y(), hz = h.z();
        if (!UsableBandwidth(hx) || !UsableBandwidth(hy) || !UsableBandwidth(hz)) return;
        // A flat or non-finite grid has no nodes a kernel could reach one by one.
        sx = (f.xMax - f.xMin) / (hx * (f.xCount - 1));
        sy = (f.yMax - f.yMin) / (hy * (f.yCount - 1));
        sz = (f.zMax - f.zMin) / (hz * (f.zCount - 1));
        if (!UsableBandwidth(sx) || !UsableBandwidth(sy) || !UsableBandwidth(sz)) return;
        sx2 = sx * sx;
        divisor = normalise ? hx * hy * hz : 1.0;
        reciprocal = 1.0 / divisor;
        exactQuotient = QuotientWithoutDivision(divisor);
        usable = true;
    }
};

// Work space of one splatting thread, sized for the most rows a kernel can
// have in the planes it is given.
struct SplatScratch {
    std::vector<double*> rowStart;
    std::vector<double> rowQ0;
    std::vector<double> rowSums;
    std::vector<double> spareRow;
    std::vector<int> planeIndex;
    std::vector<double> planeUz2, planeReach;
    KernelScale scale;
    SplatScratch(int xCount, int yCount, int planes)
        : rowStart(static_cast<size_t>(yCount) * static_cast<size_t>(planes) + kMaxLanes),
          rowQ0(rowStart.size()),
          rowSums(static_cast<size_t>(yCount) + 4),
          spareRow(static_cast<size_t>(xCount) + 4),
          planeIndex(static_cast<size_t>(planes)),
          planeUz2(static_cast<size_t>(planes)),
          planeReach(static_cast<size_t>(planes))
    {
    }
};

// Adds one particle's kernel to the planes firstPlane ≤ iz < endPlane of the
// values v laid out as f's, so that threads owning disjoint slabs can splat
// the same particles in the same order. scratch is the thread's work space.
void SplatPlanes(const ScalarField3D& f, double* v, const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                 bool normalise, int firstPlane, int endPlane, SplatScratch& scratch);

// The planes [first, end) a kernel reaches, by the same chain of additions
// the splat walks; end == first when it reaches none.
struct PlaneRange {
    int first, end;
};
PlaneRange KernelPlanes(const ScalarField3D& f, float bandwidthZ, float pointZ);

}  // namespace density
