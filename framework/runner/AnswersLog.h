#pragma once
// AnswersLog: the questionnaire answers of one participant session,
// `P<id>_answers.csv` beside the trials file (with the same session suffix),
// one row per answer, each synced to the disk before Write returns, so a
// crash loses at most the answer being given. Read() gives back what a
// session wrote, so that a questionnaire cut off resumes at its first
// unanswered item and no answer is written twice.
#include "framework/runner/DurableCsvFile.h"

#include <map>
#include <string>
#include <vector>

struct AnswerRow {
    int participant = 0;
    int session = 1;
    bool pilot = false;
    int block = 0;               // the block the questionnaire follows; 0 at the end of the study
    std::string technique;       // the technique it is about; empty when about the whole block or study
    std::string questionnaire;   // "tlx", "sus", "ranking" or the study file's name
    std::string item;
    std::string value;
    std::string timeUtc;         // ISO 8601

    // One questionnaire's place in the study: block, technique, questionnaire.
    std::string Placement() const;
};

class AnswersLog {
public:
    static const std::vector<std::string>& Columns();
    static std::string FileName(int participantId, int session);

    // Creates `path` (never an existing file) with its header.
    bool Create(const std::string& path, std::string& error);
    bool Write(const AnswerRow& row, std::string& error);
    size_t Unsaved() const { return file.Unsaved(); }
    bool Retry(std::string& error) { return file.Retry(error); }
    void Close() { file.Close(); }
    bool IsOpen() const { return file.IsOpen(); }
    bool HoldsOnlyHeader() const { return file.HoldsOnlyHeader(); }
    void CloseAndRemoveIfEmpty() { file.CloseAndRemoveIfEmpty(); }
    std::string Path() const { return file.Path(); }
    // The answers file that goes with a trials file: its last "_trials"
    // becomes "_answers", so both carry the session's suffix.
    static std::string PathFor(const std::string& trialsPath);

    // The participant's complete rows in the answers files of `folder` of
    // session `fromSession` on, in session order; a row cut off by a crash
    // is left out, so its item is asked again.
    static std::vector<AnswerRow> ReadEarlier(const std::string& folder, int participantId, int fromSession);

    static std::string RecordText(const AnswerRow& row);
    // The complete rows of an answers file's text; `problems` gets
    // "name:line: what" for each row that is not one.
    static std::vector<AnswerRow> Parse(const std::string& name, const std::string& text,
                                        std::vector<std::string>& problems);
    // Item -> value of every placement answered in `rows`, a later row of an
    // item replacing an earlier one.
    static std::map<std::string, std::map<std::string, std::string>> ByPlacement(const std::vector<AnswerRow>& rows);

private:
    DurableCsvFile file;
};
