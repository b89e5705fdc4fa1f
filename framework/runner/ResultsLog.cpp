#include "framework/runner/ResultsLog.h"

#include "framework/runner/CsvFormat.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string Header(const std::vector<std::string>& columns)
{
    std::vector<std::string> fields;
    for (const std::string& c : columns) fields.push_back(CsvFormat::Field(c));
    return CsvFormat::Record(fields);
}

// Sixteen numbers in the order osg::Matrixd keeps them (row by row), at full
// double precision so a replay computes the same screen positions.
std::string MatrixText(const osg::Matrixd& m)
{
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i) text += ' ';
        text += CsvFormat::Number(m.ptr()[i], 17);
    }
    return text;
}

// "x y;x y;...": nine digits hold a single-precision point exactly.
std::string PointsText(const std::vector<osg::Vec2f>& points)
{
    std::string text;
    for (size_t i = 0; i < points.size(); ++i) {
        if (i) text += ';';
        text += CsvFormat::Number(points[i].x(), 9) + ' ' + CsvFormat::Number(points[i].y(), 9);
    }
    return text;
}

}  // namespace

const std::vector<std::string>& ResultsLog::TrialColumns()
{
    static const std::vector<std::string> columns = {
        "participant", "condition", "trial", "practice", "dataset", "technique", "target_size",
        "completion_time_s", "lassos_plus", "lassos_minus", "lassos_intersection", "undos", "redos", "clears",
        "threshold_changes", "final_threshold", "selected", "true_positives", "precision", "recall", "f1",
        "trial_name", "started_utc", "rotations", "input", "touch_only", "pilot"};
    return columns;
}

const std::vector<std::string>& ResultsLog::LassoColumns()
{
    static const std::vector<std::string> columns = {
        "participant", "trial", "lasso", "time_s", "dataset", "mode", "technique", "threshold",
        "viewport_width", "viewport_height", "model_matrix", "view_matrix", "projection_matrix", "points",
        "selected", "viewport_x", "viewport_y", "pilot"};
    return columns;
}

const char* ResultsLog::ModeName(LassoRecord::Mode mode)
{
    switch (mode) {
    case LassoRecord::Plus: return "plus";
    case LassoRecord::Minus: return "minus";
    case LassoRecord::Intersection: return "intersection";
    }
    return "plus";
}

std::string ResultsLog::TrialRecordText(const TrialRow& r)
{
    using C = CsvFormat;
    return C::Record({C::Integer(r.participant), C::Integer(r.condition), C::Integer(r.trial),
                      r.practice ? "1" : "0", C::Field(r.dataset), C::Field(r.technique), C::Integer(r.targetSize),
                      C::Number(r.completionTime, 9), C::Integer(r.lassos[0]), C::Integer(r.lassos[1]),
                      C::Integer(r.lassos[2]), C::Integer(r.undos), C::Integer(r.redos), C::Integer(r.clears),
                      C::Integer(r.thresholdChanges), C::Number(r.finalThreshold, 9), C::Integer(r.selected),
                      C::Integer(r.truePositives), C::Number(r.precision, 9), C::Number(r.recall, 9),
                      C::Number(r.f1, 9), C::Field(r.trialName), C::Field(r.startedUtc), C::Integer(r.rotations),
                      C::Field(r.input), r.touchOnly ? "1" : "0", r.pilot ? "1" : "0"});
}

std::string ResultsLog::LassoRecordText(const LassoRow& r)
{
    using C = CsvFormat;
    const LassoRecord& l = r.record;
    return C::Record({C::Integer(r.participant), C::Integer(r.trial), C::Integer(r.lasso), C::Number(r.sinceStart, 9),
                      C::Field(r.dataset), ModeName(l.mode), C::Field(r.technique), C::Number(l.threshold, 9),
                      C::Integer(l.viewportWidth), C::Integer(l.viewportHeight), MatrixText(l.model),
                      MatrixText(l.view), MatrixText(l.projection), PointsText(l.points),
                      C::Integer(l.selectedAfter), C::Integer(l.viewportX), C::Integer(l.viewportY),
                      r.pilot ? "1" : "0"});
}

std::string EarlierTrials::Field(size_t row, const std::string& name) const
{
    const auto it = std::find(header.begin(), header.end(), name);
    if (it == header.end() || row >= rows.size()) return {};
    return rows[row][static_cast<size_t>(it - header.begin())];
}

std::vector<EarlierTrials> ResultsLog::ReadEarlierTrials(const std::string& folder, int participantId)
{
    std::vector<EarlierTrials> files;
    const QDir dir(QString::fromStdString(folder));
    const QRegularExpression name(QStringLiteral("^P%1_trials(?:_(\\d+))?\\.csv$").arg(participantId));
    for (const QString& entry : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch m = name.match(entry);
        if (!m.hasMatch()) continue;
        EarlierTrials f;
        f.path = dir.filePath(entry).toStdString();
        f.session = m.captured(1).isEmpty() ? 1 : m.captured(1).toInt();
        std::ifstream in(f.path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::vector<std::string>> records = CsvFormat::Parse(text.str());
        if (!records.empty()) f.header = records[0];
        // Record r is on line r + 1: the files hold no line breaks inside fields.
        for (size_t r = 1; r < records.size(); ++r) {
            if (records[r].size() != f.header.size()) continue;
            f.rows.push_back(std::move(records[r]));
            f.lines.push_back(static_cast<int>(r) + 1);
        }
        files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(),
              [](const EarlierTrials& a, const EarlierTrials& b) { return a.session < b.session; });
    return files;
}

bool ResultsLog::Open(const std::string& folder, int participantId, std::string& error)
{
    Close();
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        error = folder + ": cannot create the results folder";
        return false;
    }
    const std::string base = folder + "/P" + std::to_string(participantId);
    for (int session = 1; session < 10000; ++session) {
        const std::string suffix = session == 1 ? "" : "_" + std::to_string(session);
        const std::string trialsPath = base + "_trials" + suffix + ".csv";
        const std::string lassosPath = base + "_lassos" + suffix + ".csv";
        // Both names of a session carry the same suffix, so a pair is taken
        // when either of them exists.
        if (QFile::exists(QString::fromStdString(trialsPath)) || QFile::exists(QString::fromStdString(lassosPath)))
            continue;
        DurableCsvFile::CreateResult r = trials.Create(trialsPath, Header(TrialColumns()), error);
        if (r == DurableCsvFile::Exists) continue;
        if (r == DurableCsvFile::Failed) return false;
        r = lassos.Create(lassosPath, Header(LassoColumns()), error);
        if (r == DurableCsvFile::Exists) {
            // Another session took the lasso name in between; its trials file
            // stays behind with only a header, and we move on.
            trials.Close();
            continue;
        }
        if (r == DurableCsvFile::Failed) {
            // Neither file of a session that never started stays behind.
            trials.Close();
            QFile::remove(QString::fromStdString(trialsPath));
            return false;
        }
        return true;
    }
    error = base + ": no free results file name";
    return false;
}

bool ResultsLog::WriteTrial(const TrialRow& row, std::string& error)
{
    return trials.Append(TrialRecordText(row), error);
}

bool ResultsLog::WriteLasso(const LassoRow& row, std::string& error)
{
    return lassos.Append(LassoRecordText(row), error);
}

void ResultsLog::CloseAndRemoveIfEmpty()
{
    if (!HoldsOnlyHeaders()) return Close();
    trials.CloseAndRemoveIfEmpty();
    lassos.CloseAndRemoveIfEmpty();
}

void ResultsLog::Close()
{
    trials.Close();
    lassos.Close();
}
