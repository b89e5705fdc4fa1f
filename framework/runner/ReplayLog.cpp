#include "framework/runner/ReplayLog.h"

#include "geometry/TechniqueRegistry.h"

#include "framework/runner/CsvFormat.h"
#include "framework/runner/EventsLog.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

struct Problem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool ReadText(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

// One file's rows as name -> field lookups, with the line each came from.
class Table {
public:
    Table(const std::string& path, const std::string& text, const std::vector<const char*>& required) : path(path)
    {
        rows = CsvFormat::Parse(text);
        if (rows.empty()) throw Problem(path + ": empty file");
        for (size_t i = 0; i < rows[0].size(); ++i) columns[rows[0][i]] = i;
        for (const char* name : required)
            if (!columns.count(name)) throw Problem(path + ": no column '" + std::string(name) + "'");
    }
    size_t Size() const { return rows.size(); }
    // Rows are records; a quoted line break would shift the line numbers,
    // and the logs never write one.
    std::string Where(size_t row) const { return path + ":" + std::to_string(row + 1); }
    bool Blank(size_t row) const { return rows[row].size() == 1 && rows[row][0].empty(); }
    void CheckWidth(size_t row) const
    {
        if (rows[row].size() != rows[0].size())
            throw Problem(Where(row) + ": expected " + std::to_string(rows[0].size()) + " fields");
    }
    bool Has(const char* name) const { return columns.count(name) != 0; }
    const std::string& Text(size_t row, const char* name) const { return rows[row][columns.at(name)]; }
    double Number(size_t row, const char* name) const
    {
        double v = 0.0;
        if (!CsvFormat::ToNumber(Text(row, name), v) || !std::isfinite(v))
            throw Problem(Where(row) + ": " + name + " '" + Text(row, name) + "' is not a number");
        return v;
    }
    long long Count(size_t row, const char* name) const
    {
        if (!Has(name) || Text(row, name).empty()) return -1;
        return static_cast<long long>(Number(row, name));
    }
    osg::Matrixd Matrix(size_t row, const char* name) const
    {
        std::istringstream words(Text(row, name));
        std::vector<double> v;
        std::string w;
        double x = 0.0;
        while (words >> w) {
            if (!CsvFormat::ToNumber(w, x)) throw Problem(Where(row) + ": " + name + ": '" + w + "' is not a number");
            v.push_back(x);
        }
        if (v.size() != 16) throw Problem(Where(row) + ": " + name + ": expected 16 numbers");
        osg::Matrixd m;
        m.set(v.data());
        return m;
    }
    std::vector<osg::Vec2f> Points(size_t row) const
    {
        std::vector<osg::Vec2f> out;
        std::istringstream in(Text(row, "points"));
        std::string item;
        while (std::getline(in, item, ';')) {
            std::istringstream xy(item);
            std::string a, b, rest;
            double x = 0.0, y = 0.0;
            if (!(xy >> a)) continue;
            if (!(xy >> b) || (xy >> rest) || !CsvFormat::ToNumber(a, x) || !CsvFormat::ToNumber(b, y))
                throw Problem(Where(row) + ": point '" + item + "' is not two numbers");
            out.push_back(osg::Vec2f(static_cast<float>(x), static_cast<float>(y)));
        }
        // One point is a click (of a click technique).
        if (out.size() == 2 || out.empty())
            throw Problem(Where(row) + ": a lasso needs at least 3 points, a click one");
        return out;
    }

private:
    std::string path;
    std::vector<std::vector<std::string>> rows;
    std::map<std::string, size_t> columns;
};

}  // namespace

const char* ReplayStep::KindName() const
{
    switch (kind) {
    case Lasso: return "lasso";
    case Undo: return "undo";
    case Redo: return "redo";
    case Clear: return "clear";
    case Threshold: return "threshold";
    }
    return "lasso";
}

