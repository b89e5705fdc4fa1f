#pragma once
// ExitCode: the exit statuses that Pravik, trellan-select and trellan-summary
// share, so that a script can tell a mistake on the command line from a run
// that failed.
//
// In: the program's name and what is wrong. Out: the four codes, and the one
// line a command-line mistake gets on standard error. Cost: none.
#include <cstdio>
#include <string>

enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1,  // a file, the data, the display or a lasso failed
    kExitUsage = 2,    // the command line is wrong; one line says what
    kExitDiffers = 3,  // trellan-select --replay: a count differs from the log
};

// The sentence each program's --help ends with.
#define TRELLAN_EXIT_CODES_HELP \
    "exit status: 0 success, 1 failure, 2 command-line mistake, 3 (--replay) counts that differ from the log"

// The one line a mistake gets, whatever found it: a parser or a later check.
inline void PrintCommandLineMistake(const std::string& program, const std::string& what)
{
    std::fprintf(stderr, "%s: %s (see %s --help)\n", program.c_str(), what.c_str(), program.c_str());
}
