#include "geometry/LassoProjection.h"

#include "density/EngineSwitches.h"
#include "density/ParallelParts.h"
#include "density/SharedCpuFeatures.h"
#include "geometry/LassoImage.h"

#include <osg/Camera>
#include <osg/Group>

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>


namespace {

// The AVX2 paths run where the processor and the switches allow them.
bool VectorScan()
{
    return SharedCpu::Avx2Allowed() && EngineSwitches::vectorLassoScan.load(std::memory_order_relaxed);
}

// The nearest-point search starts from the largest finite float, held as a
// double: a point whose squared distance overflows or is not a number never
// replaces it.
constexpr double kSearchStartSquaredDistance = 3.4028234663852886e38;

// Leaves hold up to this many lasso points; a lasso of a few hundred points
// gives a tree of six or seven levels.
constexpr int32_t kLeafSize = 8;

// Deep enough for any balanced tree over an int32 count of points.
constexpr int kMaxTreeDepth = 64;

// Nodes per task of the field's pass: fewer are not worth a task, and every
// task starts its tile and list guesses afresh (with 4096, a plane of a 64³
// grid per task, the pass took a fifth longer than with eight).
constexpr int32_t kMinNodesPerTask = 32768;

// Screen tiles are this many pixels wide (a power of two), doubled while the
// lasso's surroundings would need more than kMaxTiles.
constexpr double kTilePixels = 8.0;
constexpr double kMaxTiles = 65536.0;
// Tiles reach this far beyond the lasso's bounding box, at least.
constexpr double kTileReachPixels = 256.0;
// Slack that keeps the candidate test conservative under rounding: the errors
// of the few operations involved are a few units in 1e-16.
constexpr double kCandidateSlack = 1e-9;

// Tile lists are scanned in blocks of this many points, one vector register
// of doubles.
constexpr size_t kScanBlock = 4;

// States of a tile's candidate list while FillField runs.
constexpr uint8_t kListNotMade = 0, kListMaking = 1, kListMade = 2;

// The one expression for a squared distance: the full scan, the tree and the
// tile lists all use it, which keeps their minima the same double.
inline double SquaredDistance(double x, double y, double px, double py)
{
    const double dx = x - px;
    const double dy = y - py;
    return dx * dx + dy * dy;
}

inline double SquaredDistance(double x, double y, const osg::Vec2f& p)
{
    return SquaredDistance(x, y, static_cast<double>(p.x()), static_cast<double>(p.y()));
}

// The last column of an affine matrix is (0, 0, 0, 1): for finite input the
// homogeneous divisor of preMult is exactly 1 and dividing by it changes
// nothing, so the products are formed in the same order without it.
template <class Matrix>
bool IsAffine(const Matrix& m)
{
    return m(0, 3) == 0 && m(1, 3) == 0 && m(2, 3) == 0 && m(3, 3) == 1;
}

template <class Matrix, class Vec>
inline Vec AffinePreMult(const Matrix& m, const Vec& v)
{
    return Vec(m(0, 0) * v.x() + m(1, 0) * v.y() + m(2, 0) * v.z() + m(3, 0),
               m(0, 1) * v.x() + m(1, 1) * v.y() + m(2, 1) * v.z() + m(3, 1),
               m(0, 2) * v.x() + m(1, 2) * v.y() + m(2, 2) * v.z() + m(3, 2));
}

// MinimumSquaredDistance four points at a time: per point the same
// subtractions, products and sum (no fused multiply-add), and the minimum of
// all, so the same double comes out.
__attribute__((target("avx2"))) double MinimumSquaredDistanceAvx2(double x, double y, const double* xs,
                                                                  const double* ys, size_t count)
{
    const __m256d qx = _mm256_set1_pd(x), qy = _mm256_set1_pd(y);
    __m256d b0 = _mm256_set1_pd(kSearchStartSquaredDistance), b1 = b0;
    size_t i = 0;
    for (; i + 2 * kScanBlock <= count; i += 2 * kScanBlock) {
        const __m256d dx0 = _mm256_sub_pd(qx, _mm256_loadu_pd(xs + i));
        const __m256d dy0 = _mm256_sub_pd(qy, _mm256_loadu_pd(ys + i));
        const __m256d dx1 = _mm256_sub_pd(qx, _mm256_loadu_pd(xs + i + kScanBlock));
        const __m256d dy1 = _mm256_sub_pd(qy, _mm256_loadu_pd(ys + i + kScanBlock));
        b0 = _mm256_min_pd(_mm256_add_pd(_mm256_mul_pd(dx0, dx0), _mm256_mul_pd(dy0, dy0)), b0);
        b1 = _mm256_min_pd(_mm256_add_pd(_mm256_mul_pd(dx1, dx1), _mm256_mul_pd(dy1, dy1)), b1);
    }
    if (i < count) {
        const __m256d dx = _mm256_sub_pd(qx, _mm256_loadu_pd(xs + i));
        const __m256d dy = _mm256_sub_pd(qy, _mm256_loadu_pd(ys + i));
        b0 = _mm256_min_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), b0);
    }
    b0 = _mm256_min_pd(b1, b0);
    const __m128d half = _mm_min_pd(_mm256_castpd256_pd128(b0), _mm256_extractf128_pd(b0, 1));
    return _mm_cvtsd_f64(_mm_min_sd(_mm_unpackhi_pd(half, half), half));
}

