#include "framework/tovik/WindowsFrameTimer.h"

WindowsFrameTimer::WindowsFrameTimer(int frameIntervalMs)
    : frameInterval(frameIntervalMs), start(Clock::now()), lastTick(start)
{
}

double WindowsFrameTimer::getTime() const
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double WindowsFrameTimer::tick()
{
    const Clock::time_point now = Clock::now();
    const double dt = std::chrono::duration<double>(now - lastTick).count();
    lastTick = now;
    return dt;
}

bool WindowsFrameTimer::frameDue() const
{
    return std::chrono::duration<double, std::milli>(Clock::now() - lastTick).count() >= frameInterval;
}
