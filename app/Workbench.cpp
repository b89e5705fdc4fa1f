#include "app/Workbench.h"

#include "app/QTKelvoWidgetGL.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/kelvo/StudyTrialControl.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/SelectionMetrics.h"
#include "framework/runner/TargetFile.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMainWindow>
#include <QTimer>

#include <osg/Vec3d>

#include <algorithm>
#include <cstdio>

namespace {
// One key press or wheel notch.
constexpr double kZoomStep = 1.25;

constexpr int kMessageMilliseconds = 4000;

// What the dataset's reader subtracted from the file's positions (centring
// far-off double-precision data for single-precision drawing). Saved
// positions add it back, so they are in the file's own coordinates.
osg::Vec3d FileOrigin(int nr)
{
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    return nr >= 0 && nr < int(datasets->offsets.size()) ? datasets->offsets[nr] : osg::Vec3d(0.0, 0.0, 0.0);
}

// "clusters", or a file's name without folder and extension.
QString DatasetStem(int nr)
{
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    QString stem = nr >= 0 && nr < int(datasets->names.size())
                       ? QFileInfo(QString::fromStdString(datasets->names[nr])).completeBaseName()
                       : QString();
    for (QChar& c : stem)
        if (!c.isLetterOrNumber() && c != '-' && c != '_') c = '_';
    return stem.isEmpty() ? QStringLiteral("dataset") : stem;
}

bool WriteFile(const QString& path, const std::string& text, bool replace, std::string& problem)
{
    QFile file(path);
    const QIODevice::OpenMode mode = replace ? QIODevice::WriteOnly | QIODevice::Truncate
                                             : QIODevice::WriteOnly | QIODevice::NewOnly;
    if (!file.open(mode)) {
        problem = path.toStdString() + (file.exists() && !replace ? ": exists already" : ": cannot be written: " +
                                                                                          file.errorString().toStdString());
        return false;
    }
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.flush()) {
        problem = path.toStdString() + ": cannot be written: " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace

Workbench::Workbench(QMainWindow* window, QTKelvoWidgetGL* view, const QString& saveFolder)
    : QObject(window), window(window), view(view), saveFolder(saveFolder), messageTimer(new QTimer(this))
{
    messageTimer->setSingleShot(true);
    connect(messageTimer, &QTimer::timeout, this, [this] {
        KelvoVis* vis = this->view->getVis();
        if (vis && vis->GetMessage() == shownMessage) vis->SetMessage("");
        this->view->wake();
    });
    // Says once which dataset free exploration shows, when it can be selected.
    QTimer* ready = new QTimer(this);
    connect(ready, &QTimer::timeout, this, [this, ready] {
        const KelvoVis* vis = this->view->getVis();
        if (!vis || !vis->DensitiesReady()) return;
        ready->stop();
        if (!available()) return;
        const KelvoVis::DatasetStatus status = vis->GetDatasetStatus();
        std::printf("Dataset %d of %d: %s, %zu particles\n", status.number + 1, status.datasets, status.name.c_str(),
                    status.particles);
        std::fflush(stdout);
    });
    ready->start(200);
    struct Command {
        const char* text;
        QKeySequence keys;
        void (Workbench::*slot)();
        const char* help;
        QKeySequence also = QKeySequence();
    };
    const Command commands[] = {
        {"&Next dataset", QKeySequence(Qt::Key_PageDown), &Workbench::nextDataset, "next dataset (free exploration)"},
        {"&Previous dataset", QKeySequence(Qt::Key_PageUp), &Workbench::previousDataset, "previous dataset"},
        {"&Save selection", QKeySequence(tr("Ctrl+S")), &Workbench::saveSelection,
         "save the selection (target file and CSV)"},
        {"&Open target file", QKeySequence(tr("Ctrl+O")), &Workbench::loadTarget,
         "open a target file and highlight it until another is opened or Ctrl+H"},
        {"&Highlight off", QKeySequence(tr("Ctrl+H")), &Workbench::highlightOff, "switch the target's highlight off"},
        {"Start &view", QKeySequence(Qt::Key_Home), &Workbench::startView,
         "back to the dataset's start view (free exploration)"},
        {"Zoom &in", QKeySequence(Qt::Key_Plus), &Workbench::zoomIn,
         "zoom in (also the wheel, towards the pointer; in a study only where it allows zoom)",
         QKeySequence(Qt::Key_Equal)},
        {"Zoom &out", QKeySequence(Qt::Key_Minus), &Workbench::zoomOut, "zoom out"},
        {"&Smaller cloud points", QKeySequence(Qt::Key_BracketLeft), &Workbench::smallerCloud,
         "unselected particles smaller (free exploration)"},
        {"&Larger cloud points", QKeySequence(Qt::Key_BracketRight), &Workbench::largerCloud,
         "unselected particles larger"},
        {"&Fainter cloud", QKeySequence(Qt::Key_Comma), &Workbench::fainterCloud,
         "unselected particles fainter"},
        {"&Stronger cloud", QKeySequence(Qt::Key_Period), &Workbench::strongerCloud,
         "unselected particles less faint"},
    };
    for (const Command& c : commands) {
        QAction* action = new QAction(tr(c.text), window);
        if (c.also.isEmpty()) action->setShortcut(c.keys);
        else action->setShortcuts({c.keys, c.also});
        action->setWhatsThis(tr(c.help));
        action->setShortcutContext(Qt::ApplicationShortcut);
        connect(action, &QAction::triggered, this, c.slot);
        window->addAction(action);
    }
}

bool Workbench::available() const
{
    const KelvoVis* vis = view->getVis();
    return enabled && vis && !vis->GetStudyControl()->IsActive();
}

void Workbench::tell(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (KelvoVis* vis = view->getVis()) {
        vis->SetMessage(line);
        shownMessage = line;
        messageTimer->start(kMessageMilliseconds);
    }
    view->wake();
}

int Workbench::FindDataset(const std::string& nameOrFile, std::string& problem)
{
    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    auto usable = [&](int nr) { return nr >= 0 && datasets->datasets[nr].valid() && !datasets->datasets[nr]->empty(); };
    for (std::size_t i = 0; i < datasets->names.size(); ++i)
        if (datasets->names[i] == nameOrFile && usable(int(i))) return int(i);
    const QFileInfo file(QString::fromStdString(nameOrFile));
    if (file.isFile()) {
        for (std::size_t i = 0; i < datasets->names.size(); ++i) {
            const QFileInfo loaded(QString::fromStdString(datasets->names[i]));
            if (loaded.isFile() && loaded.canonicalFilePath() == file.canonicalFilePath() && usable(int(i)))
                return int(i);
        }
        const int nr = datasets->LoadFile(nameOrFile);  // says itself what is wrong with the file
        if (usable(nr)) return nr;
        problem = nameOrFile + " holds no particles";
        return -1;
    }
    if (BuiltInDatasets::Find(nameOrFile) >= 0) return datasets->AddBuiltIn(nameOrFile);
    std::string known;
    for (const std::string& n : BuiltInDatasets::Names()) known += (known.empty() ? "" : ", ") + n;
    problem = "no dataset and no file is named " + nameOrFile + " (built-in datasets: " + known + ")";
    return -1;
}

void Workbench::nextDataset()
{
    stepDataset(+1);
}

void Workbench::previousDataset()
{
    stepDataset(-1);
}

void Workbench::stepDataset(int direction)
{
    if (!available()) return;
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    const int count = int(datasets->datasets.size());
    const int current = FerrowManager::Instance()->GetCurrentDatasetNr();
    // Slots of files that could not be read stay empty: step over them.
    for (int k = 1; k < count; ++k) {
        const int nr = ((current + direction * k) % count + count) % count;
        if (!datasets->datasets[nr].valid() || datasets->datasets[nr]->empty()) continue;
        FerrowManager::Instance()->SetCurrentDatasetNr(nr);
        tell("Dataset " + std::to_string(nr + 1) + " of " + std::to_string(count) + ": " + datasets->names[nr] +
             ", " + std::to_string(datasets->datasets[nr]->size()) + " particles");
        return;
    }
}

std::string Workbench::WriteSelection(int nr, const std::vector<bool>& mask, const QString& targetsPath,
                                      const QString& positionsPath, bool replace)
{
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    if (nr < 0 || nr >= int(datasets->datasets.size()) || !datasets->datasets[nr].valid() ||
        datasets->datasets[nr]->size() != mask.size())
        return "no dataset is shown";
    const osg::Vec3Array& positions = *datasets->datasets[nr];
    const std::size_t selected = std::count(mask.begin(), mask.end(), true);
    if (selected == 0) return "nothing is selected";

    const osg::Vec3d origin = FileOrigin(nr);
    // Single-precision positions need 9 digits; with an origin added back
    // the sum is a double and keeps all of its own.
    const int digits = origin == osg::Vec3d() ? 9 : 17;
    std::string indices = "# Selection of " + std::to_string(selected) + " of " + std::to_string(mask.size()) +
                          " particles of dataset " + datasets->names[nr] +
                          "\n# Particle indices from 0, one per line: a study trial's targetFile\n";
    std::string table = "index,x,y,z\n";
    for (std::size_t i = 0; i < mask.size(); ++i) {
        if (!mask[i]) continue;
        indices += std::to_string(i) + '\n';
        const osg::Vec3d p = osg::Vec3d(positions[i]) + origin;
        table += CsvFormat::Record({CsvFormat::Integer(static_cast<long long>(i)), CsvFormat::Number(p.x(), digits),
                                    CsvFormat::Number(p.y(), digits), CsvFormat::Number(p.z(), digits)}) +
                 '\n';
    }
    std::string problem;
    // The CSV is checked first: a refused save leaves no half behind.
    if (!replace && QFileInfo::exists(positionsPath)) return positionsPath.toStdString() + ": exists already";
    if (!replace && QFileInfo::exists(targetsPath)) return targetsPath.toStdString() + ": exists already";
    if (!WriteFile(positionsPath, table, replace, problem)) return problem;
    if (!WriteFile(targetsPath, indices, replace, problem)) return problem;
    return {};
}

void Workbench::saveSelection()
{
    if (!available()) return;
    KelvoVis* vis = view->getVis();
    const int nr = vis->GetShownDataset();
    if (vis->GetFrameStrategy()->IsLassoActive() || vis->GetFrameStrategy()->IsBuildPending()) {
        tell("Selection not saved: a lasso is still being drawn");
        return;
    }
    QString targets, positions;
    bool replace = false;
    if (!saveFolder.isEmpty()) {
        if (!QDir().mkpath(saveFolder)) {
            tell("Selection not saved: the folder " + saveFolder.toStdString() + " cannot be created");
            return;
        }
        const QString stem = QDir(saveFolder).filePath(DatasetStem(nr) + "-selection-");
        for (int n = 1; n < 100000 && targets.isEmpty(); ++n) {
            const QString t = stem + QString::number(n) + ".txt", p = stem + QString::number(n) + ".csv";
            if (!QFileInfo::exists(t) && !QFileInfo::exists(p)) {
                targets = t;
                positions = p;
            }
        }
        if (targets.isEmpty()) {
            tell("Selection not saved: no free file name in " + saveFolder.toStdString());
            return;
        }
    } else {
        // The dialog asks before it replaces the file it was given.
        targets = QFileDialog::getSaveFileName(window, tr("Save the selection as a target file"),
                                               DatasetStem(nr) + "-selection.txt",
                                               tr("Target files (*.txt);;All files (*)"));
        if (targets.isEmpty()) return;
        const QFileInfo chosen(targets);
        positions = chosen.dir().filePath(chosen.completeBaseName() + ".csv");
        if (QFileInfo::exists(positions)) {
            tell("Selection not saved: " + positions.toStdString() + " exists already; choose another name");
            return;
        }
        replace = true;
    }
    const std::vector<bool>& mask = vis->GetSelectionMask();
    const std::string problem = WriteSelection(nr, mask, targets, positions, replace);
    if (!problem.empty()) {
        tell("Selection not saved: " + problem);
        return;
    }
    savedTargets = targets;
    savedPositions = positions;
    tell("Selection of " + std::to_string(std::count(mask.begin(), mask.end(), true)) + " particles saved to " +
         targets.toStdString() + " and " + positions.toStdString());
}

void Workbench::loadTarget()
{
    if (!available()) return;
    KelvoVis* vis = view->getVis();
    const QString path = QFileDialog::getOpenFileName(window, tr("Open a target file"), saveFolder,
                                                      tr("Target files (*.txt);;All files (*)"));
    if (path.isEmpty()) return;
    const std::vector<bool>& mask = vis->GetSelectionMask();
    std::vector<bool> target;
    const std::vector<std::string> problems = TargetFile::Read(path.toStdString(), mask.size(), target);
    if (!problems.empty()) {
        for (std::size_t i = 0; i + 1 < problems.size(); ++i) std::printf("%s\n", problems[i].c_str());
        tell("Target not loaded: " + problems.back());
        return;
    }
    // Highlighted as a study presents a trial's target, under the
    // selection, until another target or Ctrl+H.
    vis->SetHighlight(target);
    const SelectionMetrics m = SelectionMetrics::Compute(mask, target, target.size());
    tell("Target " + path.toStdString() + ": " + std::to_string(std::count(target.begin(), target.end(), true)) +
         " particles highlighted; " + std::to_string(m.truePositives) + " of the " + std::to_string(m.selected) +
         " selected are in it");
}

void Workbench::highlightOff()
{
    if (!available()) return;
    view->getVis()->ClearHighlight();
    view->wake();
}

void Workbench::startView()
{
    if (!available()) return;
    view->getVis()->ResetView();
    view->wake();
}

void Workbench::zoomBy(double factor)
{
    KelvoVis* vis = view->getVis();
    if (!enabled || !vis) return;
    // About the middle of the 3D area; the wheel zooms towards the pointer.
    const ParticleScene* scene = vis->GetScene();
    if (vis->ZoomAt(factor, scene->GetViewportX() + scene->GetViewportWidth() * 0.5,
                    scene->GetViewportY() + scene->GetViewportHeight() * 0.5))
        view->wake();
}

void Workbench::zoomIn() { zoomBy(kZoomStep); }
void Workbench::zoomOut() { zoomBy(1.0 / kZoomStep); }

void Workbench::changeCloud(float sizeFactor, float opacityFactor)
{
    if (!available()) return;
    ParticleScene* scene = view->getVis()->GetScene();
    scene->SetCloudAppearance(scene->CloudPointSize() * sizeFactor, scene->CloudOpacity() * opacityFactor);
    char line[96];
    std::snprintf(line, sizeof line, "Unselected particles: point size %.1f, opacity %.2f", scene->CloudPointSize(),
                  scene->CloudOpacity());
    tell(line);
}

void Workbench::smallerCloud() { changeCloud(1.0f / 1.25f, 1.0f); }
void Workbench::largerCloud() { changeCloud(1.25f, 1.0f); }
void Workbench::fainterCloud() { changeCloud(1.0f, 1.0f / 1.5f); }
void Workbench::strongerCloud() { changeCloud(1.0f, 1.5f); }
