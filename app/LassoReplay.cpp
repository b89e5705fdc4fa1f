#include "app/LassoReplay.h"

#include "app/QTKelvoWidgetGL.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/study/FerrowManager.h"
#include "selection/ParticleSelection.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kPollMilliseconds = 30;

std::string Fixed(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}
// The keys eventFilter answers, for the help.
const struct {
    const char* key;
    const char* what;
} ReplayKeys[] = {
    {"space", "replay: pause / go on"},
    {"right arrow", "replay: one step forward (pauses)"},
    {"left arrow", "replay: one step back (pauses)"},
};
}  // namespace

std::vector<std::pair<std::string, std::string>> LassoReplay::KeyHelp()
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& k : ReplayKeys) rows.emplace_back(k.key, k.what);
    return rows;
}

LassoReplay::LassoReplay(QTKelvoWidgetGL* view, ReplayTrial trial, bool hasEvents, const QString& snapshot)
    : QObject(view), view(view), trial(std::move(trial)), hasEvents(hasEvents), snapshot(snapshot),
      poll(new QTimer(this))
{
    view->installEventFilter(this);
    connect(poll, &QTimer::timeout, this, &LassoReplay::tick);
    poll->start(kPollMilliseconds);
}

bool LassoReplay::ready() const
{
    const KelvoVis* vis = view->getVis();
    return vis && vis->DensitiesReady() && vis->GetSelection() &&
           vis->GetShownDataset() == FerrowManager::Instance()->GetCurrentDatasetNr();
}

void LassoReplay::restart(std::size_t upTo)
{
    KelvoVis* vis = view->getVis();
    OSGFrameAndPlotStrategy* strategy = vis->GetFrameStrategy();
    // Lassos take the logged technique, not the one of the key family.
    strategy->SetTechniqueLocked(true);
    strategy->applyReset();
    vis->SetOutline({});
    next = 0;
    fastForward = upTo;
    differing = 0;
    finished = false;
    lastCameraStep = -1;
}

void LassoReplay::applyCamera(const ReplayStep& step)
{
    ParticleScene* scene = view->getVis()->GetScene();
    const LassoRecord& l = step.lasso;
    // The logged viewport, in the view's pixels as it was in the window.
    scene->SetViewport(l.viewportX, l.viewportY, l.viewportWidth, l.viewportHeight);
    osg::Camera* camera = scene->GetViewer()->getCamera();
    camera->setViewMatrix(l.view);
    camera->setProjectionMatrix(l.projection);
    scene->GetDataTransform()->setMatrix(l.model);
}

void LassoReplay::run(std::size_t k)
{
    KelvoVis* vis = view->getVis();
    OSGFrameAndPlotStrategy* strategy = vis->GetFrameStrategy();
    const ReplayStep& s = trial.steps[k];
    next = k + 1;
    sinceStep.restart();
    vis->GetThresholdSlider()->setValue(s.threshold);
    // A lasso's line stays until the next lasso; history steps show none.
    vis->SetOutline(s.kind == ReplayStep::Lasso ? s.lasso.points : std::vector<osg::Vec2f>());
    switch (s.kind) {
    case ReplayStep::Lasso: {
        lastCameraStep = static_cast<long long>(k);
        applyCamera(s);
        FerrowManager::Instance()->SetTechniqueName(s.technique);
        strategy->applyChangeThreshold(s.threshold);
        const std::vector<osg::Vec2f>& p = s.lasso.points;
        if (s.lasso.mode == LassoRecord::Minus)
            strategy->applyStartMinusSelect(p[0].x(), p[0].y());
        else if (s.lasso.mode == LassoRecord::Intersection)
            strategy->applyStartIntSelect(p[0].x(), p[0].y());
        else
            strategy->applyStartPlusSelect(p[0].x(), p[0].y());
        for (std::size_t i = 1; i < p.size(); ++i) strategy->applySelect(p[i].x(), p[i].y());
        strategy->applyEndSelect();
        // The volume is built once the lasso camera has drawn the lasso (a
        // click's at the next frame). A logged click is one point: press
        // and release at once.
        building = true;
        break;
    }
    case ReplayStep::Undo: strategy->applyUndo(); break;
    case ReplayStep::Redo: strategy->applyRedo(); break;
    case ReplayStep::Clear: strategy->applyClearSelection(); break;
    case ReplayStep::Threshold: strategy->applyUpdateSelection(s.threshold); break;
    }
    if (!building) report(k);
    view->wake();
}