// m applied to the row vector v: the shorter affine form where m is affine.
template <class Matrix, class Vec>
inline Vec Product(const Matrix& m, bool affine, const Vec& v)
{
    return affine ? AffinePreMult(m, v) : m.preMult(v);
}

// The lasso flags (first byte of a pixel not zero) of the whole 64-pixel
// words among the first pixels of an RGB image, sixteen pixels at a time: a
// byte shuffle gathers every third byte of 48. Returns the pixels done.
__attribute__((target("avx2"))) size_t LassoFlagsAvx2(const unsigned char* rgb, size_t pixels, uint64_t* bits)
{
    // Where the first bytes of pixels 0-5, 6-10 and 11-15 lie in bytes 0-15,
    // 16-31 and 32-47 (-1: none).
    const __m128i pick0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i pick1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
    const __m128i pick2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
    const __m128i zero = _mm_setzero_si128();
    const size_t words = pixels / 64;
    for (size_t w = 0; w < words; ++w) {
        uint64_t word = 0;
        for (int q = 0; q < 4; ++q) {
            const unsigned char* p = rgb + (w * 64 + static_cast<size_t>(q) * 16) * 3;
            const __m128i first = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), pick0),
                             _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), pick1)),
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), pick2));
            const uint64_t lit = ~static_cast<uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, zero))) & 0xffffu;
            word |= lit << (16 * q);
        }
        bits[w] = word;
    }
    return words * 64;
}

// The matrices of EyePosition and WindowPosition as plain numbers, m[r][c]
// = matrix(r, c), for the AVX2 row transform, which requires the model, view
// and window matrices affine.
struct RowTransform {
    float model[4][4];
    double view[4][4], projection[4][4], window[4][4];
    bool projectionAffine;
};

template <class Matrix, class Number>
void CopyMatrix(const Matrix& from, Number (&to)[4][4])
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) to[r][c] = from(r, c);
}

// AffinePreMult on four points at once, the products and sums in its order.
__attribute__((target("avx2"))) inline void AffineAvx2(const double (&m)[4][4], const __m256d (&v)[3],
                                                        __m256d (&out)[3])
{
    for (int c = 0; c < 3; ++c)
        out[c] = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(m[0][c]), v[0]),
                                                           _mm256_mul_pd(_mm256_set1_pd(m[1][c]), v[1])),
                                             _mm256_mul_pd(_mm256_set1_pd(m[2][c]), v[2])),
                               _mm256_set1_pd(m[3][c]));
}

// The general product with the homogeneous divide on four points at once:
// the reciprocal of the divisor times each affine sum, as preMult forms it.
__attribute__((target("avx2"))) inline void ProjectiveAvx2(const double (&m)[4][4], const __m256d (&v)[3],
                                                            __m256d (&out)[3])
{
    const __m256d w = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(m[0][3]), v[0]),
                                                                _mm256_mul_pd(_mm256_set1_pd(m[1][3]), v[1])),
                                                  _mm256_mul_pd(_mm256_set1_pd(m[2][3]), v[2])),
                                    _mm256_set1_pd(m[3][3]));
    const __m256d d = _mm256_div_pd(_mm256_set1_pd(1.0), w);
    AffineAvx2(m, v, out);
    for (int c = 0; c < 3; ++c) out[c] = _mm256_mul_pd(out[c], d);
}

