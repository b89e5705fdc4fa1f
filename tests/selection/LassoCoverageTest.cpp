// The computed lasso image against the captured one. Seeded random lassos
// (convex, concave, self-intersecting, tiny, reaching far beyond the
// viewport) on four viewport sizes with origins off zero go through the real
// facade; the lasso camera draws each in a frame (Mesa under Xvfb), and the
// coverage of the same flat triangles is computed. A pixel may differ only
// where its centre lies within 1/128 pixel of a boundary edge of the
// triangulation; the lasso fields of both volumes built from either image
// agree bit for bit at every node not projecting into a differing pixel. The
// same run with centres on edges left out everywhere must fail. The lassos
// run in child processes side by side; one that Triangle ends leaves the
// others' results.
//
// In: TRELLAN_COVERAGE_LASSOS lassos; 500 by default, 10000 for the long
// run. Out: the counts of differing lassos and pixels
// on standard output. Cost: one frame, one
// triangulation and two rasterizations per lasso; a 24³ field pair on every
// 20th. Needs a display.
#include "framework/kelvo/OffscreenContext.h"
#include "geometry/LassoCoverage.h"
#include "geometry/LassoProjection.h"
#include "tests/support/DrawLasso.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>

#include <osg/Viewport>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const double kPi = 3.14159265358979323846;
const double kBoundaryTolerance = 1.0 / 128.0;

struct Viewport {
    int x, y, width, height;
};
const Viewport kViewports[] = {{0, 0, 640, 480}, {13, 7, 1280, 1024}, {0, 0, 1920, 1080}, {101, 57, 2560, 1600}};

// A lasso of kind k (0 convex, 1 concave, 2 self-intersecting, 3 tiny, 4
// across the viewport's border, some with a spike thousands of pixels out) in window coordinates. Most points are
// whole or half pixels, as mice and touch give them, so that edges run
// through pixel centres; some are anywhere.
std::vector<osg::Vec2f> RandomLasso(std::mt19937& rng, int kind, const Viewport& v)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const bool snapped = unit(rng) < 0.8;
    auto point = [&](double x, double y) {
        if (snapped) {
            x = std::round(x * 2) / 2;
            y = std::round(y * 2) / 2;
        }
        return osg::Vec2f(static_cast<float>(x), static_cast<float>(y));
    };
    double cx = v.x + v.width * (0.2 + 0.6 * unit(rng)), cy = v.y + v.height * (0.2 + 0.6 * unit(rng));
    const double size = std::min(v.width, v.height) * (0.01 + 0.07 * unit(rng));
    if (kind == 4) {  // around a point of the viewport's border
        if (unit(rng) < 0.5) cx = v.x + (unit(rng) < 0.5 ? 0 : v.width);
        else cy = v.y + (unit(rng) < 0.5 ? 0 : v.height);
    }
    std::vector<osg::Vec2f> points;
    if (kind == 2) {
        // A figure eight or a star polygon {n/k}: sides crossing each other.
        const double phase = unit(rng) * 2 * kPi;
        if (unit(rng) < 0.5) {
            const int n = 20 + static_cast<int>(unit(rng) * 100);
            for (int i = 0; i < n; ++i) {
                const double t = phase + 2 * kPi * i / n;
                points.push_back(point(cx + size * std::sin(t), cy + size * 0.6 * std::sin(t) * std::cos(t)));
            }
        } else {
            const int n = 5 + 2 * static_cast<int>(unit(rng) * 5), k = 2 + static_cast<int>(unit(rng) * (n / 2 - 1));
            for (int i = 0; i < n; ++i) {
                const double a = phase + 2 * kPi * ((i * k) % n) / n;
                points.push_back(point(cx + size * std::cos(a), cy + size * std::sin(a)));
            }
        }
        return points;
    }
    if (kind == 3) {
        const double s = 3 + unit(rng) * 9;
        const int n = 3 + static_cast<int>(unit(rng) * 4);
        for (int i = 0; i < n; ++i) {
            const double a = 2 * kPi * (i + 0.3 * unit(rng)) / n;
            points.push_back(point(cx + s * std::cos(a), cy + s * std::sin(a)));
        }
        return points;
    }
    const double reach = size;
    const double sx = 0.5 + unit(rng), sy = 0.5 + unit(rng);
    // One point of a border lasso far out: a spike the clipping cuts off.
    const int far = kind == 4 ? static_cast<int>(unit(rng) * 8) : -1;
    const int n = (kind == 4 ? 60 : 8) + static_cast<int>(unit(rng) * 100);
    const int lobes = 2 + static_cast<int>(unit(rng) * 6);
    const double phase = unit(rng) * 2 * kPi;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / n;
        double r = kind == 1 ? reach * (0.65 + 0.3 * std::sin(lobes * a + phase)) : reach;
        if (i == far) r += 2000 + 4000 * unit(rng);
        points.push_back(point(cx + r * sx * std::cos(a), cy + r * sy * std::sin(a)));
    }
    return points;
}

