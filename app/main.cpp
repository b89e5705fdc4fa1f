// Pravik: reads the configuration, opens the main window with its OpenGL
// view, tells the study framework which condition runs, starts touch input
// and runs the event loop; then tears down the window before the datasets.
//
//   Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]
//          [--render continuous|on-demand] [DATASET_FILE...]
//
// A study file (--study, or "study.xml" in the working directory) is read and
// checked whole before the window opens; any problem stops the program with
// the file, line and problem. A participant's unfinished session is resumed
// unless --restart is given. Without a study Pravik runs in free exploration.
// Dataset files given on the command line are shown instead of the built-in
// datasets. --snapshot writes a picture of the view once the visualization
// has drawn its data (used by the start-up test), and the program goes on.
#include "app/MyApp.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]\n"
    "              [--render continuous|on-demand] [DATASET_FILE...]\n"
    "  --config FILE    read the configuration from FILE (default config.xml)\n"
    "  --study FILE     run this study (default study.xml when it exists)\n"
    "  --participant N  participant id (default: participantID of config.xml)\n"
    "  --restart        start the participant's study at trial 1 instead of resuming\n"
    "  --snapshot PNG   save a picture of the view once the data is drawn\n"
    "  --render MODE    continuous (default) redraws all the time; on-demand only\n"
    "                   after a change, so an idle program rests\n"
    "  --no-density-cache  estimate densities afresh and store nothing\n"
    "  DATASET_FILE     particle files shown instead of the built-in datasets\n"
    "                   (formats: docs/data-formats.md)\n";

struct Options {
    QString configFile = QStringLiteral("config.xml");
    bool configGiven = false;
    QString snapshot;
    QString studyFile;
    QString render; // empty: as the configuration says
    bool participantGiven = false;
    int participant = 0;
    bool restart = false;
    std::vector<std::string> datasets;
};

// -1: stop with success (help shown), 0: go on, otherwise the exit code.
int parseOptions(const QStringList& args, Options& options)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::printf("%s", kUsage);
            return -1;
        }
        if (a == QLatin1String("--restart")) {
            options.restart = true;
            continue;
        }
        QString name = a, value;
        const bool takesValue = a.startsWith(QLatin1String("--config")) || a.startsWith(QLatin1String("--snapshot")) ||
                                a.startsWith(QLatin1String("--study")) || a.startsWith(QLatin1String("--participant")) ||
                                a.startsWith(QLatin1String("--render"));
        if (takesValue && a.contains(QLatin1Char('='))) {
            name = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
        } else if (a == QLatin1String("--config") || a == QLatin1String("--snapshot") ||
                   a == QLatin1String("--study") || a == QLatin1String("--participant") ||
                   a == QLatin1String("--render")) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "Pravik: %s needs a file name\n%s", qPrintable(a), kUsage);
                return 2;
            }
            value = args[++i];
        }
        if (name == QLatin1String("--config")) {
            options.configFile = value;
            options.configGiven = true;
        } else if (name == QLatin1String("--snapshot")) {
            options.snapshot = value;
        } else if (name == QLatin1String("--study")) {
            options.studyFile = value;
        } else if (name == QLatin1String("--render")) {
            if (value != QLatin1String("continuous") && value != QLatin1String("on-demand")) {
                std::fprintf(stderr, "Pravik: --render takes continuous or on-demand, not %s\n%s", qPrintable(value),
                             kUsage);
                return 2;
            }
            options.render = value;
        } else if (name == QLatin1String("--participant")) {
            bool ok = false;
            options.participant = value.toInt(&ok);
            options.participantGiven = true;
            if (!ok && !value.isEmpty()) {
                std::fprintf(stderr, "Pravik: --participant needs a whole number, not %s\n%s", qPrintable(value), kUsage);
                return 2;
            }
        } else if (a == QLatin1String("--no-density-cache")) {
            FerrowDatasetManager::Instance()->densityCache = false;
        } else if (a.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "Pravik: unknown option %s\n%s", qPrintable(a), kUsage);
            return 2;
        } else {
            options.datasets.push_back(a.toStdString());
        }
        if ((name == QLatin1String("--config") || name == QLatin1String("--snapshot") ||
             name == QLatin1String("--study") || name == QLatin1String("--participant")) && value.isEmpty()) {
            std::fprintf(stderr, "Pravik: %s needs a file name\n%s", qPrintable(name), kUsage);
            return 2;
        }
    }
    return 0;
}

