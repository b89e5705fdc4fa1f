// Pravik: reads the configuration, opens the main window with its OpenGL
// view, tells the study framework which condition runs, starts touch input
// and runs the event loop; then tears down the window before the datasets.
//
//   Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]
//          [--render continuous|on-demand] [--dataset NAME|FILE] [--save-dir DIR]
//          [--no-density-cache] [DATASET_FILE...]
//   Pravik --replay P<id>_lassos.csv [--trial N] [--study FILE | --dataset NAME|FILE]
//   Pravik --check STUDY [--participant N]
//   Pravik --help | --version
//
// A study file (--study, or "study.xml" in the working directory) is read and
// checked whole before the window opens; any problem stops the program with
// the file, line and problem. A participant's unfinished session is resumed
// unless --restart is given. Without a study Pravik runs in free exploration.
// Dataset files given on the command line are shown instead of the built-in
// datasets. --snapshot writes a picture of the view once the visualization
// has drawn its data (used by the start-up test) and ends the program. Exit
// codes as in tools/ExitCode.h. --replay shows a logged trial step by step
// (see app/LassoReplay.h).
#include "app/Guide.h"
#include "app/LassoReplay.h"
#include "app/MyApp.h"
#include "app/PravikCommandLine.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "app/StudyCheck.h"
#include "app/Workbench.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/runner/ReplayLog.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"
#include "tools/ExitCode.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Saves the view once the visualization has drawn a few frames with its
// densities in place (or a minute after the densities at the latest), then
// ends the program: 0 when the picture was written, 1 when not. The estimate
// always ends, and at ten million particles on a busy machine it can take
// longer than a minute, so that time is not counted.
void scheduleSnapshot(QTPravik* window, const QString& path)
{
    auto* clock = new QElapsedTimer();
    clock->start();
    auto* poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        QTKelvoWidgetGL* view = window->getView();
        KelvoVis* vis = view->getVis();
        const bool densities = vis && vis->DensitiesReady();
        if (!densities) clock->restart();
        const bool ready = densities && view->getFramesPainted() > 10;
        if (!ready && clock->elapsed() < 60000) {
            view->wake(); // a picture is waited for: an on-demand view must go on drawing
            return;
        }
        poll->stop();
        const bool saved = view->grabFramebuffer().save(path);
        std::printf(saved ? "snapshot written to %s\n" : "snapshot could not be written to %s\n",
                    qPrintable(path));
        delete clock;
        QCoreApplication::exit(saved ? kExitSuccess : kExitFailure);
    });
    poll->start(200);
}