// Window positions of the nodes (nodeX[i], y, z), i < count (a multiple of
// four), as EyePosition and WindowPosition give them.
__attribute__((target("avx2"))) void WindowRowAvx2(const RowTransform& t, const float* nodeX, float y, float z,
                                                   size_t count, double* winX, double* winY, double* winZ)
{
    // The y and z products are the same for the whole row.
    __m128 modelY[3], modelZ[3];
    for (int c = 0; c < 3; ++c) {
        modelY[c] = _mm_set1_ps(t.model[1][c] * y);
        modelZ[c] = _mm_set1_ps(t.model[2][c] * z);
    }
    for (size_t i = 0; i < count; i += 4) {
        const __m128 x = _mm_loadu_ps(nodeX + i);
        __m256d world[3], eye[3], clip[3], win[3];
        for (int c = 0; c < 3; ++c)
            world[c] = _mm256_cvtps_pd(_mm_add_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(t.model[0][c]), x), modelY[c]), modelZ[c]),
                _mm_set1_ps(t.model[3][c])));
        AffineAvx2(t.view, world, eye);
        if (t.projectionAffine) AffineAvx2(t.projection, eye, clip);
        else ProjectiveAvx2(t.projection, eye, clip);
        AffineAvx2(t.window, clip, win);
        _mm256_storeu_pd(winX + i, win[0]);
        _mm256_storeu_pd(winY + i, win[1]);
        _mm256_storeu_pd(winZ + i, win[2]);
    }
}

std::string Where(const char* what)
{
    return std::string("lasso volume: ") + what;
}

// Planes per task: at least kMinNodesPerTask nodes each.
size_t PlanesPerTask(int32_t planes, int64_t nodesPerPlane)
{
    return static_cast<size_t>(
        std::max<int64_t>(1, std::min<int64_t>(planes, kMinNodesPerTask / std::max<int64_t>(1, nodesPerPlane))));
}

}  // namespace

LassoProjection::LassoProjection(osgViewer::Viewer* v, const std::vector<osg::Vec2f>& points,
                                 const osg::Matrixf& model, LassoImageBounds imageBounds, const LassoImage* given)
    : viewer(nullptr), imageWidth(0), imageHeight(0), viewportX(0), viewportY(0), bounds(imageBounds),
      modelAffine(false), viewAffine(false), projectionAffine(false), windowAffine(false)
{
    if (!v) throw std::invalid_argument(Where("no viewer given"));

    // Lasso, model matrix and viewer first, then the image, then the camera.
    lassoPoints = points;
    modelMatrix = model;
    viewer = v;

    const LassoImage* capture = given;
    if (!capture) {
        osg::Group* root = dynamic_cast<osg::Group*>(viewer->getSceneData());
        if (!root) throw std::runtime_error(Where("the viewer's scene data is not an osg::Group"));
        if (root->getNumChildren() < 2)
            throw std::runtime_error(Where("the scene root has no child 1 (the lasso camera)"));
        const osg::Camera* lassoCamera = dynamic_cast<const osg::Camera*>(root->getChild(1));
        if (!lassoCamera) throw std::runtime_error(Where("child 1 of the scene root is not an osg::Camera"));
        capture = dynamic_cast<const LassoImage*>(lassoCamera->getFinalDrawCallback());
        if (!capture)
            throw std::runtime_error(
                Where("the lasso camera's final draw callback is not a LassoImage (such as LassoCaptureCallback)"));
    }
    const std::vector<unsigned char>& image = capture->LassoImageBytes();
    const int width = capture->LassoImageWidth(), height = capture->LassoImageHeight();
    if (width < 0 || height < 0 || image.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 3)
        throw std::runtime_error(Where("the lasso image of ") + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels holds only " + std::to_string(image.size()) +
                                 " bytes");
    imageWidth = width;
    imageHeight = height;
    lassoImage = image;
    // One bit per pixel, set where the first byte is not zero: 1/24 of the
    // image, small enough to stay in cache for the lookups of every node.
    const size_t pixels = static_cast<size_t>(imageWidth) * static_cast<size_t>(imageHeight);
    lassoBits.assign((pixels + 63) / 64, 0);
    size_t done = 0;
    if (VectorScan())
        done = LassoFlagsAvx2(lassoImage.data(), pixels, lassoBits.data());
    // The rest a word at a time, built in a register.
    for (size_t word = done / 64; word < lassoBits.size(); ++word) {
        uint64_t bits = 0;
        const size_t first = word * 64, count = std::min<size_t>(64, pixels - first);
        for (size_t b = 0; b < count; ++b)
            bits |= static_cast<uint64_t>(lassoImage[(first + b) * 3] != 0) << b;
        lassoBits[word] = bits;
    }

    osg::Camera* master = viewer->getCamera();
    if (!master) throw std::runtime_error(Where("the viewer has no master camera"));
    viewMatrix = master->getViewMatrix();
    projectionMatrix = master->getProjectionMatrix();
    viewport = master->getViewport();
    if (!viewport) throw std::runtime_error(Where("the master camera has no viewport"));
    // Beyond the int32 range truncation would be undefined.
    if (!(std::fabs(viewport->x()) < 2147483647.0 && std::fabs(viewport->y()) < 2147483647.0))
        throw std::runtime_error(Where("the master camera's viewport origin is out of range"));
    viewportX = static_cast<int32_t>(viewport->x());
    viewportY = static_cast<int32_t>(viewport->y());
    windowMatrix = viewport->computeWindowMatrix();
    modelAffine = IsAffine(modelMatrix);
    viewAffine = IsAffine(viewMatrix);
    projectionAffine = IsAffine(projectionMatrix);
    windowAffine = IsAffine(windowMatrix);

    // A point with an infinite or NaN coordinate is never nearest in the full
    // scan (its squared distance is not below the start), so the tree leaves
    // it out.
    for (const osg::Vec2f& p : lassoPoints)
        if (std::isfinite(p.x()) && std::isfinite(p.y())) treePoints.push_back(p);
    if (!treePoints.empty()) {
        tree.reserve(2 * (treePoints.size() / kLeafSize + 1));
        BuildTree(0, static_cast<int32_t>(treePoints.size()));
    }
}

