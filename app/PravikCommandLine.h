#pragma once
// PravikCommandLine: Pravik's options, read with Qt's QCommandLineParser and
// answered like the command-line tools answer theirs (--help, --version, one
// line and exit code 2 for a mistake).
//
// In: the program's arguments, Qt's own (-platform, -display, ...) already
// taken out by ArgumentsWithoutQtOptions, so the line is checked before Qt
// connects to a display. Out: the options, or the exit code when the program
// is to stop now (help, version, mistake), with what it printed. Cost: the
// parse.
//
// A new option is a member of PravikOptions, one entry in the parser set up
// in PravikCommandLine.cpp and one line reading it back.
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

struct PravikOptions {
    QString configFile = QStringLiteral("config.xml");
    bool configGiven = false;
    QString snapshot;  // write a picture of the view there, then exit
    QString studyFile;
    QString render;  // continuous or on-demand; empty: as the configuration says
    bool densityCache = true;  // false: estimate densities afresh and store nothing
    bool participantGiven = false;
    int participant = 0;
    bool restart = false;  // start the participant's study at trial 1 instead of resuming
    std::vector<std::string> datasets;  // files shown instead of the built-ins
    QString dataset;  // the dataset shown first: a built-in name or a file
    QString saveDir;  // Ctrl+S saves there without a file dialog
    QString results;  // a study's results folder instead of the study file's
    bool pilot = false;  // a pilot session: results into the pilot folder, pilot=1 on every row
    QString replay;   // a lasso log whose trial is shown step by step
    QString trial;    // the logged trial to replay (default: the first)
    QString check;    // a study file to check and print the trial order of; nothing runs
};

// The arguments as the application object will leave them: Qt's own
// options (-platform NAME, -display D, -style=S, ...) taken out, so the
// command line can be checked before Qt connects to a display. The names of
// the Qt options taken out go to qtOptions when given.
QStringList ArgumentsWithoutQtOptions(int argc, char** argv, QStringList* qtOptions = nullptr);

// -1 to go on; otherwise the exit code, after the help, the version or the
// mistake was printed.
int ParsePravikCommandLine(const QStringList& arguments, PravikOptions& options);
