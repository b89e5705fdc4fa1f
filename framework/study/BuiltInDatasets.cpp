#include "framework/study/BuiltInDatasets.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

namespace {

// Half the side of the cube that holds every built-in particle.
const double kHalfBox = 50.0;
// Share of background noise in every built-in cloud.
const double kNoiseShare = 0.15;

// SplitMix64: tiny, fast and fully specified, so clouds never depend on the
// standard library's engines or distributions.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1) with 53 random bits.
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    // Uniform integer in [0, n), n > 0, by 128-bit multiply (no modulo bias worth noting).
    uint64_t Below(uint64_t n) { return static_cast<uint64_t>((static_cast<unsigned __int128>(Next()) * n) >> 64); }
    // Standard normal by Marsaglia's polar method; the spare value is kept.
    double Normal()
    {
        if (hasSpare) {
            hasSpare = false;
            return spare;
        }
        double u, v, s;
        do {
            u = 2.0 * Uniform() - 1.0;
            v = 2.0 * Uniform() - 1.0;
            s = u * u + v * v;
        } while (s >= 1.0 || s == 0.0);
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        spare = v * f;
        hasSpare = true;
        return u * f;
    }

private:
    uint64_t state;
    double spare = 0.0;
    bool hasSpare = false;
};

struct Point {
    double x, y, z;
};

bool InsideBox(const Point& p)
{
    return std::fabs(p.x) <= kHalfBox && std::fabs(p.y) <= kHalfBox && std::fabs(p.z) <= kHalfBox;
}

// One structure of a cloud: its share of the structure particles and a
// sampler; samples outside the box are drawn again.
struct Structure {
    double share;
    std::function<Point(Random&)> sample;
};

Point Gaussian(Random& r, const Point& c, double sigma)
{
    const double x = c.x + sigma * r.Normal();
    const double y = c.y + sigma * r.Normal();
    const double z = c.z + sigma * r.Normal();
    return {x, y, z};
}

// Structures first, in order, then the noise, then one shuffle so that labels
// are not sorted along the particle order.
void Fill(const std::vector<Structure>& structures, uint64_t seed, size_t count, BuiltInDataset& out)
{
    Random r(seed);
    const size_t noise = static_cast<size_t>(std::llround(kNoiseShare * static_cast<double>(count)));
    const size_t dense = count - noise;
    double shareSum = 0.0;
    for (const Structure& s : structures) shareSum += s.share;

    std::vector<Point> points;
    std::vector<int> labels;
    points.reserve(count);
    labels.reserve(count);
    size_t placed = 0;
    for (size_t k = 0; k < structures.size(); ++k) {
        size_t n = k + 1 == structures.size()
                       ? dense - placed
                       : static_cast<size_t>(std::llround(structures[k].share / shareSum * dense));
        if (n > dense - placed) n = dense - placed;
        for (size_t i = 0; i < n; ++i) {
            Point p;
            do p = structures[k].sample(r);
            while (!InsideBox(p));
            points.push_back(p);
            labels.push_back(static_cast<int>(k) + 1);
        }
        placed += n;
    }
    for (size_t i = 0; i < noise; ++i) {
        const double x = r.Uniform(-kHalfBox, kHalfBox);
        const double y = r.Uniform(-kHalfBox, kHalfBox);
        const double z = r.Uniform(-kHalfBox, kHalfBox);
        points.push_back({x, y, z});
        labels.push_back(0);
    }
    for (size_t i = points.size(); i > 1; --i) {
        const size_t j = static_cast<size_t>(r.Below(i));
        std::swap(points[i - 1], points[j]);
        std::swap(labels[i - 1], labels[j]);
    }

    out.positions = new osg::Vec3Array;
    out.positions->reserve(points.size());
    for (const Point& p : points)
        out.positions->push_back(osg::Vec3f(static_cast<float>(p.x), static_cast<float>(p.y),
                                            static_cast<float>(p.z)));
    out.labels = std::move(labels);
}