// Distance from (x, y) to the segment a–b.
double SegmentDistance(double x, double y, const osg::Vec2f& a, const osg::Vec2f& b)
{
    const double dx = static_cast<double>(b.x()) - a.x(), dy = static_cast<double>(b.y()) - a.y();
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - a.x()) * dx + (y - a.y()) * dy) / len2 : 0.0;
    t = std::max(0.0, std::min(1.0, t));
    const double ex = a.x() + t * dx - x, ey = a.y() + t * dy - y;
    return std::sqrt(ex * ex + ey * ey);
}

// The edges of the triangulation that only one triangle has, filed in
// square cells so that a pixel looks only at the edges passing near it.
class BoundaryEdges {
public:
    // Only pixels of the viewport v are asked about.
    BoundaryEdges(const std::vector<osg::Vec2f>& corners, const Viewport& v)
    {
        std::map<std::pair<std::pair<float, float>, std::pair<float, float>>, int> uses;
        for (size_t t = 0; t + 2 < corners.size(); t += 3)
            for (int e = 0; e < 3; ++e) {
                std::pair<float, float> a(corners[t + e].x(), corners[t + e].y());
                std::pair<float, float> b(corners[t + (e + 1) % 3].x(), corners[t + (e + 1) % 3].y());
                if (b < a) std::swap(a, b);
                ++uses[{a, b}];
            }
        for (const auto& u : uses)
            if (u.second == 1)
                edges.push_back({osg::Vec2f(u.first.first.first, u.first.first.second),
                                 osg::Vec2f(u.first.second.first, u.first.second.second)});
        for (size_t k = 0; k < edges.size(); ++k) {
            const osg::Vec2f &a = edges[k].first, &b = edges[k].second;
            const long x0 = std::max(Cell(v.x), Cell(std::min(a.x(), b.x()) - kBoundaryTolerance)),
                       x1 = std::min(Cell(v.x + v.width), Cell(std::max(a.x(), b.x()) + kBoundaryTolerance));
            const long y0 = std::max(Cell(v.y), Cell(std::min(a.y(), b.y()) - kBoundaryTolerance)),
                       y1 = std::min(Cell(v.y + v.height), Cell(std::max(a.y(), b.y()) + kBoundaryTolerance));
            // Cells along the edge only: its box may be thousands of cells.
            for (long y = y0; y <= y1; ++y)
                for (long x = x0; x <= x1; ++x)
                    if (SegmentDistance((x + 0.5) * kCell, (y + 0.5) * kCell, a, b) <= kCell + kBoundaryTolerance)
                        cells[{x, y}].push_back(k);
        }
    }

    // Whether (x, y) lies within the tolerance of a boundary edge.
    bool Near(double x, double y) const
    {
        const auto found = cells.find({Cell(x), Cell(y)});
        if (found == cells.end()) return false;
        for (size_t k : found->second)
            if (SegmentDistance(x, y, edges[k].first, edges[k].second) <= kBoundaryTolerance) return true;
        return false;
    }

private:
    static constexpr double kCell = 8.0;
    static long Cell(double v) { return static_cast<long>(std::floor(v / kCell)); }

