#pragma once
// FrameworkCall: one call received by a framework singleton (StudyManager,
// TaskCommunicator), kept so that the order and arguments of what the program
// sends can be checked. `seq` is drawn from one process-wide counter, so calls
// to different singletons can be ordered against each other.
#include <string>
#include <vector>

struct FrameworkCall {
    std::string name;
    std::vector<double> args;
    unsigned long seq = 0;

    static unsigned long nextSeq()
    {
        static unsigned long counter = 0;
        return ++counter;
    }
};