void LassoReplay::report(std::size_t k)
{
    KelvoVis* vis = view->getVis();
    const ReplayStep& s = trial.steps[k];
    const std::vector<bool>& mask = vis->GetSelectionMask();
    const long long selected = std::count(mask.begin(), mask.end(), true);
    const bool differs = s.logged >= 0 && selected != s.logged;
    differing += differs;
    std::string line = "step " + std::to_string(k + 1) + " of " + std::to_string(trial.steps.size()) + ": ";
    // A logged click is a lasso of one point.
    if (s.kind == ReplayStep::Lasso)
        line += std::string(s.lasso.points.size() == 1 ? "click " : "lasso ") +
                (s.lasso.mode == LassoRecord::Minus          ? "minus"
                 : s.lasso.mode == LassoRecord::Intersection ? "intersection"
                                                             : "plus") +
                ", " + s.technique;
    else
        line += s.KindName();
    line += ", threshold " + Fixed(s.threshold) + ": selected " + std::to_string(selected);
    if (s.logged >= 0) line += ", logged " + std::to_string(s.logged) + (differs ? " (differs)" : "");
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    vis->SetCaption("Trial " + trial.trial + ", " + line + (paused ? "  [paused]" : ""));
}

void LassoReplay::finish()
{
    finished = true;
    std::string line = "Replay of trial " + trial.trial + " (participant " + trial.participant + "): " +
                       std::to_string(trial.steps.size()) + " steps, ";
    line += differing ? std::to_string(differing) + " counts differ from the log" : "every count equals the log";
    if (!hasEvents) line += "; without the events log, undo, redo, clear and threshold changes are missing";
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    framesAtFinish = view->getFramesPainted();
    view->wake();
}

void LassoReplay::tick()
{
    if (!started) {
        if (!ready()) {
            view->wake();  // densities are computed between frames
            return;
        }
        started = true;
        restart(0);
        sinceStep.restart();
    }
    KelvoVis* vis = view->getVis();
    OSGFrameAndPlotStrategy* strategy = vis->GetFrameStrategy();
    if (building) {
        if (strategy->IsBuildPending() || strategy->IsLassoActive()) {
            view->wake();
            return;
        }
        building = false;
        report(next - 1);
    }
    if (next >= trial.steps.size()) {
        if (!finished) finish();
        // A few frames show the last step before the picture is taken.
        if (!snapshot.isEmpty() && view->getFramesPainted() >= framesAtFinish + 3) {
            const bool saved = view->grabFramebuffer().save(snapshot);
            std::printf(saved ? "snapshot written to %s\n" : "snapshot could not be written to %s\n",
                        qPrintable(snapshot));
            std::fflush(stdout);
            snapshot.clear();
            QApplication::exit(saved ? 0 : 1);
        } else if (!snapshot.isEmpty()) {
            view->wake();
        }
        return;
    }
    if (next < fastForward || (!paused && sinceStep.elapsed() >= kStepMilliseconds)) run(next);
}

bool LassoReplay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view) return false;
    // The logged camera is the replay's: no zoom between its steps.
    if (event->type() == QEvent::Wheel) return true;
    if (event->type() == QEvent::Resize && lastCameraStep >= 0) {
        // The visualization places its area anew after the resize: the
        // logged camera comes back right after it.
        const ReplayStep step = trial.steps[static_cast<std::size_t>(lastCameraStep)];
        QTimer::singleShot(0, this, [this, step] {
            applyCamera(step);
            view->wake();
        });
        return false;
    }
    if (event->type() != QEvent::KeyPress || !started) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    // The keys of ReplayKeys, in its order.
    if (key == Qt::Key_Space) {
        paused = !paused;
        std::printf(paused ? "replay paused\n" : "replay goes on\n");
        std::fflush(stdout);
    } else if (key == Qt::Key_Right) {
        paused = true;
        if (!building && next < trial.steps.size()) run(next);
    } else if (key == Qt::Key_Left) {
        paused = true;
        if (!building && next > 0) restart(next - 1);
        if (next == 0 && fastForward == 0) view->getVis()->SetCaption("Trial " + trial.trial + ": before step 1");
    } else {
        return false;
    }
    view->wake();
    return true;
}