    std::vector<std::pair<osg::Vec2f, osg::Vec2f>> edges;
    std::map<std::pair<long, long>, std::vector<size_t>> cells;
};

struct Comparison {
    std::vector<size_t> differing;  // pixel indices
    size_t interior = 0;            // differing pixels farther than the tolerance from the boundary
};

Comparison Compare(const LassoImage& captured, const LassoCoverage& computed, const Viewport& v,
                   const BoundaryEdges& boundary)
{
    Comparison c;
    const std::vector<unsigned char>& a = captured.LassoImageBytes();
    const std::vector<unsigned char>& b = computed.LassoImageBytes();
    const size_t rowBytes = static_cast<size_t>(v.width) * 3;
    for (size_t p = 0; p < static_cast<size_t>(v.width) * v.height; ++p) {
        // Rows alike byte for byte are passed over whole.
        if (p % v.width == 0 && std::memcmp(&a[p * 3], &b[p * 3], rowBytes) == 0) {
            p += v.width - 1;
            continue;
        }
        if ((a[p * 3] != 0) == (b[p * 3] != 0)) continue;
        c.differing.push_back(p);
        const double x = v.x + static_cast<double>(p % v.width) + 0.5, y = v.y + static_cast<double>(p / v.width) + 0.5;
        if (!boundary.Near(x, y)) ++c.interior;
    }
    return c;
}

// What one lasso gave.
struct LassoResult {
    uint32_t index = 0;
    uint32_t drawn = 0;  // 0 where the facade refused it
    uint64_t pointsInView = 0,
             differing = 0, interior = 0, wrongRuleInterior = 0;
    uint64_t fieldNodes = 0, fieldNodesCompared = 0, fieldMismatches = 0;
};

LassoResult RunLasso(SceneFixture& scene, ParticleSelection& selection, uint32_t index,
                     const std::vector<osg::Vec2f>& lasso, const Viewport& v)
{
    LassoResult r;
    r.index = index;
    osg::Camera* camera = scene.viewer->getCamera();
    const osg::Viewport* current = camera->getViewport();
    if (current->x() != v.x || current->width() != v.width || current->height() != v.height) {
        camera->setViewport(v.x, v.y, v.width, v.height);
        scene.LookAt(osg::Vec3d(0, 0, 16), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 40.0, 1.0, 40.0);
    }
    DrawLasso(selection, 1, lasso);
    if (!selection.GetendPathTag()) return r;  // too few distinct points
    const unsigned before = scene.capture->frames;
    scene.viewer->frame();
    selection.SetendPathTag(false);
    // As the view does after the frame. With no technique set it builds
    // nothing, but it ends the lasso: its points would otherwise open the
    // next one.
    selection.BuildGeometry();
    if (scene.capture->frames != before + 1 || scene.capture->width != v.width || scene.capture->height != v.height)
        return r;
    r.drawn = 1;

    const std::vector<osg::Vec2f>& corners = selection.GetFlatTriangleWindowCorners();
    const BoundaryEdges boundary(corners, v);
    LassoCoverage computed, wrong;
    computed.Rasterize(corners, v.x, v.y, v.width, v.height);
    wrong.Rasterize(corners, v.x, v.y, v.width, v.height, LassoCoverage::EdgeRule::NoEdges);
    const Comparison c = Compare(*scene.capture, computed, v, boundary);
    r.wrongRuleInterior = Compare(*scene.capture, wrong, v, boundary).interior;
    for (const osg::Vec2f& p : lasso) r.pointsInView += p.x() >= v.x && p.x() < v.x + v.width && p.y() >= v.y && p.y() < v.y + v.height;
    r.differing = c.differing.size();
    r.interior = c.interior;
    if (index % 20 != 0) return r;

    // Both lasso volumes' fields, from either image.
    std::vector<bool> differs(static_cast<size_t>(v.width) * v.height, false);
    for (size_t p : c.differing) differs[p] = true;
    for (LassoImageBounds bounds : {LassoImageBounds::IncludeLeftBottomEdge, LassoImageBounds::ExcludeEdges}) {
        const osg::Matrixf model;
        LassoProjection fromCapture(scene.viewer.get(), lasso, model, bounds);
        LassoProjection fromCoverage(scene.viewer.get(), lasso, model, bounds, &computed);
        ScalarField3D a(-6, 6, 24, -6, 6, 24, -6, 6, 24), b = a;
        fromCapture.FillField(a);
        fromCoverage.FillField(b);
        for (int z = 0; z < a.zCount; ++z)
            for (int y = 0; y < a.yCount; ++y)
                for (int x = 0; x < a.xCount; ++x) {
                    ++r.fieldNodes;
                    const osg::Vec3d w =
                        fromCapture.WindowPosition(fromCapture.EyePosition(LassoProjection::NodePosition(a, x, y, z)));
                    const double col = std::floor(w.x() - v.x), row = std::floor(w.y() - v.y);
                    if (col >= 0 && col < v.width && row >= 0 && row < v.height &&
                        differs[static_cast<size_t>(row) * v.width + static_cast<size_t>(col)])
                        continue;
                    ++r.fieldNodesCompared;
                    const int n = a.NodeIndex(x, y, z);
                    r.fieldMismatches += std::memcmp(&a.values[n], &b.values[n], sizeof(double)) != 0;
                }
    }
    return r;
}

