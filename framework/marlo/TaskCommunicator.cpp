#include "framework/marlo/TaskCommunicator.h"

TaskCommunicator* TaskCommunicator::instance = nullptr;

TaskCommunicator* TaskCommunicator::Instance()
{
    if (!instance) instance = new TaskCommunicator();
    return instance;
}

void TaskCommunicator::Destroy()
{
    delete instance;
    instance = nullptr;
}

void TaskCommunicator::SetAspectRatio(float ratio)
{
    aspectRatio = ratio;
    calls.push_back(FrameworkCall{"SetAspectRatio", {double(ratio)}, FrameworkCall::nextSeq()});
}
