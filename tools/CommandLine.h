#pragma once
// CommandLine: what the command-line tools share on top of CLI11, so that
// they answer --help, --version and mistakes alike.
//
// In: a CLI::App with the tool's options, and argc/argv. Out: -1 to go on;
// kExitSuccess after --help or --version (printed on standard output);
// kExitUsage after a mistake, said in one line on standard error. Cost: the
// parse.
#include "tools/ExitCode.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#ifndef TRELLAN_VERSION
#error "TRELLAN_VERSION comes from the project's VERSION in CMake"
#endif

// Help, version, the exit codes in the help's last line, and errors reported
// by us rather than by CLI11's two-line default.
inline void SetUpCommandLine(CLI::App& app)
{
    app.set_version_flag("--version", app.get_name() + " " TRELLAN_VERSION, "print the version and exit");
    app.footer(app.get_footer() + (app.get_footer().empty() ? "" : "\n\n") + TRELLAN_EXIT_CODES_HELP);
    app.get_formatter()->column_width(26);
}

inline int ParseCommandLine(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
        return -1;
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitSuccess;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return kExitSuccess;
    } catch (const CLI::ParseError& e) {
        PrintCommandLineMistake(app.get_name(), e.what());
        return kExitUsage;
    }
}
