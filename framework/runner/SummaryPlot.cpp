#include "framework/runner/SummaryPlot.h"

#include "framework/runner/CsvFormat.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

const double kPanelWidth = 440.0, kPanelHeight = 320.0;
const double kLeft = 70.0, kTop = 70.0, kGap = 90.0, kBottom = 92.0;

std::string N(double v)
{
    return CsvFormat::Number(std::round(v * 100.0) / 100.0, 9);
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

const char* Colour(const std::string& technique, int rank)
{
    if (technique == "density") return "#1f77b4";
    if (technique == "cylinder") return "#ff7f0e";
    static const char* others[] = {"#2ca02c", "#d62728", "#9467bd", "#8c564b"};
    return others[rank % 4];
}

// A step of 1, 2 or 5 times a power of ten giving about five ticks.
double TickStep(double top)
{
    const double raw = top / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10.0 * power;
}

}  // namespace

std::string SummaryPlot::Svg(const std::vector<SummaryGroup>& groups, const std::string& title)
{
    std::vector<std::string> datasets, techniques;
    for (const SummaryGroup& g : groups) {
        if (std::find(datasets.begin(), datasets.end(), g.dataset) == datasets.end()) datasets.push_back(g.dataset);
        if (std::find(techniques.begin(), techniques.end(), g.technique) == techniques.end())
            techniques.push_back(g.technique);
    }
    const double width = kLeft + 2 * kPanelWidth + kGap + 30.0;
    const double height = kTop + kPanelHeight + kBottom;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      N(width) + "\" height=\"" + N(height) + "\" viewBox=\"0 0 " + N(width) + " " + N(height) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + N(width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\">" + Escape(title) +
           "</text>\n";
    // Legend, below both panels.
    double lx = kLeft;
    const double ly = kTop + kPanelHeight + 52.0;
    for (size_t t = 0; t < techniques.size(); ++t) {
        svg += "<circle cx=\"" + N(lx) + "\" cy=\"" + N(ly - 4) + "\" r=\"5\" fill=\"" +
               Colour(techniques[t], static_cast<int>(t)) + "\"/>\n<text x=\"" + N(lx + 10) + "\" y=\"" + N(ly) +
               "\">" + Escape(techniques[t]) + "</text>\n";
        lx += 30.0 + 8.0 * techniques[t].size();
    }

    svg += "<text x=\"" + N(kLeft) + "\" y=\"" + N(ly + 20) + "\" font-size=\"10\">" +
           Escape(SampleStatistics::IntervalRule) + "</text>\n";

    auto panel = [&](double x0, const std::string& label, double fixedTop,
                     const std::function<const SampleStatistics&(const SummaryGroup&)>& stat) {
        double top = fixedTop;
        if (top <= 0.0) {
            for (const SummaryGroup& g : groups) {
                const SampleStatistics& s = stat(g);
                if (std::isfinite(s.mean)) top = std::max(top, s.mean);
                if (std::isfinite(s.High())) top = std::max(top, s.High());
            }
            top = top > 0.0 ? top * 1.1 : 1.0;
        }
        const double step = TickStep(top);
        top = std::ceil(top / step - 1e-9) * step;
        auto y = [&](double v) { return kTop + kPanelHeight * (1.0 - std::clamp(v, 0.0, top) / top); };

        svg += "<g>\n<text x=\"" + N(x0 + kPanelWidth / 2) + "\" y=\"" + N(kTop - 8) +
               "\" text-anchor=\"middle\" font-weight=\"bold\">" + Escape(label) + "</text>\n";
        for (double v = 0.0; v <= top + step * 1e-6; v += step) {
            svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(y(v)) + "\" x2=\"" + N(x0 + kPanelWidth) + "\" y2=\"" +
                   N(y(v)) + "\" stroke=\"#dddddd\"/>\n";
            svg += "<text x=\"" + N(x0 - 6) + "\" y=\"" + N(y(v) + 4) + "\" text-anchor=\"end\">" +
                   CsvFormat::Number(std::round(v / step) * step, 6) + "</text>\n";
        }
        svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(kTop) + "\" x2=\"" + N(x0) + "\" y2=\"" +
               N(kTop + kPanelHeight) + "\" stroke=\"black\"/>\n";
        svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(kTop + kPanelHeight) + "\" x2=\"" + N(x0 + kPanelWidth) +
               "\" y2=\"" + N(kTop + kPanelHeight) + "\" stroke=\"black\"/>\n";
        const double column = kPanelWidth / std::max<size_t>(1, datasets.size());
        for (size_t d = 0; d < datasets.size(); ++d) {
            const double cx = x0 + column * (d + 0.5);
            svg += "<text x=\"" + N(cx) + "\" y=\"" + N(kTop + kPanelHeight + 18) + "\" text-anchor=\"middle\">" +
                   Escape(datasets[d]) + "</text>\n";
            for (size_t t = 0; t < techniques.size(); ++t) {
                const auto it = std::find_if(groups.begin(), groups.end(), [&](const SummaryGroup& g) {
                    return g.dataset == datasets[d] && g.technique == techniques[t];
                });
                if (it == groups.end()) continue;
                const SampleStatistics& s = stat(*it);
                if (!std::isfinite(s.mean)) continue;
                const double offset = (t + 0.5 - techniques.size() / 2.0) * std::min(24.0, column / (techniques.size() + 1));
                const double px = cx + offset;
                const char* colour = Colour(techniques[t], static_cast<int>(t));
                if (std::isfinite(s.Low()) && std::isfinite(s.High())) {
                    svg += "<line x1=\"" + N(px) + "\" y1=\"" + N(y(s.Low())) + "\" x2=\"" + N(px) + "\" y2=\"" +
                           N(y(s.High())) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
                    // A bar cut at the panel's edge gets no cap: the cap would
                    // claim the interval ends there.
                    for (double v : {s.Low(), s.High()})
                        if (v >= 0.0 && v <= top) svg += "<line x1=\"" + N(px - 5) + "\" y1=\"" + N(y(v)) + "\" x2=\"" + N(px + 5) + "\" y2=\"" +
                               N(y(v)) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
                }
                svg += "<circle cx=\"" + N(px) + "\" cy=\"" + N(y(s.mean)) + "\" r=\"4.5\" fill=\"" + colour +
                       "\"><title>" + Escape(techniques[t] + ", " + datasets[d] + ": mean " +
                                            CsvFormat::Number(s.mean, 4) + ", n " + std::to_string(s.n)) +
                       "</title></circle>\n";
                svg += "<text x=\"" + N(px) + "\" y=\"" + N(kTop + kPanelHeight - 4) +
                       "\" text-anchor=\"middle\" font-size=\"9\">n " + std::to_string(s.n) + "</text>\n";
            }
        }
        svg += "</g>\n";
    };
    panel(kLeft, "Completion time (s), mean and 95 % CI", 0.0,
          [](const SummaryGroup& g) -> const SampleStatistics& { return g.time; });
    panel(kLeft + kPanelWidth + kGap, "F1, mean and 95 % CI", 1.0,
          [](const SummaryGroup& g) -> const SampleStatistics& { return g.f1; });
    svg += "</svg>\n";
    return svg;
}
