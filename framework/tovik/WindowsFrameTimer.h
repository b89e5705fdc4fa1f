#pragma once
// WindowsFrameTimer: the frame clock handed to the visualization builder. It
// is created with the wished time between frames in milliseconds and reports
// the time since its creation, so animations advance by wall time rather than
// by frame count.
#include <chrono>

class WindowsFrameTimer {
public:
    explicit WindowsFrameTimer(int frameIntervalMs);

    int getFrameInterval() const { return frameInterval; }
    // Seconds since construction.
    double getTime() const;
    // Seconds since the previous call (or construction); starts a new frame.
    double tick();
    // True when at least the frame interval has passed since the last tick.
    bool frameDue() const;

private:
    using Clock = std::chrono::steady_clock;
    int frameInterval;
    Clock::time_point start;
    Clock::time_point lastTick;
};
