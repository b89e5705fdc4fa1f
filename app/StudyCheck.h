#pragma once
// StudyCheck: `Pravik --check STUDY [--participant N]`. Reads and checks the
// whole study file as a session would (every problem listed at once, with its
// file and line), loads its datasets without storing a density cache, and
// prints the trial order of the participant, or of every participant of the
// first Latin-square round without --participant. Writes nothing: no results
// folder, no results file, no cache. Needs no display.
//
// Out: the exit code, 0 when the file has no problem, 1 otherwise.
#include "app/PravikCommandLine.h"

int CheckStudy(const PravikOptions& options);