bool ReplayLog::Read(const std::string& lassosPath, std::string& error)
{
    trials.clear();
    hasEvents = false;
    eventsPath = EventsLog::PathFor(lassosPath);
    try {
        std::string text;
        if (!ReadText(lassosPath, text)) throw Problem(lassosPath + ": cannot be read");
        const Table lassos(lassosPath, text,
                           {"participant", "trial", "mode", "technique", "threshold", "viewport_width",
                            "viewport_height", "model_matrix", "view_matrix", "projection_matrix", "points"});
        std::map<std::string, size_t> trialIndex;
        std::vector<size_t> lassoCounts;  // per trial
        auto trialOf = [&](const std::string& participant, const std::string& trial, const std::string& dataset) {
            const std::string key = participant + "/" + trial;
            auto it = trialIndex.find(key);
            if (it != trialIndex.end()) return it->second;
            trials.push_back({participant, trial, dataset, {}});
            lassoCounts.push_back(0);
            return trialIndex[key] = trials.size() - 1;
        };
        for (size_t r = 1; r < lassos.Size(); ++r) {
            if (lassos.Blank(r)) continue;
            lassos.CheckWidth(r);
            ReplayStep s;
            s.where = lassos.Where(r);
            const std::string& mode = lassos.Text(r, "mode");
            s.lasso.mode = mode == "plus"           ? LassoRecord::Plus
                           : mode == "minus"        ? LassoRecord::Minus
                           : mode == "intersection" ? LassoRecord::Intersection
                                                    : throw Problem(s.where + ": unknown mode '" + mode +
                                                                    "' (plus, minus, intersection)");
            s.technique = lassos.Text(r, "technique");
            if (!TechniqueRegistry::Instance().Find(s.technique))
                throw Problem(s.where + ": unknown technique '" + s.technique + "' (" +
                              TechniqueRegistry::Instance().Names() + ")");
            s.threshold = s.lasso.threshold = static_cast<float>(lassos.Number(r, "threshold"));
            s.lasso.viewportWidth = static_cast<int>(lassos.Number(r, "viewport_width"));
            s.lasso.viewportHeight = static_cast<int>(lassos.Number(r, "viewport_height"));
            if (s.lasso.viewportWidth <= 0 || s.lasso.viewportHeight <= 0) throw Problem(s.where + ": empty viewport");
            // The window points include the viewport's offset in the window.
            if (lassos.Has("viewport_x")) s.lasso.viewportX = static_cast<int>(lassos.Number(r, "viewport_x"));
            if (lassos.Has("viewport_y")) s.lasso.viewportY = static_cast<int>(lassos.Number(r, "viewport_y"));
            s.lasso.model = lassos.Matrix(r, "model_matrix");
            s.lasso.view = lassos.Matrix(r, "view_matrix");
            s.lasso.projection = lassos.Matrix(r, "projection_matrix");
            s.lasso.points = lassos.Points(r);
            if (lassos.Has("time_s")) s.time = lassos.Number(r, "time_s");
            s.logged = lassos.Count(r, "selected");
            s.lasso.selectedAfter = s.logged;
            const size_t t = trialOf(lassos.Text(r, "participant"), lassos.Text(r, "trial"),
                                     lassos.Has("dataset") ? lassos.Text(r, "dataset") : std::string());
            trials[t].steps.push_back(s);
            ++lassoCounts[t];
        }
        if (trials.empty()) throw Problem(lassosPath + ": no lasso rows");

        if (!ReadText(eventsPath, text)) return true;  // an older session: lassos only
        hasEvents = true;
        const Table events(eventsPath, text, {"participant", "trial", "after_lasso", "command", "threshold"});
        // Per trial, the events after each lasso (index 0: before the first),
        // in file order; merged with the lassos at the end.
        std::vector<std::vector<std::vector<ReplayStep>>> after(trials.size());
        for (size_t t = 0; t < trials.size(); ++t) after[t].resize(lassoCounts[t] + 1);
        for (size_t r = 1; r < events.Size(); ++r) {
            if (events.Blank(r)) continue;
            events.CheckWidth(r);
            ReplayStep s;
            s.where = events.Where(r);
            EventRow::Command command;
            if (!EventsLog::CommandFromName(events.Text(r, "command"), command))
                throw Problem(s.where + ": unknown command '" + events.Text(r, "command") + "'");
            // A turn of the view selects nothing, and every lasso carries
            // the camera it was drawn in.
            if (command == EventRow::Rotate) continue;
            s.kind = command == EventRow::Undo    ? ReplayStep::Undo
                     : command == EventRow::Redo  ? ReplayStep::Redo
                     : command == EventRow::Clear ? ReplayStep::Clear
                                                  : ReplayStep::Threshold;
            s.threshold = static_cast<float>(events.Number(r, "threshold"));
            if (events.Has("time_s")) s.time = events.Number(r, "time_s");
            s.logged = events.Count(r, "selected");
            const size_t t = trialOf(events.Text(r, "participant"), events.Text(r, "trial"),
                                     events.Has("dataset") ? events.Text(r, "dataset") : std::string());
            if (t >= after.size()) after.resize(t + 1, std::vector<std::vector<ReplayStep>>(1));
            const double k = events.Number(r, "after_lasso");
            if (k < 0 || k >= static_cast<double>(after[t].size()) || k != std::floor(k))
                throw Problem(s.where + ": after_lasso " + events.Text(r, "after_lasso") + " but the trial has " +
                              std::to_string(after[t].size() - 1) + " lassos");
            after[t][static_cast<size_t>(k)].push_back(s);
        }
        for (size_t t = 0; t < trials.size(); ++t) {
            std::vector<ReplayStep> merged;
            size_t lasso = 0;
            for (size_t k = 0; k < after[t].size(); ++k) {
                if (k > 0) merged.push_back(trials[t].steps[lasso++]);
                merged.insert(merged.end(), after[t][k].begin(), after[t][k].end());
            }
            trials[t].steps.swap(merged);
        }
    } catch (const Problem& p) {
        trials.clear();
        error = p.what();
        return false;
    }
    return true;
}
