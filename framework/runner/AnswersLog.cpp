#include "framework/runner/AnswersLog.h"

#include "framework/runner/CsvFormat.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <fstream>
#include <sstream>

const std::vector<std::string>& AnswersLog::Columns()
{
    static const std::vector<std::string> columns = {"participant", "session",  "pilot", "block",   "technique",
                                                     "questionnaire", "item", "value", "time_utc"};
    return columns;
}

std::string AnswerRow::Placement() const
{
    return std::to_string(block) + "/" + technique + "/" + questionnaire;
}

std::string AnswersLog::FileName(int participantId, int session)
{
    return "P" + std::to_string(participantId) + "_answers" + (session == 1 ? "" : "_" + std::to_string(session)) +
           ".csv";
}

std::string AnswersLog::PathFor(const std::string& trialsPath)
{
    const size_t at = trialsPath.rfind("_trials");
    if (at == std::string::npos) return trialsPath + "_answers.csv";
    return trialsPath.substr(0, at) + "_answers" + trialsPath.substr(at + 7);
}

std::vector<AnswerRow> AnswersLog::ReadEarlier(const std::string& folder, int participantId, int fromSession)
{
    const QDir dir(QString::fromStdString(folder));
    const QRegularExpression name(QStringLiteral("^P%1_answers(?:_(\\d+))?\\.csv$").arg(participantId));
    std::vector<std::pair<int, QString>> files;
    for (const QString& entry : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch m = name.match(entry);
        if (!m.hasMatch()) continue;
        const int session = m.captured(1).isEmpty() ? 1 : m.captured(1).toInt();
        if (session >= fromSession) files.push_back({session, entry});
    }
    std::sort(files.begin(), files.end());
    std::vector<AnswerRow> rows;
    for (const auto& f : files) {
        std::ifstream in(dir.filePath(f.second).toStdString(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> problems;
        for (const AnswerRow& a : Parse(f.second.toStdString(), text.str(), problems))
            if (a.participant == participantId) rows.push_back(a);
    }
    return rows;
}

bool AnswersLog::Create(const std::string& path, std::string& error)
{
    std::vector<std::string> header;
    for (const std::string& c : Columns()) header.push_back(CsvFormat::Field(c));
    return file.Create(path, CsvFormat::Record(header), error) == DurableCsvFile::Created;
}

bool AnswersLog::Write(const AnswerRow& row, std::string& error)
{
    return file.Append(RecordText(row), error);
}

std::string AnswersLog::RecordText(const AnswerRow& row)
{
    return CsvFormat::Record({CsvFormat::Integer(row.participant), CsvFormat::Integer(row.session),
                              row.pilot ? "1" : "0", CsvFormat::Integer(row.block), CsvFormat::Field(row.technique),
                              CsvFormat::Field(row.questionnaire), CsvFormat::Field(row.item),
                              CsvFormat::Field(row.value), CsvFormat::Field(row.timeUtc)});
}

std::vector<AnswerRow> AnswersLog::Parse(const std::string& name, const std::string& text,
                                         std::vector<std::string>& problems)
{
    const std::vector<std::vector<std::string>> records = CsvFormat::Parse(text);
    std::vector<AnswerRow> rows;
    if (records.empty()) {
        problems.push_back(name + ": the file is empty");
        return rows;
    }
    std::vector<int> column;
    for (const std::string& c : Columns()) {
        const auto it = std::find(records[0].begin(), records[0].end(), c);
        if (it == records[0].end()) {
            problems.push_back(name + ":1: no column \"" + c + "\"; is this an answers file?");
            return {};
        }
        column.push_back(static_cast<int>(it - records[0].begin()));
    }
    // Record r is on line r + 1: the files hold no line breaks inside fields.
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r];
        if (f.size() == 1 && f[0].empty()) continue;
        const std::string where = name + ":" + std::to_string(r + 1) + ": ";
        if (f.size() != records[0].size()) {
            problems.push_back(where + "has " + std::to_string(f.size()) + " fields, the header " +
                               std::to_string(records[0].size()));
            continue;
        }
        double participant = 0.0, session = 0.0, block = 0.0;
        if (!CsvFormat::ToNumber(f[column[0]], participant) || !CsvFormat::ToNumber(f[column[1]], session) ||
            !CsvFormat::ToNumber(f[column[3]], block) || (f[column[2]] != "0" && f[column[2]] != "1")) {
            problems.push_back(where + "participant, session, pilot or block is not a number");
            continue;
        }
        AnswerRow a;
        a.participant = static_cast<int>(participant);
        a.session = static_cast<int>(session);
        a.pilot = f[column[2]] == "1";
        a.block = static_cast<int>(block);
        a.technique = f[column[4]];
        a.questionnaire = f[column[5]];
        a.item = f[column[6]];
        a.value = f[column[7]];
        a.timeUtc = f[column[8]];
        rows.push_back(a);
    }
    return rows;
}

std::map<std::string, std::map<std::string, std::string>> AnswersLog::ByPlacement(const std::vector<AnswerRow>& rows)
{
    std::map<std::string, std::map<std::string, std::string>> placed;
    for (const AnswerRow& a : rows) placed[a.Placement()][a.item] = a.value;
    return placed;
}