// Saves the view once the visualization has drawn a few frames with its
// densities in place (or after a minute at the latest).
void scheduleSnapshot(QTPravik* window, const QString& path)
{
    auto* clock = new QElapsedTimer();
    clock->start();
    auto* poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        QTKelvoWidgetGL* view = window->getView();
        KelvoVis* vis = view->getVis();
        const bool ready = vis && vis->DensitiesReady() && view->getFramesPainted() > 10;
        if (!ready && clock->elapsed() < 60000) {
            view->wake(); // a picture is waited for: an on-demand view must go on drawing
            return;
        }
        poll->stop();
        const bool saved = view->grabFramebuffer().save(path);
        std::printf(saved ? "snapshot written to %s\n" : "snapshot could not be written to %s\n",
                    qPrintable(path));
        std::fflush(stdout);
        delete clock;
    });
    poll->start(200);
}

}

int main(int argc, char** argv)
{
    // Help needs no display: answer it before Qt connects to one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", kUsage);
            return 0;
        }
    }
    MyApp app(argc, argv);

    Options options;
    const int early = parseOptions(MyApp::arguments(), options);
    if (early != 0) return early < 0 ? 0 : early;

    if (options.configGiven && !QFileInfo(options.configFile).isReadable()) {
        std::fprintf(stderr, "Pravik: configuration file %s cannot be read\n", qPrintable(options.configFile));
        return 2;
    }
    // Files from the command line replace the built-ins; the visualization
    // loads the built-ins only when no dataset is there.
    for (const std::string& path : options.datasets) {
        FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
        const int nr = datasets->LoadFile(path);
        if (nr < 0 || nr >= int(datasets->datasets.size()) || !datasets->datasets[nr] ||
            datasets->datasets[nr]->empty()) {
            // The loader has said what is wrong with the file.
            std::fprintf(stderr, "Pravik: dataset %s could not be loaded; stopping\n", path.c_str());
            return 1;
        }
    }

    QTConfiguration* configuration = new QTConfiguration(options.configFile);
    // The study loads its datasets now, before the visualization needs them,
    // and the participant never sees a study that is only partly valid.
    std::vector<std::string> studyLines;
    const int participant = options.participantGiven ? options.participant : configuration->participantId;
    StudyRunner::Instance()->SetRestart(options.restart);
    const StudyRunner::SessionStart study = StudyRunner::Instance()->OpenSession(
        options.studyFile.toStdString(), participant, configuration->condition, studyLines);
    for (const std::string& line : studyLines)
        std::fprintf(study == StudyRunner::SessionFailed ? stderr : stdout, "%s\n", line.c_str());
    if (study == StudyRunner::SessionFailed) return 1;
    if (!options.render.isEmpty()) configuration->renderOnDemand = options.render == QLatin1String("on-demand");
    QTPravik* window = new QTPravik(configuration);
    StudyManager::Instance()->setConditionId(configuration->condition);
    FerrowManager::Instance()->PravikSelectionStart();
    window->resizeToFit(configuration->mainWidth, configuration->mainHeight);
    window->setWindowTitle("Selection Demo Application");
    if (configuration->fullscreen == 1) window->toggleFullscreen();
    window->show();
    new TuioInit();
    if (!options.snapshot.isEmpty()) scheduleSnapshot(window, options.snapshot);

    const int result = MyApp::exec();

    delete window;
    FerrowDatasetManager::Instance();
    StudyRunner::Destroy();
    FerrowDatasetManager::Destroy();
    return result;
}