osg::Vec3f LassoProjection::NodePosition(const ScalarField3D& grid, int ix, int iy, int iz)
{
    return osg::Vec3f(static_cast<float>(grid.xMin + ix * grid.xStep),
                      static_cast<float>(grid.yMin + iy * grid.yStep),
                      static_cast<float>(grid.zMin + iz * grid.zStep));
}

osg::Vec3d LassoProjection::EyePosition(const osg::Vec3f& node) const
{
    return Product(viewMatrix, viewAffine, osg::Vec3d(Product(modelMatrix, modelAffine, node)));
}

osg::Vec3d LassoProjection::WindowPosition(const osg::Vec3d& eye) const
{
    return Product(windowMatrix, windowAffine, Product(projectionMatrix, projectionAffine, eye));
}

inline double LassoProjection::ImageSign(const osg::Vec3d& win) const
{
    const double x = win.x(), y = win.y(), z = win.z();
    // Written so that a NaN coordinate fails every test.
    if (!(z >= 0.0 && z <= 1.0)) return -1.0;
    const double left = viewportX, bottom = viewportY;
    const double right = left + imageWidth, top = bottom + imageHeight;
    const bool inside = bounds == LassoImageBounds::IncludeLeftBottomEdge
                            ? (x >= left && x < right && y >= bottom && y < top)
                            : (x > left && x < right && y > bottom && y < top);
    if (!inside) return -1.0;
    // Both differences are small and not negative here, so the conversion
    // truncates toward zero without overflow.
    const int64_t column = static_cast<int64_t>(x - left), row = static_cast<int64_t>(y - bottom);
    // The subtraction may round up onto the right or top edge.
    if (!(column >= 0 && column < imageWidth && row >= 0 && row < imageHeight)) return -1.0;
    const size_t pixel = static_cast<size_t>(row) * static_cast<size_t>(imageWidth) + static_cast<size_t>(column);
    return (lassoBits[pixel >> 6] >> (pixel & 63)) & 1u ? 1.0 : -1.0;
}

double LassoProjection::ScreenSignedDistance(const osg::Vec3d& eye) const
{
    if (lassoPoints.empty()) return 0.0;
    const osg::Vec3d win = WindowPosition(eye);
    double best = kSearchStartSquaredDistance;
    for (const osg::Vec2f& p : lassoPoints) {
        const double d2 = SquaredDistance(win.x(), win.y(), p);
        if (d2 < best) best = d2;
    }
    return ImageSign(win) * std::sqrt(best);
}

