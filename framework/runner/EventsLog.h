#pragma once
// EventsLog: `P<id>_events.csv` beside a session's lasso log (the same suffix
// as the lasso log: `P<id>_lassos_2.csv` goes with `P<id>_events_2.csv`). One
// row per history command (undo, redo, clear) and per threshold change of a
// running trial, each synced to the disk when written; with the lasso log it
// lets a trial be replayed step by step. A row says after which lasso of the
// trial it happened (0: before the first), so lassos and events interleave
// without comparing times.
//
// In: the rows the study runner hands over. Out: the file. Cost: one write
// and one fsync per row.
#include "framework/runner/DurableCsvFile.h"

#include <string>
#include <vector>

struct EventRow {
    // Rotate: a drag that turned the view (the selection stays as it was).
    enum Command { Undo, Redo, Clear, Threshold, Rotate };

    int participant = 0;
    int trial = 0;
    int afterLasso = 0;          // lassos of the trial logged before this row
    double sinceStart = 0.0;     // seconds since the trial started
    std::string dataset;
    Command command = Undo;
    float threshold = 1.0f;      // the slider's value after the command
    long long selected = -1;     // particles selected afterwards; -1: not known
    bool pilot = false;
};

class EventsLog {
public:
    static const std::vector<std::string>& Columns();
    static const char* CommandName(EventRow::Command command);
    // False when `name` is none of the command names.
    static bool CommandFromName(const std::string& name, EventRow::Command& command);
    // The events log that goes with a lasso log: its last "_lassos" becomes
    // "_events"; a name without one gets "_events" before its extension.
    static std::string PathFor(const std::string& lassosPath);

    // Creates the file that goes with `lassosPath`, with its header row.
    bool Open(const std::string& lassosPath, std::string& error);
    bool Write(const EventRow& row, std::string& error);
    void Close() { file.Close(); }
    bool HoldsOnlyHeader() const { return file.HoldsOnlyHeader(); }
    void CloseAndRemoveIfEmpty() { file.CloseAndRemoveIfEmpty(); }
    size_t Unsaved() const { return file.Unsaved(); }
    bool Retry(std::string& error) { return file.Retry(error); }
    bool IsOpen() const { return file.IsOpen(); }
    std::string Path() const { return file.Path(); }

    static std::string RecordText(const EventRow& row);

private:
    DurableCsvFile file;
};
