#include "framework/runner/EventsLog.h"

#include "framework/runner/CsvFormat.h"

namespace {
const char* const kCommandNames[] = {"undo", "redo", "clear", "threshold", "rotate"};
}

const std::vector<std::string>& EventsLog::Columns()
{
    static const std::vector<std::string> columns = {"participant", "trial", "after_lasso", "time_s",
                                                     "dataset",     "command", "threshold", "selected",
                                                     "pilot"};
    return columns;
}

const char* EventsLog::CommandName(EventRow::Command command)
{
    return kCommandNames[command];
}

bool EventsLog::CommandFromName(const std::string& name, EventRow::Command& command)
{
    for (int c = EventRow::Undo; c <= EventRow::Rotate; ++c) {
        if (name == kCommandNames[c]) {
            command = static_cast<EventRow::Command>(c);
            return true;
        }
    }
    return false;
}

std::string EventsLog::PathFor(const std::string& lassosPath)
{
    const size_t slash = lassosPath.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t at = lassosPath.rfind("_lassos");
    if (at != std::string::npos && at >= nameStart) return lassosPath.substr(0, at) + "_events" + lassosPath.substr(at + 7);
    const size_t dot = lassosPath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return lassosPath + "_events";
    return lassosPath.substr(0, dot) + "_events" + lassosPath.substr(dot);
}

std::string EventsLog::RecordText(const EventRow& r)
{
    using C = CsvFormat;
    return C::Record({C::Integer(r.participant), C::Integer(r.trial), C::Integer(r.afterLasso),
                      C::Number(r.sinceStart, 9), C::Field(r.dataset), CommandName(r.command),
                      C::Number(r.threshold, 9), r.selected < 0 ? std::string() : C::Integer(r.selected), r.pilot ? "1" : "0"});
}

bool EventsLog::Open(const std::string& lassosPath, std::string& error)
{
    Close();
    std::vector<std::string> header;
    for (const std::string& c : Columns()) header.push_back(CsvFormat::Field(c));
    const std::string path = PathFor(lassosPath);
    const DurableCsvFile::CreateResult result = file.Create(path, CsvFormat::Record(header), error);
    // The lasso log's name was free, so this one is too unless a stray file
    // lies there: it is reported, never overwritten.
    if (result == DurableCsvFile::Exists) error = path + ": exists already";
    return result == DurableCsvFile::Created;
}

bool EventsLog::Write(const EventRow& row, std::string& error)
{
    return file.Append(RecordText(row), error);
}