int32_t LassoProjection::BuildTree(int32_t first, int32_t count)
{
    const int32_t index = static_cast<int32_t>(tree.size());
    tree.push_back(TreeNode{});
    TreeNode node{};
    node.minX = node.maxX = treePoints[first].x();
    node.minY = node.maxY = treePoints[first].y();
    for (int32_t i = first + 1; i < first + count; ++i) {
        node.minX = std::min<double>(node.minX, treePoints[i].x());
        node.maxX = std::max<double>(node.maxX, treePoints[i].x());
        node.minY = std::min<double>(node.minY, treePoints[i].y());
        node.maxY = std::max<double>(node.maxY, treePoints[i].y());
    }
    node.first = first;
    node.count = count;
    node.left = node.right = -1;
    if (count > kLeafSize) {
        const int axis = node.maxX - node.minX >= node.maxY - node.minY ? 0 : 1;
        const int32_t half = count / 2;
        std::nth_element(treePoints.begin() + first, treePoints.begin() + first + half,
                         treePoints.begin() + first + count,
                         [axis](const osg::Vec2f& a, const osg::Vec2f& b) { return a[axis] < b[axis]; });
        node.left = BuildTree(first, half);
        node.right = BuildTree(first + half, count - half);
    }
    tree[index] = node;
    return index;
}

double LassoProjection::NearestSquaredDistance(double x, double y, int32_t& guess) const
{
    double best = kSearchStartSquaredDistance;
    if (tree.empty()) return best;
    // Any lasso point gives an upper bound; the last query's nearest is
    // usually close to the nearest of this one.
    if (guess >= 0) {
        const double d2 = SquaredDistance(x, y, treePoints[guess]);
        if (d2 < best) best = d2;
    }
    // A subtree is skipped when the squared distance to its box is not below
    // the best found so far. Rounding is monotonic, so the box distance, formed
    // with the same operations from the box's own coordinates, never exceeds
    // the rounded distance of any point inside: skipped points could only tie.
    auto boxDistance = [x, y](const TreeNode& n) {
        double dx = 0.0, dy = 0.0;
        if (x < n.minX) dx = x - n.minX;
        else if (x > n.maxX) dx = x - n.maxX;
        if (y < n.minY) dy = y - n.minY;
        else if (y > n.maxY) dy = y - n.maxY;
        return dx * dx + dy * dy;
    };
    struct Pending {
        int32_t node;
        double distance;
    };
    Pending stack[kMaxTreeDepth + 2];
    int top = 0;
    stack[top++] = Pending{0, boxDistance(tree[0])};
    while (top > 0) {
        const Pending item = stack[--top];
        if (item.distance >= best) continue;
        const TreeNode& n = tree[item.node];
        if (n.left < 0) {
            for (int32_t i = n.first; i < n.first + n.count; ++i) {
                const double d2 = SquaredDistance(x, y, treePoints[i]);
                if (d2 < best) {
                    best = d2;
                    guess = i;
                }
            }
            continue;
        }
        const double dl = boxDistance(tree[n.left]), dr = boxDistance(tree[n.right]);
        // The nearer child goes on top so that it is searched first.
        if (dl <= dr) {
            stack[top++] = Pending{n.right, dr};
            stack[top++] = Pending{n.left, dl};
        } else {
            stack[top++] = Pending{n.left, dl};
            stack[top++] = Pending{n.right, dr};
        }
    }
    return best;
}

