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

// The document's start: its size, a white page and the title on top.
std::string Opening(double width, double height, const std::string& title)
{
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      N(width) + "\" height=\"" + N(height) + "\" viewBox=\"0 0 " + N(width) + " " + N(height) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + N(width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\">" + Escape(title) +
           "</text>\n";
    return svg;
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

// Grid lines with their values every `step` up to `top`, and both axes.
std::string Axes(double x0, double width, double top, double step)
{
    auto y = [&](double v) { return kTop + kPanelHeight * (1.0 - std::clamp(v, 0.0, top) / top); };
    std::string svg;
    for (double v = 0.0; v <= top + step * 1e-6; v += step) {
        svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(y(v)) + "\" x2=\"" + N(x0 + width) + "\" y2=\"" +
               N(y(v)) + "\" stroke=\"#dddddd\"/>\n";
        svg += "<text x=\"" + N(x0 - 6) + "\" y=\"" + N(y(v) + 4) + "\" text-anchor=\"end\">" +
               CsvFormat::Number(std::round(v / step) * step, 6) + "</text>\n";
    }
    svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(kTop) + "\" x2=\"" + N(x0) + "\" y2=\"" +
           N(kTop + kPanelHeight) + "\" stroke=\"black\"/>\n";
    svg += "<line x1=\"" + N(x0) + "\" y1=\"" + N(kTop + kPanelHeight) + "\" x2=\"" + N(x0 + width) +
           "\" y2=\"" + N(kTop + kPanelHeight) + "\" stroke=\"black\"/>\n";
    return svg;
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
    std::string svg = Opening(width, height, title);
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
        svg += Axes(x0, kPanelWidth, top, step);
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

std::string SummaryPlot::PairedSvg(const std::vector<ParticipantMean>& means, const std::vector<PairedRow>& rows,
                                   const std::vector<std::string>& techniques, const std::string& title)
{
    struct Panel {
        const char* measure;
        const char* label;
        double fixedTop;
    };
    std::vector<Panel> panels;
    for (const Panel& p : {Panel{"completion_time_s", "Completion time (s)", 0.0}, Panel{"f1", "F1", 1.0},
                           Panel{"tlx", "NASA-TLX (raw, 0-100)", 100.0}}) {
        const bool present = std::any_of(means.begin(), means.end(),
                                         [&](const ParticipantMean& m) { return m.measure == p.measure; });
        if (present) panels.push_back(p);
    }
    size_t pairs = 0;
    for (const Panel& p : panels)
        pairs = std::max<size_t>(pairs, std::count_if(rows.begin(), rows.end(),
                                                      [&](const PairedRow& r) { return r.measure == p.measure; }));
    const double panelWidth = std::max(240.0, 90.0 * techniques.size());
    const double textHeight = 16.0 * pairs + 40.0;
    const double width = kLeft + panels.size() * (panelWidth + kGap);
    const double height = kTop + kPanelHeight + 40.0 + textHeight;
    std::string svg = Opening(width, height, title);

    for (size_t k = 0; k < panels.size(); ++k) {
        const Panel& panel = panels[k];
        const double x0 = kLeft + k * (panelWidth + kGap);
        std::vector<std::vector<double>> values(techniques.size());
        double top = panel.fixedTop;
        for (const ParticipantMean& m : means) {
            if (m.measure != panel.measure) continue;
            const auto it = std::find(techniques.begin(), techniques.end(), m.technique);
            if (it == techniques.end()) continue;
            values[it - techniques.begin()].push_back(m.value);
            if (panel.fixedTop <= 0.0) top = std::max(top, m.value * 1.1);
        }
        if (top <= 0.0) top = 1.0;
        const double step = TickStep(top);
        top = std::ceil(top / step - 1e-9) * step;
        auto y = [&](double v) { return kTop + kPanelHeight * (1.0 - std::clamp(v, 0.0, top) / top); };

        svg += "<g>\n<text x=\"" + N(x0 + panelWidth / 2) + "\" y=\"" + N(kTop - 8) +
               "\" text-anchor=\"middle\" font-weight=\"bold\">" + Escape(std::string(panel.label) +
                                                                           ", per participant") + "</text>\n";
        svg += Axes(x0, panelWidth, top, step);
        const double column = panelWidth / std::max<size_t>(1, techniques.size());
        for (size_t t = 0; t < techniques.size(); ++t) {
            const double cx = x0 + column * (t + 0.5);
            std::vector<double> v = values[t];
            std::sort(v.begin(), v.end());
            svg += "<text x=\"" + N(cx) + "\" y=\"" + N(kTop + kPanelHeight + 18) + "\" text-anchor=\"middle\">" +
                   Escape(techniques[t]) + "</text>\n<text x=\"" + N(cx) + "\" y=\"" +
                   N(kTop + kPanelHeight + 32) + "\" text-anchor=\"middle\" font-size=\"10\">n " +
                   std::to_string(v.size()) + "</text>\n";
            if (v.empty()) continue;
            const double q1 = SampleStatistics::Quantile(v, 0.25), median = SampleStatistics::Quantile(v, 0.5), q3 = SampleStatistics::Quantile(v, 0.75);
            const double half = std::min(24.0, column / 4);
            svg += "<line x1=\"" + N(cx) + "\" y1=\"" + N(y(v.front())) + "\" x2=\"" + N(cx) + "\" y2=\"" +
                   N(y(v.back())) + "\" stroke=\"black\"/>\n";
            svg += "<rect x=\"" + N(cx - half) + "\" y=\"" + N(y(q3)) + "\" width=\"" + N(2 * half) +
                   "\" height=\"" + N(y(q1) - y(q3)) + "\" fill=\"#e8e8e8\" stroke=\"black\"/>\n";
            svg += "<line x1=\"" + N(cx - half) + "\" y1=\"" + N(y(median)) + "\" x2=\"" + N(cx + half) +
                   "\" y2=\"" + N(y(median)) + "\" stroke=\"black\" stroke-width=\"2.5\"/>\n";
            // Points spread sideways by rank, the same every run, so equal
            // values stay apart.
            for (size_t i = 0; i < v.size(); ++i) {
                const double dx = (static_cast<double>(i % 5) - 2.0) * half / 3.0;
                svg += "<circle cx=\"" + N(cx + half * 1.6 + dx * 0.5) + "\" cy=\"" + N(y(v[i])) +
                       "\" r=\"3\" fill=\"white\" stroke=\"black\"/>\n";
            }
        }
        double ty = kTop + kPanelHeight + 56.0;
        svg += "<text x=\"" + N(x0) + "\" y=\"" + N(ty) + "\" font-size=\"11\">Paired difference, mean and 95 % CI:</text>\n";
        for (const PairedRow& r : rows) {
            if (r.measure != panel.measure) continue;
            ty += 16.0;
            svg += "<text x=\"" + N(x0) + "\" y=\"" + N(ty) + "\" font-size=\"11\">" +
                   Escape(r.a + " - " + r.b + ": " + CsvFormat::Number(r.stats.meanDiff, 3) + " [" +
                          CsvFormat::Number(r.stats.ciLow, 3) + ", " + CsvFormat::Number(r.stats.ciHigh, 3) +
                          "], n " + std::to_string(r.stats.n)) +
                   "</text>\n";
        }
        svg += "</g>\n";
    }
    svg += "<text x=\"" + N(kLeft) + "\" y=\"" + N(height - 8) + "\" font-size=\"10\">" +
           Escape(SampleStatistics::IntervalRule) + "</text>\n";
    svg += "</svg>\n";
    return svg;
}
