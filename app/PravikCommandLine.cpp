#include "app/PravikCommandLine.h"

#include "tools/ExitCode.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>

#ifndef TRELLAN_VERSION
#error "TRELLAN_VERSION comes from the project's VERSION in CMake"
#endif

namespace {

const char kProgram[] = "Pravik";

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help{{"h", "help"}, "print this help and exit"};
    QCommandLineOption version{"version", "print the version and exit"};
    QCommandLineOption config{"config", "read the configuration from FILE (default config.xml)", "FILE"};
    QCommandLineOption study{"study", "run this study (default study.xml when it exists)", "FILE"};
    QCommandLineOption participant{"participant", "participant id (default: participantID of config.xml)", "N"};
    QCommandLineOption restart{"restart", "start the participant's study at trial 1 instead of resuming"};
    QCommandLineOption snapshot{"snapshot", "save a picture of the view once the data is drawn, then exit", "PNG"};
    QCommandLineOption render{"render",
                              "continuous (default) redraws all the time; on-demand only after a change, so an "
                              "idle program rests",
                              "MODE"};
    QCommandLineOption noDensityCache{"no-density-cache", "estimate densities afresh and store nothing"};
    QCommandLineOption dataset{"dataset",
                               "the dataset shown first (a built-in name, a DATASET_FILE, or another file); Page Up "
                               "and Page Down switch datasets",
                               "NAME|FILE"};
    QCommandLineOption saveDir{"save-dir", "Ctrl+S saves the selection into DIR without a file dialog", "DIR"};
    QCommandLineOption results{"results", "a study writes its results files into DIR instead of the study file's folder",
                               "DIR"};
    QCommandLineOption pilot{"pilot",
                             "a pilot session: the study's results go to the results folder's pilot/ folder, "
                             "every row with pilot=1"};
    QCommandLineOption replay{"replay",
                              "show a trial of a lasso log (P<id>_lassos.csv) step by step, with the events log "
                              "beside it; space pauses, arrows step",
                              "LOG"};
    QCommandLineOption trial{"trial", "the logged trial to replay (default: the first)", "N"};
    QCommandLineOption check{"check",
                             "read and check the study file, print the trial order of --participant (default: the "
                             "first round of the Latin square), write nothing and exit (0: no problem)",
                             "STUDY"};

    Parser()
    {
        parser.setApplicationDescription(
            "Lasso selection in 3D particle clouds, for free exploration or a controlled study.");
        parser.addOptions({help, version, config, study, participant, restart, snapshot, render, noDensityCache, dataset,
                           saveDir, results, pilot, replay, trial, check});
        parser.addPositionalArgument("DATASET_FILE",
                                     "particle files shown instead of the built-in datasets (formats: "
                                     "docs/data-formats.md)",
                                     "[DATASET_FILE...]");
    }

    void PrintHelp() const
    {
        // Without an application object Qt cannot know the program's name.
        QString text = parser.helpText();
        text.replace(QLatin1String("<executable_name>"), QLatin1String(kProgram));
        std::printf("%s\n%s\n", qPrintable(text), TRELLAN_EXIT_CODES_HELP);
    }
};

void PrintVersion()
{
    std::printf("%s %s\n", kProgram, TRELLAN_VERSION);
}

int Mistake(const QString& what)
{
    QString line = what;
    if (line.endsWith(QLatin1Char('.'))) line.chop(1);
    PrintCommandLineMistake(kProgram, line.toStdString());
    return kExitUsage;
}

}  // namespace

QStringList ArgumentsWithoutQtOptions(int argc, char** argv, QStringList* qtOptions)
{
    // What QGuiApplication, QApplication and the xcb platform take from the
    // command line; one or two leading dashes, a value after a space or '='.
    static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowtitle", "qwindowicon", "geometry",
                                            "title", "icon", "session", "display", "name", "visual",
                                            "style", "stylesheet", "fontengine"};
    static const char* const flags[] = {"reverse", "testability", "widgetcount", "sync", "nograb", "dograb"};
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--")) {
            arguments << argument;
            if (argument == QLatin1String("--"))
                for (++i; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
            continue;
        }
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const int equals = name.indexOf(QLatin1Char('='));
        const bool valueAttached = equals >= 0;
        if (valueAttached) name.truncate(equals);
        bool qtOption = valueAttached && name == QLatin1String("qmljsdebugger");  // only with '='
        for (const char* option : withValue)
            if (name == QLatin1String(option)) {
                qtOption = true;
                if (!valueAttached && i + 1 < argc) ++i;  // the value follows
            }
        for (const char* option : flags)
            if (!valueAttached && name == QLatin1String(option)) qtOption = true;
        if (!qtOption)
            arguments << argument;
        else if (qtOptions)
            *qtOptions << name;
    }
    return arguments;
}

int ParsePravikCommandLine(const QStringList& arguments, PravikOptions& options)
{
    Parser p;
    if (!p.parser.parse(arguments)) return Mistake(p.parser.errorText());
    if (p.parser.isSet(p.help)) {
        p.PrintHelp();
        return kExitSuccess;
    }
    if (p.parser.isSet(p.version)) {
        PrintVersion();
        return kExitSuccess;
    }
    for (const QCommandLineOption* file : {&p.config, &p.study, &p.snapshot, &p.dataset, &p.saveDir, &p.results, &p.replay,
                                             &p.trial, &p.check})
        if (p.parser.isSet(*file) && p.parser.value(*file).isEmpty())
            return Mistake("--" + file->names().first() + " needs a file name");
    if (p.parser.isSet(p.config)) {
        options.configFile = p.parser.value(p.config);
        options.configGiven = true;
    }
    options.studyFile = p.parser.value(p.study);
    options.snapshot = p.parser.value(p.snapshot);
    options.densityCache = !p.parser.isSet(p.noDensityCache);
    options.restart = p.parser.isSet(p.restart);
    options.dataset = p.parser.value(p.dataset);
    options.saveDir = p.parser.value(p.saveDir);
    options.results = p.parser.value(p.results);
    options.pilot = p.parser.isSet(p.pilot);
    options.replay = p.parser.value(p.replay);
    options.trial = p.parser.value(p.trial);
    options.check = p.parser.value(p.check);
    if (!options.check.isEmpty() && (p.parser.isSet(p.study) || p.parser.isSet(p.replay) || p.parser.isSet(p.snapshot)))
        return Mistake("--check takes the study file itself and goes with --participant only");
    if (p.parser.isSet(p.render)) {
        options.render = p.parser.value(p.render);
        if (options.render != QLatin1String("continuous") && options.render != QLatin1String("on-demand"))
            return Mistake("--render takes continuous or on-demand, not '" + options.render + "'");
    }
    if (p.parser.isSet(p.participant)) {
        bool ok = false;
        options.participant = p.parser.value(p.participant).toInt(&ok);
        if (!ok) return Mistake("--participant needs a whole number, not '" + p.parser.value(p.participant) + "'");
        options.participantGiven = true;
    }
    for (const QString& file : p.parser.positionalArguments()) options.datasets.push_back(file.toStdString());
    return -1;
}
