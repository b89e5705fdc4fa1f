#include "geometry/LassoProjection.h"

#include "geometry/LassoImage.h"

#include <osg/Camera>
#include <osg/Group>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace {

// The nearest-point search starts from the largest finite float, held as a
// double: a point whose squared distance overflows or is not a number never
// replaces it.
constexpr double kSearchStartSquaredDistance = 3.4028234663852886e38;

// Leaves hold up to this many lasso points; a lasso of a few hundred points
// gives a tree of six or seven levels.
constexpr int32_t kLeafSize = 8;

// Deep enough for any balanced tree over an int32 count of points.
constexpr int kMaxTreeDepth = 64;

// Fewer nodes than this are not worth a task of their own.
constexpr int32_t kMinNodesPerThread = 4096;

// Screen tiles are this many pixels wide (a power of two), doubled while the
// lasso's surroundings would need more than kMaxTiles.
constexpr double kTilePixels = 8.0;
constexpr double kMaxTiles = 65536.0;
// Tiles reach this far beyond the lasso's bounding box, at least.
constexpr double kTileReachPixels = 256.0;
// Slack that keeps the candidate test conservative under rounding: the errors
// of the few operations involved are a few units in 1e-16.
constexpr double kCandidateSlack = 1e-9;

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

std::string Where(const char* what)
{
    return std::string("lasso volume: ") + what;
}

// Runs work(first, last) over [0, count) cut into contiguous slabs on
// parallel tasks; the slabs write disjoint parts of the output, and every
// item's result is its own, so the cut does not change the output.
template <class Work>
void ForEachSlab(int32_t count, int64_t itemsPerSlab, const Work& work)
{
    const int32_t grain = static_cast<int32_t>(
        std::max<int64_t>(1, std::min<int64_t>(count, kMinNodesPerThread / std::max<int64_t>(1, itemsPerSlab))));
    if (count <= grain) {
        work(0, count);
        return;
    }
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, count, grain),
                      [&work](const tbb::blocked_range<int32_t>& r) { work(r.begin(), r.end()); });
}

}  // namespace

LassoProjection::LassoProjection(osgViewer::Viewer* v, const std::vector<osg::Vec2f>& points,
                                 const osg::Matrixf& model, LassoImageBounds imageBounds)
    : viewer(nullptr), imageWidth(0), imageHeight(0), viewportX(0), viewportY(0), bounds(imageBounds),
      modelAffine(false), viewAffine(false), projectionAffine(false), windowAffine(false)
{
    if (!v) throw std::invalid_argument(Where("no viewer given"));

    // Lasso, model matrix and viewer first, then the image, then the camera.
    lassoPoints = points;
    modelMatrix = model;
    viewer = v;

    osg::Group* root = dynamic_cast<osg::Group*>(viewer->getSceneData());
    if (!root) throw std::runtime_error(Where("the viewer's scene data is not an osg::Group"));
    if (root->getNumChildren() < 2)
        throw std::runtime_error(Where("the scene root has no child 1 (the lasso camera)"));
    const osg::Camera* lassoCamera = dynamic_cast<const osg::Camera*>(root->getChild(1));
    if (!lassoCamera) throw std::runtime_error(Where("child 1 of the scene root is not an osg::Camera"));
    const LassoImage* capture = dynamic_cast<const LassoImage*>(lassoCamera->getFinalDrawCallback());
    if (!capture)
        throw std::runtime_error(
            Where("the lasso camera's final draw callback is not a LassoImage (such as LassoCaptureCallback)"));
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
    for (size_t i = 0; i < pixels; ++i)
        lassoBits[i >> 6] |= static_cast<uint64_t>(lassoImage[i * 3] != 0) << (i & 63);

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
    const osg::Vec3f world = modelAffine ? AffinePreMult(modelMatrix, node) : modelMatrix.preMult(node);
    const osg::Vec3d w(world);
    return viewAffine ? AffinePreMult(viewMatrix, w) : viewMatrix.preMult(w);
}

osg::Vec3d LassoProjection::WindowPosition(const osg::Vec3d& eye) const
{
    const osg::Vec3d clip = projectionAffine ? AffinePreMult(projectionMatrix, eye) : projectionMatrix.preMult(eye);
    return windowAffine ? AffinePreMult(windowMatrix, clip) : windowMatrix.preMult(clip);
}

double LassoProjection::ImageSign(const osg::Vec3d& win) const
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
    return tiles;
}

LassoProjection::TileBox LassoProjection::BoxOfTile(const TileGrid& tiles, int32_t column, int32_t row)
{
    // A little wider than the tile, so that a position the floor below put
    // into it lies inside even after rounding.
    const double margin = tiles.size * 1e-6;
    return TileBox{tiles.x0 + column * tiles.size - margin, tiles.y0 + row * tiles.size - margin,
                   tiles.x0 + (column + 1) * tiles.size + margin, tiles.y0 + (row + 1) * tiles.size + margin};
}