// Runs lassos [first, last) in a child process with a display connection of
// its own, one result each through the pipe it returns the reading end of.
// Should Triangle end the process on a lasso, the results before it stay.
struct Child {
    pid_t pid;
    int results;
    size_t first, last;
};

Child StartChild(const std::vector<std::vector<osg::Vec2f>>& lassos, const std::vector<Viewport>& viewports,
                 size_t first, size_t last)
{
    int ends[2];
    if (pipe(ends) != 0) return {-1, -1, first, last};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);  // Triangle's and the facade's console lines
        SceneFixture scene(nullptr, 640, 480);
        scene.UseLassoCamera();
        osg::ref_ptr<osg::GraphicsContext> gc = DrawViewerOffscreen(*scene.viewer, 640, 480);
        if (!gc) _exit(3);
        ParticleSelection selection(scene.viewer.get(), scene.viewer->getCamera(), nullptr, nullptr);
        scene.dataTransform->addChild(selection.GetSelectionNode());
        scene.lassoCamera->addChild(selection.GetFlatTriangles());
        for (size_t i = first; i < last; ++i) {
            const LassoResult r = RunLasso(scene, selection, static_cast<uint32_t>(i), lassos[i], viewports[i]);
            if (write(ends[1], &r, sizeof r) != sizeof r) _exit(2);
        }
        _exit(0);
    }
    close(ends[1]);
    return {child, ends[0], first, last};
}