std::vector<Structure> Clusters()
{
    struct Blob {
        double share;
        Point centre;
        double sigma;
    };
    // Sizes from very compact to broad, so densities span two orders of magnitude.
    const Blob blobs[] = {
        {0.30, {-20, -15, 10}, 4.0}, {0.20, {18, 20, -12}, 2.0}, {0.15, {25, -22, 20}, 6.0},
        {0.15, {-25, 25, -25}, 1.2}, {0.10, {0, 0, 0}, 3.0},     {0.10, {-5, -30, -30}, 0.7},
    };
    std::vector<Structure> s;
    for (const Blob& b : blobs) s.push_back({b.share, [b](Random& r) { return Gaussian(r, b.centre, b.sigma); }});
    return s;
}

std::vector<Structure> Disk()
{
    const double scaleLength = 12.0, outerRadius = 40.0, thickness = 0.6;
    const double tilt = 0.5235987755982988;  // 30 degrees about x
    const double turn = 0.3490658503988659;  // then 20 degrees about z
    auto place = [=](double x, double y, double z) {
        const double y1 = y * std::cos(tilt) - z * std::sin(tilt);
        const double z1 = y * std::sin(tilt) + z * std::cos(tilt);
        const double x2 = x * std::cos(turn) - y1 * std::sin(turn);
        const double y2 = x * std::sin(turn) + y1 * std::cos(turn);
        return Point{x2, y2, z1};
    };
    Structure disk{0.70, [=](Random& r) {
                       double radius;
                       do radius = -scaleLength * std::log(1.0 - r.Uniform());
                       while (radius > outerRadius);
                       const double angle = 6.283185307179586 * r.Uniform();
                       return place(radius * std::cos(angle), radius * std::sin(angle), thickness * r.Normal());
                   }};
    Structure bulge{0.15, [](Random& r) { return Gaussian(r, {0, 0, 0}, 3.0); }};
    return {disk, bulge};
}

std::vector<Structure> Filaments()
{
    const Point knot{5, -5, 0};
    struct Curve {
        Point control, end;
        double width;
    };
    const Curve curves[] = {
        {{-20, 20, -5}, {-40, 30, 20}, 0.6}, {{25, 5, -25}, {35, 35, -30}, 1.0},
        {{30, -10, 5}, {40, -40, 25}, 1.5},  {{-5, -35, -5}, {-35, -40, -35}, 0.8},
        {{10, 15, 30}, {0, 40, 40}, 2.0},
    };
    std::vector<Structure> s;
    for (const Curve& c : curves) {
        // Quadratic Bezier from the knot through the control point's pull to the end.
        s.push_back({0.14, [c, knot](Random& r) {
                         const double t = r.Uniform(), a = (1 - t) * (1 - t), b = 2 * (1 - t) * t, d = t * t;
                         const Point on{a * knot.x + b * c.control.x + d * c.end.x,
                                        a * knot.y + b * c.control.y + d * c.end.y,
                                        a * knot.z + b * c.control.z + d * c.end.z};
                         return Gaussian(r, on, c.width);
                     }});
    }
    s.push_back({0.15, [knot](Random& r) { return Gaussian(r, knot, 1.5); }});
    return s;
}

struct Recipe {
    const char* name;
    size_t standardCount;
    uint64_t seed;
    std::vector<Structure> (*structures)();
};

const Recipe kRecipes[] = {
    {"clusters", 300000, 0x636C7573ull, Clusters},
    {"disk", 250000, 0x6469736Bull, Disk},
    {"filaments", 200000, 0x66696C61ull, Filaments},
};

}  // namespace

const std::vector<std::string>& BuiltInDatasets::Names()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const Recipe& r : kRecipes) n.push_back(r.name);
        return n;
    }();
    return names;
}

int BuiltInDatasets::Find(const std::string& name)
{
    const std::vector<std::string>& names = Names();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

bool BuiltInDatasets::Generate(const std::string& name, BuiltInDataset& out, size_t particleCount)
{
    out = BuiltInDataset();
    const int index = Find(name);
    if (index < 0) return false;
    const Recipe& recipe = kRecipes[index];
    out.name = recipe.name;
    Fill(recipe.structures(), recipe.seed, particleCount == 0 ? recipe.standardCount : particleCount, out);
    return true;
}