// The trial to replay and its dataset, made current. 0, or the exit code
// after a line saying what is wrong.
int prepareReplay(const PravikOptions& options, ReplayTrial& trial, bool& hasEvents)
{
    if (!options.datasets.empty() || !options.saveDir.isEmpty()) {
        PrintCommandLineMistake("Pravik", "--replay takes its dataset from --study or --dataset, and saves nothing");
        return kExitUsage;
    }
    if (!options.studyFile.isEmpty() && !options.dataset.isEmpty()) {
        PrintCommandLineMistake("Pravik", "give either --study or --dataset with --replay, not both");
        return kExitUsage;
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

// An X server resets when its last client leaves and drops the connections
// being set up at that moment; Qt aborts on such a refusal. Holding a
// connection of our own (tried a few times, 250 ms apart) while Qt opens its
// own keeps the server from resetting under it. Programs that start and end
// in turn on one virtual display, as in the tests, meet this often.
class XServerHold {
public:
    explicit XServerHold(const QStringList& qtOptions)
    {
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        if (qEnvironmentVariableIsEmpty("DISPLAY") || (!platform.isEmpty() && !platform.startsWith("xcb")) ||
            qtOptions.contains(QLatin1String("platform")) || qtOptions.contains(QLatin1String("display")))
            return;
        for (int attempt = 0; attempt < 5; ++attempt) {
            connection = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(connection) == 0) return;
            xcb_disconnect(connection);
            connection = nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
    ~XServerHold()
    {
        if (connection) xcb_disconnect(connection);
    }
    XServerHold(const XServerHold&) = delete;
    XServerHold& operator=(const XServerHold&) = delete;

private:
    xcb_connection_t* connection = nullptr;
};

}

int main(int argc, char** argv)
{
    // Messages appear as they happen, also when standard output is a pipe
    // or a log file, and nothing is lost if the program dies.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Help, version and command-line mistakes need no display: answered
    // before Qt connects to one (which aborts in the platform plugin when
    // there is none, e.g. over ssh).
    QStringList qtOptions;
    PravikOptions options;
    const int early = ParsePravikCommandLine(ArgumentsWithoutQtOptions(argc, argv, &qtOptions), options);
    if (early >= 0) return early;
    // A check reads files only: no display, no window.
    if (!options.check.isEmpty()) return CheckStudy(options);
    // Qt's own answer to a missing display is a page of text and an abort.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qtOptions.contains(QLatin1String("platform")) &&
        !qtOptions.contains(QLatin1String("display"))) {
        std::fprintf(stderr, "Pravik: no display to open a window on (DISPLAY is not set): run it in a desktop "
                             "session or under xvfb-run\n");
        return kExitFailure;
    }
    std::unique_ptr<XServerHold> hold(new XServerHold(qtOptions));
    MyApp app(argc, argv);
    hold.reset();
    if (!options.densityCache) FerrowDatasetManager::Instance()->densityCache = false;

    if (options.configGiven && !QFileInfo(options.configFile).isReadable()) {
        std::fprintf(stderr, "Pravik: configuration file %s cannot be read\n", qPrintable(options.configFile));
        return kExitUsage;
    }
    // Files from the command line replace the built-ins; the visualization
    // loads the built-ins only when no dataset is there. In free exploration
    // a file that cannot be read keeps an empty slot (the loader has named
    // it and said why) and the others are shown; a study never starts with a
    // dataset missing.
    const bool studyToRun = options.replay.isEmpty() &&
                            (!options.studyFile.isEmpty() ||
                             QFileInfo::exists(QString::fromLatin1(StudyRunner::DefaultStudyFile)));
    int loaded = 0, firstLoaded = -1;
    for (const std::string& path : options.datasets) {
        FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
        const int nr = datasets->LoadFile(path);
        const bool ok = nr >= 0 && nr < int(datasets->datasets.size()) && datasets->datasets[nr] &&
                        !datasets->datasets[nr]->empty();
        loaded += ok;
        if (ok && firstLoaded < 0) firstLoaded = nr;
        if (!ok && studyToRun) {
            std::fprintf(stderr, "Pravik: dataset %s could not be loaded; a study needs every dataset, stopping\n",
                         path.c_str());
            return kExitFailure;
        }
    }
    if (!options.datasets.empty() && loaded == 0) {
        std::fprintf(stderr, "Pravik: none of the dataset files could be loaded; stopping\n");
        return kExitFailure;
    }
    // The view opens on data, not on an empty slot.
    if (firstLoaded > 0) FerrowManager::Instance()->SetCurrentDatasetNr(firstLoaded);

    if (!options.trial.isEmpty() && options.replay.isEmpty()) {
        PrintCommandLineMistake("Pravik", "--trial goes with --replay");
        return kExitUsage;
    }
    const bool noStudy = !options.replay.isEmpty() || (options.studyFile.isEmpty() &&
                                                        !QFileInfo::exists(QString::fromLatin1(StudyRunner::DefaultStudyFile)));
    if ((!options.results.isEmpty() || options.pilot) && noStudy) {
        PrintCommandLineMistake("Pravik", std::string(options.results.isEmpty() ? "--pilot" : "--results") +
                                              " goes with a study (--study FILE or study.xml), not with free "
                                              "exploration or --replay");
        return kExitUsage;
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
    StudyRunner::Instance()->SetPilot(options.pilot);
    // Relative to where Pravik was started, as every path on its command line.
    if (!options.results.isEmpty())
        StudyRunner::Instance()->SetResultsFolder(QFileInfo(options.results).absoluteFilePath().toStdString());
    const StudyRunner::SessionStart study =
        options.replay.isEmpty() ? StudyRunner::Instance()->OpenSession(options.studyFile.toStdString(), participant,
                                                                        configuration->condition, studyLines)
                                 : StudyRunner::FreeExploration;
    for (const std::string& line : studyLines)
        std::fprintf(study == StudyRunner::SessionFailed ? stderr : stdout, "%s\n", line.c_str());
    if (study == StudyRunner::SessionFailed) return kExitFailure;
    if (!options.render.isEmpty()) configuration->renderOnDemand = options.render == QLatin1String("on-demand");
    QTPravik* window = new QTPravik(configuration);
    StudyManager::Instance()->setConditionId(configuration->condition);
    FerrowManager::Instance()->PravikSelectionStart();
    window->resizeToFit(configuration->mainWidth, configuration->mainHeight);
    window->setWindowTitle("Selection Demo Application");
    if (configuration->fullscreen == 1) window->toggleFullscreen();
    Workbench* workbench = new Workbench(window, window->getView(), options.saveDir);
    // The start hint is for free exploration; a picture taken for a test shows the data alone.
    new Guide(window, window->getView(),
              study == StudyRunner::FreeExploration && options.replay.isEmpty() && options.snapshot.isEmpty(),
              options.replay.isEmpty() ? Guide::Rows() : LassoReplay::KeyHelp());
    if (!options.replay.isEmpty()) {
        // The window fits the screen as the main window does, and grows only
        // where a logged viewport needs more: the view holds every logged
        // viewport at its logged place and size, which its counts depend on.
        int width = window->width(), height = window->height();
        for (const ReplayStep& s : replayTrial.steps) {
            if (s.kind != ReplayStep::Lasso) continue;
            width = std::max(width, s.lasso.viewportX + s.lasso.viewportWidth);
            height = std::max(height, s.lasso.viewportY + s.lasso.viewportHeight);
        }
        if (width != window->width() || height != window->height()) {
            std::printf("Pravik: the logged viewports need a window of %d x %d, larger than the %d x %d that fits "
                        "the screen; part of the replay may lie off screen\n",
                        width, height, window->width(), window->height());
            window->resize(width, height);
        }
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
