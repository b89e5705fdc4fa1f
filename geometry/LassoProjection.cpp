#include "geometry/LassoProjection.h"

#include "framework/vis/LassoCaptureCallback.h"

#include <osg/Camera>
#include <osg/Group>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

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

// Grids smaller than this are not worth a thread.
constexpr int32_t kMinNodesPerThread = 4096;

// The one expression for a squared distance: the full scan and the tree both
// use it, which keeps their minima the same double.
inline double SquaredDistance(double x, double y, const osg::Vec2f& p)
{
    const double dx = x - p.x();
    const double dy = y - p.y();
    return dx * dx + dy * dy;
}

std::string Where(const char* what)
{
    return std::string("lasso volume: ") + what;
}

// Runs work(first, last) over [0, count) cut into contiguous slabs, one per
// thread; the slabs write disjoint parts of the output.
template <class Work>
void ForEachSlab(int32_t count, int64_t itemsPerSlab, const Work& work)
{
    unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    const int64_t total = static_cast<int64_t>(count) * itemsPerSlab;
    threads = static_cast<unsigned>(std::min<int64_t>(threads, std::max<int64_t>(1, total / kMinNodesPerThread)));
    threads = std::min<unsigned>(threads, static_cast<unsigned>(std::max(count, 1)));
    if (threads <= 1) {
        work(0, count);
        return;
    }
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) {
        const int32_t first = static_cast<int32_t>(static_cast<int64_t>(count) * t / threads);
        const int32_t last = static_cast<int32_t>(static_cast<int64_t>(count) * (t + 1) / threads);
        pool.emplace_back([&work, first, last] { work(first, last); });
    }
    work(0, static_cast<int32_t>(static_cast<int64_t>(count) / threads));
    for (std::thread& t : pool) t.join();
}

}  // namespace

LassoProjection::LassoProjection(osgViewer::Viewer* v, const std::vector<osg::Vec2f>& points,
                                 const osg::Matrixf& model, LassoImageBounds imageBounds)
    : viewer(nullptr), imageWidth(0), imageHeight(0), viewportX(0), viewportY(0), bounds(imageBounds)
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
    const LassoCaptureCallback* capture =
        dynamic_cast<const LassoCaptureCallback*>(lassoCamera->getFinalDrawCallback());
    if (!capture)
        throw std::runtime_error(Where("the lasso camera's final draw callback is not a LassoCaptureCallback"));
    if (capture->width < 0 || capture->height < 0 ||
        capture->image.size() < static_cast<size_t>(capture->width) * static_cast<size_t>(capture->height) * 3)
        throw std::runtime_error(Where("the lasso image of ") + std::to_string(capture->width) + " x " +
                                 std::to_string(capture->height) + " pixels holds only " +
                                 std::to_string(capture->image.size()) + " bytes");
    imageWidth = capture->width;
    imageHeight = capture->height;
    lassoImage = capture->image;

    const osg::Camera* master = viewer->getCamera();
    if (!master) throw std::runtime_error(Where("the viewer has no master camera"));
    viewMatrix = master->getViewMatrix();
    projectionMatrix = master->getProjectionMatrix();
    viewport = const_cast<osg::Viewport*>(master->getViewport());
    if (!viewport) throw std::runtime_error(Where("the master camera has no viewport"));
    // Beyond the int32 range truncation would be undefined.
    if (!(std::fabs(viewport->x()) < 2147483647.0 && std::fabs(viewport->y()) < 2147483647.0))
        throw std::runtime_error(Where("the master camera's viewport origin is out of range"));
    viewportX = static_cast<int32_t>(viewport->x());
    viewportY = static_cast<int32_t>(viewport->y());
    windowMatrix = viewport->computeWindowMatrix();

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
    const osg::Vec3f world = modelMatrix.preMult(node);
    return viewMatrix.preMult(osg::Vec3d(world));
}

osg::Vec3d LassoProjection::WindowPosition(const osg::Vec3d& eye) const
{
    return windowMatrix.preMult(projectionMatrix.preMult(eye));
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
    const double column = std::trunc(x - left), row = std::trunc(y - bottom);
    // The subtraction may round up onto the right or top edge.
    if (!(column >= 0.0 && column < imageWidth && row >= 0.0 && row < imageHeight)) return -1.0;
    const size_t pixel = static_cast<size_t>(row) * static_cast<size_t>(imageWidth) + static_cast<size_t>(column);
    return lassoImage[pixel * 3] != 0 ? 1.0 : -1.0;
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

void LassoProjection::FillField(ScalarField3D& field) const
{
    if (lassoPoints.empty()) {
        std::fill(field.values.begin(), field.values.end(), 0.0);
        return;
    }
    // Nodes are independent; each slab of z-planes writes only its own values.
    ForEachSlab(field.zCount, static_cast<int64_t>(field.sliceSize), [&](int32_t zFirst, int32_t zLast) {
        int32_t guess = -1;
        for (int32_t iz = zFirst; iz < zLast; ++iz)
            for (int32_t iy = 0; iy < field.yCount; ++iy)
                for (int32_t ix = 0; ix < field.xCount; ++ix) {
                    const osg::Vec3d win = WindowPosition(EyePosition(NodePosition(field, ix, iy, iz)));
                    // An infinite or NaN coordinate makes every squared
                    // distance infinite or NaN, so the scan keeps its start.
                    const double d2 = std::isfinite(win.x()) && std::isfinite(win.y())
                                          ? NearestSquaredDistance(win.x(), win.y(), guess)
                                          : kSearchStartSquaredDistance;
                    field.values[static_cast<size_t>(field.NodeIndex(ix, iy, iz))] = ImageSign(win) * std::sqrt(d2);
                }
    });
}
