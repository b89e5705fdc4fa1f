#include "framework/runner/SimulatedParticipant.h"

#include "framework/runner/CsvFormat.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>

#include <algorithm>
#include <cmath>

namespace {

const double kMarginShare = 0.06, kMarginPixels = 8.0, kJitterPixels = 3.0, kStepPixels = 12.0;

}  // namespace

SimulatedParticipant::SimulatedParticipant(std::uint64_t seed, int participantId)
    // One stream per participant: adding a participant changes no other's files.
    : random(seed * 0x9E3779B97F4A7C15ULL + static_cast<std::uint64_t>(participantId))
{
}

// mt19937_64's output is the same everywhere; the standard distributions'
// are not, so uniform and normal values are made from it here.
double SimulatedParticipant::Uniform(double low, double high)
{
    return low + (high - low) * (static_cast<double>(random() >> 11) * 0x1.0p-53);
}

double SimulatedParticipant::Normal(double sd)
{
    // Box-Muller; 1 - u keeps the logarithm's argument above 0.
    const double u = 1.0 - Uniform(0.0, 1.0), v = Uniform(0.0, 1.0);
    return sd * std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
}

double SimulatedParticipant::Length(const std::vector<Point>& outline)
{
    double length = 0.0;
    for (size_t k = 0; k < outline.size(); ++k) {
        const Point& a = outline[k];
        const Point& b = outline[(k + 1) % outline.size()];
        length += std::hypot(b.first - a.first, b.second - a.second);
    }
    return length;
}

std::vector<SimulatedParticipant::Point> SimulatedParticipant::LassoAround(const std::vector<Point>& target)
{
    namespace bg = boost::geometry;
    using BPoint = bg::model::d2::point_xy<double>;
    bg::model::multi_point<BPoint> points;
    for (const Point& p : target) points.push_back(BPoint(p.first, p.second));
    bg::model::polygon<BPoint> hull;
    bg::convex_hull(points, hull);
    // Points on one line have no inside to draw around.
    if (!(std::fabs(bg::area(hull)) > 0.0)) return {};
    std::vector<Point> corners;
    for (const BPoint& p : hull.outer()) corners.push_back({p.x(), p.y()});
    if (corners.size() > 1 && corners.front() == corners.back()) corners.pop_back();
    if (corners.size() < 3) return {};

    double cx = 0.0, cy = 0.0, size = 0.0;
    for (const Point& c : corners) {
        cx += c.first;
        cy += c.second;
    }
    cx /= corners.size();
    cy /= corners.size();
    for (const Point& c : corners) size = std::max(size, std::hypot(c.first - cx, c.second - cy));
    const double margin = kMarginShare * size + kMarginPixels;
    for (Point& c : corners) {
        const double dx = c.first - cx, dy = c.second - cy, r = std::hypot(dx, dy);
        if (r > 0.0) {
            c.first += dx / r * margin;
            c.second += dy / r * margin;
        }
        c.first += Uniform(-kJitterPixels, kJitterPixels);
        c.second += Uniform(-kJitterPixels, kJitterPixels);
    }
    std::vector<Point> outline;
    for (size_t k = 0; k < corners.size(); ++k) {
        const Point& a = corners[k];
        const Point& b = corners[(k + 1) % corners.size()];
        const int steps = std::max(1, static_cast<int>(std::ceil(std::hypot(b.first - a.first, b.second - a.second) /
                                                                 kStepPixels)));
        for (int s = 0; s < steps; ++s)
            outline.push_back({a.first + (b.first - a.first) * s / steps, a.second + (b.second - a.second) * s / steps});
    }
    return outline;
}

double SimulatedParticipant::CompletionTime(int lassos, double outlineLength, int earlierMeasuredTrials,
                                            double techniqueFactor)
{
    const double learning = std::max(0.8, 1.0 - 0.03 * earlierMeasuredTrials);
    return (2.5 + 1.2 * lassos + outlineLength / 900.0) * learning * techniqueFactor * std::exp(Normal(0.15));
}

std::map<std::string, std::string> SimulatedParticipant::Answer(const Questionnaire& q, double meanF1,
                                                                double meanTime,
                                                                const std::map<std::string, double>& liking)
{
    std::map<std::string, std::string> answers;
    const double like = std::clamp(0.5 + (meanF1 - 0.7), 0.0, 1.0);
    for (size_t k = 0; k < q.items.size(); ++k) {
        const QuestionnaireItem& item = q.items[k];
        std::string value;
        if (item.kind == QuestionnaireItem::Choice) {
            std::vector<std::string> left = q.ChoicesLeft(k, answers);
            if (left.empty()) continue;
            // A ranking takes the best liked first; other choices one at random.
            if (q.id == Questionnaire::RankingId) {
                std::stable_sort(left.begin(), left.end(), [&](const std::string& a, const std::string& b) {
                    const auto ia = liking.find(a), ib = liking.find(b);
                    return (ia == liking.end() ? 0.0 : ia->second) > (ib == liking.end() ? 0.0 : ib->second);
                });
                value = left.front();
            } else {
                value = left[static_cast<size_t>(Uniform(0.0, 1.0) * left.size()) % left.size()];
            }
        } else {
            double v;
            if (q.id == Questionnaire::TlxId) {
                v = 20.0 + 60.0 * (1.0 - meanF1) + 2.0 * (meanTime - 10.0) + Normal(8.0);
            } else if (q.id == Questionnaire::SusId) {
                const double agree = k % 2 == 0 ? like : 1.0 - like;  // sus1 is item 0
                v = 1.0 + 4.0 * agree + Normal(0.6);
            } else {
                v = (item.minimum + item.maximum) / 2.0 + Uniform(-1.0, 1.0);
            }
            const double steps = std::round((v - item.minimum) / item.step);
            v = std::clamp(item.minimum + steps * item.step, static_cast<double>(item.minimum),
                           static_cast<double>(item.maximum));
            value = CsvFormat::Integer(static_cast<long long>(v));
        }
        answers[item.id] = value;
    }
    return answers;
}

std::map<std::string, std::string> SimulatedParticipant::FillForm(const std::vector<FormField>& fields)
{
    std::map<std::string, std::string> values;
    for (const FormField& f : fields) {
        if (f.kind == FormField::Number) {
            const double span = static_cast<double>(f.maximum) - f.minimum + 1.0;
            const long long v = f.minimum + std::min(static_cast<long long>(Uniform(0.0, span)),
                                                     static_cast<long long>(span) - 1);
            values[f.id] = CsvFormat::Integer(v);
        } else if (!f.choices.empty()) {
            values[f.id] = f.choices[static_cast<size_t>(Uniform(0.0, 1.0) * f.choices.size()) % f.choices.size()];
        }
    }
    return values;
}
