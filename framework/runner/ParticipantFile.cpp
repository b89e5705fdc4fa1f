#include "framework/runner/ParticipantFile.h"

#include "framework/runner/CsvFormat.h"
#include "framework/runner/DurableCsvFile.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

std::string Name(int participantId, int k)
{
    return "P" + std::to_string(participantId) + "_participant" + (k == 1 ? "" : "_" + std::to_string(k)) + ".csv";
}

}  // namespace

bool ParticipantFile::Answered(const std::string& folder, int participantId)
{
    const QDir dir(QString::fromStdString(folder));
    const QRegularExpression name(QStringLiteral("^P%1_participant(?:_\\d+)?\\.csv$").arg(participantId));
    for (const QString& entry : dir.entryList(QDir::Files)) {
        if (!name.match(entry).hasMatch()) continue;
        std::ifstream in(dir.filePath(entry).toStdString(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::vector<std::vector<std::string>> records = CsvFormat::Parse(text.str());
        for (size_t r = 1; r < records.size(); ++r)
            if (records[r].size() == records[0].size()) return true;
    }
    return false;
}

std::string ParticipantFile::Check(const std::vector<FormField>& fields, const std::map<std::string, std::string>& values)
{
    for (const auto& v : values)
        if (std::none_of(fields.begin(), fields.end(), [&](const FormField& f) { return f.id == v.first; }))
            return "the form has no field \"" + v.first + "\"";
    for (const FormField& f : fields) {
        const auto it = values.find(f.id);
        if (it == values.end() || it->second.empty()) {
            if (f.required) return "\"" + f.label + "\" is not answered";
            continue;
        }
        const std::string& value = it->second;
        if (f.kind == FormField::Number) {
            double v = 0.0;
            if (!CsvFormat::ToNumber(value, v) || v != std::floor(v) || v < f.minimum || v > f.maximum)
                return "\"" + f.label + "\" must be a whole number from " + std::to_string(f.minimum) + " to " +
                       std::to_string(f.maximum) + ", not \"" + value + "\"";
        } else if (std::find(f.choices.begin(), f.choices.end(), value) == f.choices.end()) {
            return "\"" + value + "\" is not one of the choices of \"" + f.label + "\"";
        }
    }
    return {};
}

bool ParticipantFile::Write(const std::string& folder, int participantId, bool pilot,
                            const std::vector<FormField>& fields, const std::map<std::string, std::string>& values,
                            const std::string& timeUtc, std::string& path, std::string& error)
{
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        error = folder + ": cannot create the results folder";
        return false;
    }
    std::vector<std::string> header = {"participant", "pilot", "time_utc"};
    std::vector<std::string> row = {CsvFormat::Integer(participantId), pilot ? "1" : "0", CsvFormat::Field(timeUtc)};
    for (const FormField& f : fields) {
        header.push_back(CsvFormat::Field(f.id));
        const auto it = values.find(f.id);
        row.push_back(CsvFormat::Field(it == values.end() ? std::string() : it->second));
    }
    for (int k = 1; k < 10000; ++k) {
        DurableCsvFile file;
        path = folder + "/" + Name(participantId, k);
        const DurableCsvFile::CreateResult r = file.Create(path, CsvFormat::Record(header), error);
        if (r == DurableCsvFile::Exists) continue;
        if (r == DurableCsvFile::Failed) return false;
        // A row that could not be written is saved beside the file when it
        // closes; the form stays on screen to be sent again.
        if (!file.Append(CsvFormat::Record(row), error)) return false;
        file.Close();
        return true;
    }
    error = folder + "/" + Name(participantId, 1) + ": no free file name";
    return false;
}
