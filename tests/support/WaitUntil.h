#pragma once
// Waiting in tests that run Qt in process: turns the event loop until a
// condition holds or the time is up.
//
// In: the condition, a limit in milliseconds. Out: the condition's value at
// the end. Cost: event-loop turns of at most 20 ms each.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

template <class Done>
bool WaitUntil(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
