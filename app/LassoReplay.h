#pragma once
// LassoReplay: shows one logged trial again in the 3D area, step by step:
// each lasso with the camera, viewport and threshold it was drawn with, its
// line and the selection it gave, and each logged undo, redo, clear and
// threshold change. A caption says "step k of n", the mode, technique,
// threshold, the selected count and the logged one; every step also prints
// that line. A count that differs from the log is shown as such.
//
//   space   pause / go on        right arrow  one step forward (pauses)
//   left arrow  one step back (the trial is rebuilt up to there; pauses)
//
// In: the trial's steps (ReplayLog) and the view whose visualization shows
// the trial's dataset. Out: the picture, the lines, and with a snapshot path
// a picture of the last step, after which the program quits. Cost: what the
// logged lassos cost, one after another.
#include "framework/runner/ReplayLog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class QTKelvoWidgetGL;
class QTimer;

class LassoReplay : public QObject {
    Q_OBJECT
public:
    static constexpr int kStepMilliseconds = 1500;

    // The keys above as help rows (what to press, what it does).
    static std::vector<std::pair<std::string, std::string>> KeyHelp();

    LassoReplay(QTKelvoWidgetGL* view, ReplayTrial trial, bool hasEvents, const QString& snapshot);

    std::size_t stepsShown() const { return next; }
    int differences() const { return differing; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    bool ready() const;
    void restart(std::size_t upTo);
    void run(std::size_t k);
    void report(std::size_t k);
    void applyCamera(const ReplayStep& step);
    void finish();

    QTKelvoWidgetGL* view;
    ReplayTrial trial;
    bool hasEvents;
    QString snapshot;
    QTimer* poll;
    QElapsedTimer sinceStep;

    bool started = false;
    bool paused = false;
    bool building = false;      // a lasso waits for its frames
    bool finished = false;
    std::size_t next = 0;       // the step to run next
    std::size_t fastForward = 0;  // run up to here without waiting
    int differing = 0;
    long long lastCameraStep = -1;
    unsigned long framesAtFinish = 0;
};
