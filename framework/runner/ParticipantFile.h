#pragma once
// ParticipantFile: the participant form's answers, `P<id>_participant.csv`
// in the results folder: a header (participant, pilot, time_utc, then one
// column per form field in the study file's order) and one row, synced to
// the disk before Write returns. A participant fills the form once: a later
// session finds the row and does not ask again. A file left without its row
// (a crash while it was written) is never reused: the row goes to
// `P<id>_participant_2.csv`, and so on.
//
// In: the study file's fields and the values given. Out: the file, or one
// line saying what is wrong. Cost: one small write and fsync.
#include "framework/runner/StudyDefinition.h"

#include <map>
#include <string>
#include <vector>

class ParticipantFile {
public:
    // True when a participant file of `participantId` in `folder` holds its row.
    static bool Answered(const std::string& folder, int participantId);
    // Empty when `values` answer `fields`: every required field given, a
    // number a whole one within its range, a choice one of its choices, and
    // no value for a field the form does not have. Otherwise what is wrong.
    static std::string Check(const std::vector<FormField>& fields, const std::map<std::string, std::string>& values);
    // Writes the checked values (an optional field not given stays empty);
    // `path` gets the file written. False with `error` when it could not be.
    static bool Write(const std::string& folder, int participantId, bool pilot, const std::vector<FormField>& fields,
                      const std::map<std::string, std::string>& values, const std::string& timeUtc,
                      std::string& path, std::string& error);
};