LassoProjection::TileGrid LassoProjection::MakeTileGrid() const
{
    TileGrid tiles;
    if (tree.empty()) return tiles;
    const TreeNode& lasso = tree[0];
    const double reach = 2.0 * std::max({lasso.maxX - lasso.minX, lasso.maxY - lasso.minY, kTileReachPixels});
    const double x0 = lasso.minX - reach, x1 = lasso.maxX + reach;
    const double y0 = lasso.minY - reach, y1 = lasso.maxY + reach;
    const double width = x1 - x0, height = y1 - y0;
    if (!(std::isfinite(width) && std::isfinite(height))) return tiles;
    double size = kTilePixels;
    while ((std::floor(width / size) + 1.0) * (std::floor(height / size) + 1.0) > kMaxTiles) size *= 2.0;
    tiles.x0 = x0;
    tiles.y0 = y0;
    tiles.size = size;
    tiles.columns = static_cast<int32_t>(std::floor(width / size)) + 1;
    tiles.rows = static_cast<int32_t>(std::floor(height / size)) + 1;
    for (int32_t c = 0; c < tiles.columns; ++c) {
        const TileBox box = BoxOfTile(tiles, c, 0);
        tiles.columnMin.push_back(box.minX);
        tiles.columnMax.push_back(box.maxX);
    }
    for (int32_t r = 0; r < tiles.rows; ++r) {
        const TileBox box = BoxOfTile(tiles, 0, r);
        tiles.rowMin.push_back(box.minY);
        tiles.rowMax.push_back(box.maxY);
    }
    return tiles;
}

inline LassoProjection::TileBox LassoProjection::BoxOfTile(const TileGrid& tiles, int32_t column, int32_t row)
{
    // A little wider than the tile, so that a position the floor below put
    // into it lies inside even after rounding.
    const double margin = tiles.size * 1e-6;
    return TileBox{tiles.x0 + column * tiles.size - margin, tiles.y0 + row * tiles.size - margin,
                   tiles.x0 + (column + 1) * tiles.size + margin, tiles.y0 + (row + 1) * tiles.size + margin};
}

inline int32_t LassoProjection::TileOf(const TileGrid& tiles, double x, double y)
{
    if (tiles.columns == 0) return -1;
    // Tile sizes are powers of two, so the reciprocal is exact.
    const double column = (x - tiles.x0) * (1.0 / tiles.size);
    const double row = (y - tiles.y0) * (1.0 / tiles.size);
    if (!(column >= 0.0 && column < tiles.columns && row >= 0.0 && row < tiles.rows)) return -1;
    // Not negative and in range: the conversion is the floor.
    const int32_t c = static_cast<int32_t>(column), r = static_cast<int32_t>(row);
    // The candidate lists are only sound for positions inside the box; one
    // that rounding put into a neighbour goes to the tree.
    if (!(x >= tiles.columnMin[static_cast<size_t>(c)] && x <= tiles.columnMax[static_cast<size_t>(c)] &&
          y >= tiles.rowMin[static_cast<size_t>(r)] && y <= tiles.rowMax[static_cast<size_t>(r)]))
        return -1;
    return r * tiles.columns + c;
}

std::vector<double> LassoProjection::TileCandidates(const TileGrid& tiles, int32_t tile) const
{
    const TileBox box = BoxOfTile(tiles, tile % tiles.columns, tile / tiles.columns);
    // For a position q in the box, the nearest point is no farther than the
    // farthest box corner of any one point, here the point nearest to the
    // box's centre; a point whose nearest box distance exceeds that bound can
    // never be nearest.
    int32_t nearest = -1;
    NearestSquaredDistance(0.5 * (box.minX + box.maxX), 0.5 * (box.minY + box.maxY), nearest);
    double bound = std::numeric_limits<double>::infinity();
    if (nearest >= 0) {
        const double px = treePoints[static_cast<size_t>(nearest)].x();
        const double py = treePoints[static_cast<size_t>(nearest)].y();
        const double dx = std::max(std::fabs(px - box.minX), std::fabs(px - box.maxX));
        const double dy = std::max(std::fabs(py - box.minY), std::fabs(py - box.maxY));
        bound = dx * dx + dy * dy;
    }
    const double limit = bound * (1.0 + kCandidateSlack) + kCandidateSlack;

    // Squared distance between the tile's box and a box of points: formed
    // with the same monotonic operations, it never exceeds that of a point
    // inside, so a subtree beyond the limit holds no candidate.
    auto gap = [&box](double minX, double minY, double maxX, double maxY) {
        const double dx = maxX < box.minX ? box.minX - maxX : (minX > box.maxX ? minX - box.maxX : 0.0);
        const double dy = maxY < box.minY ? box.minY - maxY : (minY > box.maxY ? minY - box.maxY : 0.0);
        return dx * dx + dy * dy;
    };
    std::vector<double> xs, ys;
    int32_t stack[kMaxTreeDepth + 2];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const TreeNode& n = tree[static_cast<size_t>(stack[--top])];
        if (gap(n.minX, n.minY, n.maxX, n.maxY) > limit) continue;
        if (n.left >= 0) {
            stack[top++] = n.right;
            stack[top++] = n.left;
            continue;
        }
        for (int32_t i = n.first; i < n.first + n.count; ++i) {
            const double px = treePoints[static_cast<size_t>(i)].x(), py = treePoints[static_cast<size_t>(i)].y();
            if (gap(px, py, px, py) <= limit) {
                xs.push_back(px);
                ys.push_back(py);
            }
        }
    }
    // Padded to whole blocks with points at infinity, whose squared distance
    // from a finite position is infinite and never below the search start.
    const size_t blocks = (xs.size() + kScanBlock - 1) / kScanBlock;
    xs.resize(blocks * kScanBlock, std::numeric_limits<double>::infinity());
    ys.resize(blocks * kScanBlock, std::numeric_limits<double>::infinity());
    xs.insert(xs.end(), ys.begin(), ys.end());
    return xs;
}