// Every lasso's result, from children running side by side on ranges of
// them (the capture's read-back dominates and runs on one processor); a
// range a child ended early in goes on after the lasso it ended on.
std::vector<LassoResult> RunAll(const std::vector<std::vector<osg::Vec2f>>& lassos,
                                const std::vector<Viewport>& viewports, size_t& aborted)
{
    // Ranges of equal pixel counts: a frame costs about its viewport's size.
    const size_t parts = std::max<size_t>(4, std::thread::hardware_concurrency());
    double total = 0;
    for (const Viewport& v : viewports) total += double(v.width) * v.height;
    std::vector<std::pair<size_t, size_t>> pending;
    double sum = 0;
    size_t first = 0;
    for (size_t i = 0; i < lassos.size(); ++i) {
        sum += double(viewports[i].width) * viewports[i].height;
        if (sum >= total * (pending.size() + 1) / parts || i + 1 == lassos.size()) {
            pending.push_back({first, i + 1});
            first = i + 1;
        }
    }
    std::vector<LassoResult> results;
    aborted = 0;
    while (!pending.empty()) {
        std::vector<Child> children;
        for (const auto& range : pending) children.push_back(StartChild(lassos, viewports, range.first, range.second));
        pending.clear();
        std::vector<std::vector<LassoResult>> got(children.size());
        std::vector<pollfd> fds;
        for (const Child& c : children) fds.push_back({c.results, POLLIN, 0});
        for (size_t open = children.size(); open > 0;) {
            if (poll(fds.data(), fds.size(), -1) < 0) break;
            for (size_t k = 0; k < fds.size(); ++k) {
                if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                LassoResult r;
                if (read(fds[k].fd, &r, sizeof r) == sizeof r) {
                    got[k].push_back(r);
                    continue;
                }
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
        for (size_t k = 0; k < children.size(); ++k) {
            waitpid(children[k].pid, nullptr, 0);
            results.insert(results.end(), got[k].begin(), got[k].end());
            const size_t next = children[k].first + got[k].size();
            if (next < children[k].last) {
                if (got[k].empty() && children[k].first == 0) return results;  // no display at all
                ++aborted;
                if (next + 1 < children[k].last) pending.push_back({next + 1, children[k].last});
            }
        }
    }
    return results;
}

}  // namespace

TEST(LassoCoverageAgainstCapture, DiffersOnlyOnTheBoundaryAndNotInTheFields)
{
    const char* count = std::getenv("TRELLAN_COVERAGE_LASSOS");
    const int lassos = count ? std::atoi(count) : 500;
    std::mt19937 rng(20261209);
    std::vector<std::vector<osg::Vec2f>> shapes;
    std::vector<Viewport> viewports;
    for (int i = 0; i < lassos; ++i) {
        // A block of lassos per viewport size: the lasso camera's buffer is
        // made anew at each change.
        viewports.push_back(kViewports[i * 4 / lassos]);
        shapes.push_back(RandomLasso(rng, i % 5, viewports.back()));
    }
    size_t aborted = 0;
    const std::vector<LassoResult> results = RunAll(shapes, viewports, aborted);
    ASSERT_FALSE(results.empty()) << "no lasso ran (no display?)";
    LassoResult sum;
    size_t differingLassos = 0;
    for (const LassoResult& r : results) {
        EXPECT_EQ(r.interior, 0u) << "lasso " << r.index << " (kind " << r.index % 5 << "): " << r.interior
                                  << " pixels differ away from the boundary";
        sum.drawn += r.drawn;
        sum.pointsInView += r.pointsInView;
        sum.differing += r.differing;
        sum.interior += r.interior;
        sum.wrongRuleInterior += r.wrongRuleInterior;
        sum.fieldNodes += r.fieldNodes;
        sum.fieldNodesCompared += r.fieldNodesCompared;
        sum.fieldMismatches += r.fieldMismatches;
        differingLassos += r.differing > 0;
    }
    std::printf("%d lassos, %zu where Triangle ended the process, %u drawn (%llu of their points within the viewport); %zu lassos and "
                "%llu pixels differ, %llu of them farther than 1/128 pixel from the boundary; with centres on "
                "edges left out %llu would; field nodes compared bit for bit %llu of %llu, %llu differ\n",
                lassos, aborted, sum.drawn, static_cast<unsigned long long>(sum.pointsInView), differingLassos,
                static_cast<unsigned long long>(sum.differing), static_cast<unsigned long long>(sum.interior),
                static_cast<unsigned long long>(sum.wrongRuleInterior),
                static_cast<unsigned long long>(sum.fieldNodesCompared),
                static_cast<unsigned long long>(sum.fieldNodes), static_cast<unsigned long long>(sum.fieldMismatches));
    EXPECT_GT(sum.drawn, static_cast<uint32_t>(lassos) * 9 / 10);
    EXPECT_LE(aborted, static_cast<size_t>(lassos) / 100 + 1);
    EXPECT_EQ(sum.interior, 0u);
    EXPECT_EQ(sum.fieldMismatches, 0u);
    EXPECT_GT(sum.fieldNodesCompared, sum.fieldNodes / 2);
    // The comparison can tell a wrong rule: shared edges through pixel
    // centres leave holes inside the lasso.
    EXPECT_GT(sum.wrongRuleInterior, 0u);
}
