#pragma once
// ReplayLog: a session's lasso log read back as each trial's steps in the
// order they happened: its lassos and, when the events log lies beside it
// (EventsLog::PathFor), the undo, redo, clear and threshold rows placed after
// the lasso they followed. A log written before the events log existed gives
// its lassos alone.
//
// In: the lasso log's path. Out: trials in the order they first appear, each
// with its steps; or one problem "file:line: what". Cost: both files read
// whole. Plain C++ (no Qt): the command-line replay tool uses it too.
#include "framework/runner/LassoRecord.h"

#include <string>
#include <vector>

struct ReplayStep {
    enum Kind { Lasso, Undo, Redo, Clear, Threshold };

    Kind kind = Lasso;
    double time = 0.0;          // seconds since the trial started
    std::string technique;      // a lasso's: a registered technique's name
    LassoRecord lasso;          // a lasso's mode, threshold, camera and points (one point: a click)
    float threshold = 1.0f;     // the threshold the step was made at
    long long logged = -1;      // the selected count the log holds; -1: none
    std::string where;          // file:line of its row

    const char* KindName() const;
};

struct ReplayTrial {
    std::string participant;
    std::string trial;
    std::string dataset;        // the study's id of the trial's dataset
    std::vector<ReplayStep> steps;
};

class ReplayLog {
public:
    bool Read(const std::string& lassosPath, std::string& error);

    const std::vector<ReplayTrial>& Trials() const { return trials; }
    // Whether the events log was there (and read).
    bool HasEvents() const { return hasEvents; }
    const std::string& EventsPath() const { return eventsPath; }

private:
    std::vector<ReplayTrial> trials;
    bool hasEvents = false;
    std::string eventsPath;
};