int32_t LassoProjection::TileOf(const TileGrid& tiles, double x, double y)
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
    const TileBox box = BoxOfTile(tiles, c, r);
    if (!(x >= box.minX && x <= box.maxX && y >= box.minY && y <= box.maxY)) return -1;
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
    std::vector<double> xy;
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
                xy.push_back(px);
                xy.push_back(py);
            }
        }
    }
    return xy;
}

double LassoProjection::MinimumSquaredDistance(double x, double y, const std::vector<double>& xy)
{
    // Four running minima for instruction-level parallelism; the minimum of
    // doubles does not depend on the order it is taken in.
    double b0 = kSearchStartSquaredDistance, b1 = b0, b2 = b0, b3 = b0;
    const size_t n = xy.size() / 2;
    const double* p = xy.data();
    size_t i = 0;
    for (; i + 4 <= n; i += 4, p += 8) {
        const double d0 = SquaredDistance(x, y, p[0], p[1]);
        const double d1 = SquaredDistance(x, y, p[2], p[3]);
        const double d2 = SquaredDistance(x, y, p[4], p[5]);
        const double d3 = SquaredDistance(x, y, p[6], p[7]);
        b0 = d0 < b0 ? d0 : b0;
        b1 = d1 < b1 ? d1 : b1;
        b2 = d2 < b2 ? d2 : b2;
        b3 = d3 < b3 ? d3 : b3;
    }
    for (; i < n; ++i, p += 2) {
        const double d = SquaredDistance(x, y, p[0], p[1]);
        b0 = d < b0 ? d : b0;
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
    const size_t nodeCount = field.values.size();
    std::vector<double> winX(nodeCount), winY(nodeCount);
    std::vector<int32_t> tileOfNode(nodeCount);
    const TileGrid tiles = MakeTileGrid();
    const size_t tileCount = static_cast<size_t>(tiles.columns) * static_cast<size_t>(tiles.rows);
    // Several tasks may mark the same tile; the flags are atomic for that.
    std::unique_ptr<std::atomic<uint8_t>[]> used(new std::atomic<uint8_t>[tileCount]);
    for (size_t t = 0; t < tileCount; ++t) used[t].store(0, std::memory_order_relaxed);

    // Pass 1: window position and tile of every node; the image sign goes
    // into the field right away. Each slab of z-planes writes only its nodes.
    ForEachSlab(field.zCount, static_cast<int64_t>(field.sliceSize), [&](int32_t zFirst, int32_t zLast) {
        for (int32_t iz = zFirst; iz < zLast; ++iz)
            for (int32_t iy = 0; iy < field.yCount; ++iy)
                for (int32_t ix = 0; ix < field.xCount; ++ix) {
                    const size_t i = static_cast<size_t>(field.NodeIndex(ix, iy, iz));
                    const osg::Vec3d win = WindowPosition(EyePosition(NodePosition(field, ix, iy, iz)));
                    winX[i] = win.x();
                    winY[i] = win.y();
                    field.values[i] = ImageSign(win);
                    const int32_t t = TileOf(tiles, win.x(), win.y());
                    tileOfNode[i] = t;
                    if (t >= 0 && !used[static_cast<size_t>(t)].load(std::memory_order_relaxed))
                        used[static_cast<size_t>(t)].store(1, std::memory_order_relaxed);
                }
    });

    // The candidate lists of the tiles that some node lies in.
    std::vector<int32_t> usedTiles;
    for (size_t t = 0; t < tileCount; ++t)
        if (used[t].load(std::memory_order_relaxed)) usedTiles.push_back(static_cast<int32_t>(t));
    std::vector<std::vector<double>> candidates(tileCount);
    ForEachSlab(static_cast<int32_t>(usedTiles.size()), 64, [&](int32_t first, int32_t last) {
        for (int32_t u = first; u < last; ++u) {
            const int32_t t = usedTiles[static_cast<size_t>(u)];
            candidates[static_cast<size_t>(t)] = TileCandidates(tiles, t);
        }
    });

    // Pass 2: the nearest lasso point of every node.
    ForEachSlab(field.zCount, static_cast<int64_t>(field.sliceSize), [&](int32_t zFirst, int32_t zLast) {
        int32_t guess = -1;
        const size_t first = static_cast<size_t>(zFirst) * static_cast<size_t>(field.sliceSize);
        const size_t last = static_cast<size_t>(zLast) * static_cast<size_t>(field.sliceSize);
        for (size_t i = first; i < last; ++i) {
            const double x = winX[i], y = winY[i];
            double d2;
            if (!(std::isfinite(x) && std::isfinite(y))) {
                // Every squared distance is infinite or NaN: the scan keeps its start.
                d2 = kSearchStartSquaredDistance;
            } else if (tileOfNode[i] >= 0) {
                d2 = MinimumSquaredDistance(x, y, candidates[static_cast<size_t>(tileOfNode[i])]);
            } else {
                d2 = NearestSquaredDistance(x, y, guess);
            }
            field.values[i] = field.values[i] * std::sqrt(d2);
        }
    });
}
