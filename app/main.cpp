// Pravik: reads the configuration, opens the main window with its OpenGL
// view, tells the study framework which condition runs, starts touch input
// and runs the event loop; then tears down the window before the datasets.
//
//   Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]
//          [--render continuous|on-demand] [--dataset NAME|FILE] [--save-dir DIR]
//          [--no-density-cache] [DATASET_FILE...]
//   Pravik --replay P<id>_lassos.csv [--trial N] [--study FILE | --dataset NAME|FILE]
//
// A study file (--study, or "study.xml" in the working directory) is read and
// checked whole before the window opens; any problem stops the program with
// the file, line and problem. A participant's unfinished session is resumed
// unless --restart is given. Without a study Pravik runs in free exploration.
// Dataset files given on the command line are shown instead of the built-in
// datasets. --snapshot writes a picture of the view once the visualization
// has drawn its data (used by the start-up test), and the program goes on.
// --replay shows a logged trial step by step (see app/LassoReplay.h).
#include "app/LassoReplay.h"
#include "app/MyApp.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "app/Workbench.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/runner/ReplayLog.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]\n"
    "              [--render continuous|on-demand] [--dataset NAME|FILE] [--save-dir DIR]\n"
    "              [--no-density-cache] [DATASET_FILE...]\n"
    "       Pravik --replay LASSO_LOG.csv [--trial N] [--study FILE | --dataset NAME|FILE]\n"
    "  --config FILE    read the configuration from FILE (default config.xml)\n"
    "  --study FILE     run this study (default study.xml when it exists)\n"
    "  --participant N  participant id (default: participantID of config.xml)\n"
    "  --restart        start the participant's study at trial 1 instead of resuming\n"
    "  --snapshot PNG   save a picture of the view once the data is drawn\n"
    "  --render MODE    continuous (default) redraws all the time; on-demand only\n"
    "                   after a change, so an idle program rests\n"
    "  --dataset NAME   the dataset shown first (a built-in name, a DATASET_FILE, or\n"
    "                   another file); Page Up and Page Down switch datasets\n"
    "  --save-dir DIR   Ctrl+S saves the selection into DIR without a file dialog\n"
    "  --replay LOG     shows a trial of a lasso log (P<id>_lassos.csv) step by step,\n"
    "                   with the events log beside it; space pauses, arrows step\n"
    "  --trial N        the logged trial to replay (default: the first)\n"
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
    QString dataset;  // shown first
    QString saveDir;
    QString replay;
    QString trial;
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
                                a.startsWith(QLatin1String("--render")) || a.startsWith(QLatin1String("--dataset")) ||
                                a.startsWith(QLatin1String("--save-dir")) || a.startsWith(QLatin1String("--replay")) ||
                                a.startsWith(QLatin1String("--trial"));
        if (takesValue && a.contains(QLatin1Char('='))) {
            name = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
        } else if (a == QLatin1String("--config") || a == QLatin1String("--snapshot") ||
                   a == QLatin1String("--study") || a == QLatin1String("--participant") ||
                   a == QLatin1String("--render") || a == QLatin1String("--dataset") ||
                   a == QLatin1String("--save-dir") || a == QLatin1String("--replay") || a == QLatin1String("--trial")) {
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
        } else if (name == QLatin1String("--dataset")) {
            options.dataset = value;
        } else if (name == QLatin1String("--save-dir")) {
            options.saveDir = value;
        } else if (name == QLatin1String("--replay")) {
            options.replay = value;
        } else if (name == QLatin1String("--trial")) {
            options.trial = value;
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
             name == QLatin1String("--study") || name == QLatin1String("--participant") ||
             name == QLatin1String("--dataset") || name == QLatin1String("--save-dir") ||
             name == QLatin1String("--replay") || name == QLatin1String("--trial")) && value.isEmpty()) {
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

// The trial to replay and its dataset, made current. 0, or the exit code
// after a line saying what is wrong.
int prepareReplay(const Options& options, ReplayTrial& trial, bool& hasEvents)
{
    if (!options.datasets.empty() || !options.saveDir.isEmpty()) {
        std::fprintf(stderr, "Pravik: --replay takes its dataset from --study or --dataset, and saves nothing\n%s",
                     kUsage);
        return 2;
    }
    if (!options.studyFile.isEmpty() && !options.dataset.isEmpty()) {
        std::fprintf(stderr, "Pravik: give either --study or --dataset with --replay, not both\n%s", kUsage);
        return 2;
    }
    ReplayLog log;
    std::string error;
    if (!log.Read(options.replay.toStdString(), error)) {
        std::fprintf(stderr, "Pravik: %s\n", error.c_str());
        return 1;
    }
    hasEvents = log.HasEvents();
    const ReplayTrial* chosen = options.trial.isEmpty() ? &log.Trials().front() : nullptr;
    std::string known;
    for (const ReplayTrial& t : log.Trials()) {
        if (!chosen && t.trial == options.trial.toStdString()) chosen = &t;
        known += (known.empty() ? "" : ", ") + t.trial;
    }
    if (!chosen) {
        std::fprintf(stderr, "Pravik: %s has no trial %s (its trials: %s)\n", qPrintable(options.replay),
                     qPrintable(options.trial), known.c_str());
        return 2;
    }
    trial = *chosen;

    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    int nr = -1;
    std::string problem;
    if (!options.studyFile.isEmpty()) {
        // The log names the study's dataset id; the study file says what it is.
        StudyRunner* runner = StudyRunner::Instance();
        const std::vector<std::string> problems = runner->Load(options.studyFile.toStdString());
        for (const std::string& line : problems) std::fprintf(stderr, "%s\n", line.c_str());
        if (!problems.empty()) return 1;
        for (const StudyDatasetEntry& d : runner->Definition().datasets) {
            if (d.id != trial.dataset) continue;
            const std::string& key = d.builtIn.empty() ? d.file : d.builtIn;
            for (std::size_t i = 0; i < datasets->names.size() && nr < 0; ++i)
                if (datasets->names[i] == key) nr = int(i);
        }
        if (nr < 0) problem = options.studyFile.toStdString() + " has no dataset \"" + trial.dataset + "\"";
    } else if (!options.dataset.isEmpty()) {
        nr = Workbench::FindDataset(options.dataset.toStdString(), problem);
    } else if (BuiltInDatasets::Find(trial.dataset) >= 0) {
        nr = datasets->AddBuiltIn(trial.dataset);
    } else {
        problem = "the log's dataset \"" + trial.dataset + "\" is a study's name for it: give --study FILE or "
                  "--dataset NAME|FILE";
    }
    if (nr < 0) {
        std::fprintf(stderr, "Pravik: %s\n", problem.c_str());
        return 2;
    }
    FerrowManager::Instance()->SetCurrentDatasetNr(nr);
    if (!hasEvents)
        std::printf("%s: no events log (%s); undo, redo, clear and threshold changes are not replayed, so counts "
                    "after them may differ\n",
                    qPrintable(options.replay), log.EventsPath().c_str());
    std::printf("Replaying trial %s of participant %s: %zu steps on dataset %s\n", trial.trial.c_str(),
                trial.participant.c_str(), trial.steps.size(), datasets->names[nr].c_str());
    std::fflush(stdout);
    return 0;
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

    if (!options.trial.isEmpty() && options.replay.isEmpty()) {
        std::fprintf(stderr, "Pravik: --trial goes with --replay\n%s", kUsage);
        return 2;
    }
    if (!options.dataset.isEmpty() && options.replay.isEmpty() &&
        (!options.studyFile.isEmpty() || QFileInfo::exists(QString::fromLatin1(StudyRunner::DefaultStudyFile)))) {
        std::fprintf(stderr, "Pravik: --dataset picks the dataset of free exploration or a replay; a study shows its own\n");
        return 2;
    }

    QTConfiguration* configuration = new QTConfiguration(options.configFile);
    ReplayTrial replayTrial;
    bool replayHasEvents = false;
    if (!options.replay.isEmpty()) {
        const int code = prepareReplay(options, replayTrial, replayHasEvents);
        if (code != 0) return code;
    } else if (!options.dataset.isEmpty()) {
        // All datasets stay reachable with Page Up and Page Down.
        if (FerrowDatasetManager::Instance()->datasets.empty()) FerrowDatasetManager::Instance()->LoadBuiltIns();
        std::string problem;
        const int nr = Workbench::FindDataset(options.dataset.toStdString(), problem);
        if (nr < 0) {
            std::fprintf(stderr, "Pravik: --dataset: %s\n", problem.c_str());
            return 2;
        }
        FerrowManager::Instance()->SetCurrentDatasetNr(nr);
    }
    // The study loads its datasets now, before the visualization needs them,
    // and the participant never sees a study that is only partly valid.
    std::vector<std::string> studyLines;
    const int participant = options.participantGiven ? options.participant : configuration->participantId;
    StudyRunner::Instance()->SetRestart(options.restart);
    const StudyRunner::SessionStart study =
        options.replay.isEmpty() ? StudyRunner::Instance()->OpenSession(options.studyFile.toStdString(), participant,
                                                                        configuration->condition, studyLines)
                                 : StudyRunner::FreeExploration;
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
    Workbench* workbench = new Workbench(window, window->getView(), options.saveDir);
    if (!options.replay.isEmpty()) {
        // The view holds every logged viewport at its logged place.
        int width = configuration->mainWidth, height = configuration->mainHeight;
        for (const ReplayStep& s : replayTrial.steps) {
            if (s.kind != ReplayStep::Lasso) continue;
            width = std::max(width, s.lasso.viewportX + s.lasso.viewportWidth);
            height = std::max(height, s.lasso.viewportY + s.lasso.viewportHeight);
        }
        window->resize(width, height);
        workbench->setEnabled(false);
        new LassoReplay(window->getView(), replayTrial, replayHasEvents, options.snapshot);
    }
    window->show();
    new TuioInit();
    if (!options.snapshot.isEmpty() && options.replay.isEmpty()) scheduleSnapshot(window, options.snapshot);

    const int result = MyApp::exec();

    delete window;
    FerrowDatasetManager::Instance();
    StudyRunner::Destroy();
    FerrowDatasetManager::Destroy();
    return result;
}
