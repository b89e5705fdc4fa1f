#pragma once
// TaskCommunicator: the analysis side's channel for the task. The program
// tells it the aspect ratio of the main view; calls are kept in `calls`.
#include "framework/kelvo/FrameworkCall.h"

#include <vector>

class TaskCommunicator {
public:
    static TaskCommunicator* Instance();
    static void Destroy();

    void SetAspectRatio(float ratio);
    float GetAspectRatio() const { return aspectRatio; }

    const std::vector<FrameworkCall>& GetCalls() const { return calls; }
    void ClearCalls() { calls.clear(); }

private:
    TaskCommunicator() = default;
    static TaskCommunicator* instance;
    float aspectRatio = 1.0f;
    std::vector<FrameworkCall> calls;
};
