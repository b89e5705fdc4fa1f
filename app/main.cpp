// Pravik: reads the configuration, opens the main window with its OpenGL
// view, tells the study framework which condition runs, starts touch input
// and runs the event loop; then tears down the window before the datasets.
//
//   Pravik [--config FILE] [--study FILE] [--participant N] [--restart] [--snapshot PNG]
//          [--render continuous|on-demand] [DATASET_FILE...]
//   Pravik --help | --version
//
// A study file (--study, or "study.xml" in the working directory) is read and
// checked whole before the window opens; any problem stops the program with
// the file, line and problem. A participant's unfinished session is resumed
// unless --restart is given. Without a study Pravik runs in free exploration.
// Dataset files given on the command line are shown instead of the built-in
// datasets. --snapshot writes a picture of the view once the visualization
// has drawn its data (used by the start-up test) and ends the program. Exit
// codes as in tools/ExitCode.h.
#include "app/MyApp.h"
#include "app/PravikCommandLine.h"
#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "app/QTPravik.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tuio/TuioInit.h"
#include "tools/ExitCode.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Saves the view once the visualization has drawn a few frames with its
// densities in place (or after a minute at the latest), then ends the
// program: 0 when the picture was written, 1 when not.
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
        delete clock;
        QCoreApplication::exit(saved ? kExitSuccess : kExitFailure);
    });
    poll->start(200);
}

}

int main(int argc, char** argv)
{
    // Messages appear as they happen, also when standard output is a pipe
    // or a log file, and nothing is lost if the program dies.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Help and version need no display: answered before Qt connects to one.
    if (AnswerHelpOrVersion(argc, argv)) return kExitSuccess;
    MyApp app(argc, argv);

    PravikOptions options;
    const int early = ParsePravikCommandLine(MyApp::arguments(), options);
    if (early >= 0) return early;
    if (!options.densityCache) FerrowDatasetManager::Instance()->densityCache = false;

    if (options.configGiven && !QFileInfo(options.configFile).isReadable()) {
        std::fprintf(stderr, "Pravik: configuration file %s cannot be read\n", qPrintable(options.configFile));
        return kExitUsage;
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
            return kExitFailure;
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
    if (study == StudyRunner::SessionFailed) return kExitFailure;
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