double LassoProjection::MinimumSquaredDistance(double x, double y, const double* xs, const double* ys, size_t count)
{
    // Four running minima for instruction-level parallelism; the minimum of
    // doubles that are never NaN does not depend on the order it is taken in.
    double b0 = kSearchStartSquaredDistance, b1 = b0, b2 = b0, b3 = b0;
    for (size_t i = 0; i < count; i += kScanBlock) {
        const double d0 = SquaredDistance(x, y, xs[i], ys[i]);
        const double d1 = SquaredDistance(x, y, xs[i + 1], ys[i + 1]);
        const double d2 = SquaredDistance(x, y, xs[i + 2], ys[i + 2]);
        const double d3 = SquaredDistance(x, y, xs[i + 3], ys[i + 3]);
        b0 = d0 < b0 ? d0 : b0;
        b1 = d1 < b1 ? d1 : b1;
        b2 = d2 < b2 ? d2 : b2;
        b3 = d3 < b3 ? d3 : b3;
    }
    b0 = b1 < b0 ? b1 : b0;
    b2 = b3 < b2 ? b3 : b2;
    return b2 < b0 ? b2 : b0;
}

void LassoProjection::FillField(ScalarField3D& field) const
{
    if (lassoPoints.empty()) {
        std::fill(field.values.begin(), field.values.end(), 0.0);
        return;
    }
    const TileGrid tiles = MakeTileGrid();
    const size_t tileCount = static_cast<size_t>(tiles.columns) * static_cast<size_t>(tiles.rows);
    // A tile's candidate list is made by the first task whose node falls in
    // it. A task that finds another one still making it searches the tree for
    // that node instead of waiting: both give the same minimum.
    std::vector<std::vector<double>> lists(tileCount);
    std::unique_ptr<std::atomic<uint8_t>[]> listState(new std::atomic<uint8_t>[tileCount]);
    for (size_t t = 0; t < tileCount; ++t) listState[t].store(kListNotMade, std::memory_order_relaxed);
    auto listOf = [&](int32_t tile) -> const std::vector<double>* {
        std::atomic<uint8_t>& state = listState[static_cast<size_t>(tile)];
        uint8_t now = state.load(std::memory_order_acquire);
        if (now == kListMade) return &lists[static_cast<size_t>(tile)];
        if (now != kListNotMade || !state.compare_exchange_strong(now, kListMaking, std::memory_order_acquire))
            return nullptr;
        lists[static_cast<size_t>(tile)] = TileCandidates(tiles, tile);
        state.store(kListMade, std::memory_order_release);
        return &lists[static_cast<size_t>(tile)];
    };

    // Node coordinates per axis, as NodePosition rounds them; x padded to
    // whole blocks of four for the AVX2 row transform.
    const size_t rowLength = static_cast<size_t>(field.xCount);
    const size_t paddedRow = (rowLength + 3) / 4 * 4;
    std::vector<float> nodeX(paddedRow, 0.0f), nodeY(static_cast<size_t>(field.yCount)),
        nodeZ(static_cast<size_t>(field.zCount));
    for (int32_t i = 0; i < field.xCount; ++i) nodeX[static_cast<size_t>(i)] = NodePosition(field, i, 0, 0).x();
    for (int32_t i = 0; i < field.yCount; ++i) nodeY[static_cast<size_t>(i)] = NodePosition(field, 0, i, 0).y();
    for (int32_t i = 0; i < field.zCount; ++i) nodeZ[static_cast<size_t>(i)] = NodePosition(field, 0, 0, i).z();
    const bool avx2 = VectorScan();
    const bool avx2Rows = avx2 && modelAffine && viewAffine && windowAffine;
    RowTransform transform;
    CopyMatrix(modelMatrix, transform.model);
    CopyMatrix(viewMatrix, transform.view);
    CopyMatrix(projectionMatrix, transform.projection);
    CopyMatrix(windowMatrix, transform.window);
    transform.projectionAffine = projectionAffine;

    // One pass: each slab of z-planes writes only its own nodes, and every
    // node's value is its own, so the cut does not change the field. A row of
    // nodes goes through each step before the next, so that the divisions
    // and square roots of neighbouring nodes overlap.
    const size_t planesPerTask = PlanesPerTask(field.zCount, static_cast<int64_t>(field.sliceSize));
    parallel::ForEachBlock(static_cast<size_t>(field.zCount), planesPerTask, [&](size_t first, size_t last) {
        const int32_t zFirst = static_cast<int32_t>(first), zLast = static_cast<int32_t>(last);
        std::vector<double> winX(paddedRow), winY(paddedRow), winZ(paddedRow), sign(paddedRow), d2(paddedRow);
        std::vector<int32_t> tileOf(paddedRow);
        int32_t guess = -1;
        int32_t lastTile = -1;
        const std::vector<double>* lastList = nullptr;
        for (int32_t iz = zFirst; iz < zLast; ++iz)
            for (int32_t iy = 0; iy < field.yCount; ++iy) {
                const float y = nodeY[static_cast<size_t>(iy)], z = nodeZ[static_cast<size_t>(iz)];
                if (avx2Rows) {
                    WindowRowAvx2(transform, nodeX.data(), y, z, paddedRow, winX.data(), winY.data(), winZ.data());
                } else {
                    for (size_t ix = 0; ix < rowLength; ++ix) {
                        const osg::Vec3d win = WindowPosition(EyePosition(osg::Vec3f(nodeX[ix], y, z)));
                        winX[ix] = win.x();
                        winY[ix] = win.y();
                        winZ[ix] = win.z();
                    }
                }
                // The image lookups and tiles of the row first: short and
                // independent of one another, they overlap.
                for (size_t ix = 0; ix < rowLength; ++ix) {
                    sign[ix] = ImageSign(osg::Vec3d(winX[ix], winY[ix], winZ[ix]));
                    tileOf[ix] = TileOf(tiles, winX[ix], winY[ix]);
                }
                for (size_t ix = 0; ix < rowLength; ++ix) {
                    const double x = winX[ix], y = winY[ix];
                    if (!(std::isfinite(x) && std::isfinite(y))) {
                        // Every squared distance is infinite or NaN: the scan keeps its start.
                        d2[ix] = kSearchStartSquaredDistance;
                        continue;
                    }
                    const int32_t tile = tileOf[ix];
                    if (tile >= 0 && tile != lastTile) {
                        lastList = listOf(tile);
                        lastTile = lastList ? tile : -1;
                    }
                    if (tile >= 0 && tile == lastTile) {
                        const size_t half = lastList->size() / 2;
                        const double* xs = lastList->data();
                        d2[ix] = avx2 ? MinimumSquaredDistanceAvx2(x, y, xs, xs + half, half)
                                      : MinimumSquaredDistance(x, y, xs, xs + half, half);
                    } else {
                        d2[ix] = NearestSquaredDistance(x, y, guess);
                    }
                }
                // Two square roots at a time (SSE2, part of every x86-64
                // processor), each rounded as std::sqrt rounds it.
                double* out = &field.values[static_cast<size_t>(field.NodeIndex(0, iy, iz))];
                size_t ix = 0;
                for (; ix + 2 <= rowLength; ix += 2)
                    _mm_storeu_pd(out + ix, _mm_mul_pd(_mm_loadu_pd(&sign[ix]), _mm_sqrt_pd(_mm_loadu_pd(&d2[ix]))));
                for (; ix < rowLength; ++ix) out[ix] = sign[ix] * std::sqrt(d2[ix]);
            }
    });
}
