#pragma once
// StudyManager: the visualization framework's view of the running study. The
// program hands it the experimental condition (0 mouse, 1 touch only), the
// size of the display area and the aspect ratios of the main, 2D-subspace and
// 3D-subspace windows. Every received call is also kept in `calls`, in order.
#include "framework/kelvo/FrameworkCall.h"

#include <vector>

class StudyManager {
public:
    static StudyManager* Instance();
    static void Destroy();

    void setConditionId(int id);
    int getConditionId() const { return conditionId; }

    // Display width and height, view centre x and y, view width and height.
    void SetView(int width, int height, int centerX, int centerY, int viewWidth, int viewHeight);
    void SetAspectRatio(float ratio);
    void Set2DwindowAspectRatio(float ratio);
    void Set3DwindowAspectRatio(float ratio);

    float GetAspectRatio() const { return aspectRatio; }
    float Get2DwindowAspectRatio() const { return aspect2d; }
    float Get3DwindowAspectRatio() const { return aspect3d; }
    int GetViewWidth() const { return view[4]; }
    int GetViewHeight() const { return view[5]; }
    const int* GetView() const { return view; }

    const std::vector<FrameworkCall>& GetCalls() const { return calls; }
    void ClearCalls() { calls.clear(); }

private:
    StudyManager() = default;
    void record(const char* name, std::vector<double> args);

    static StudyManager* instance;
    int conditionId = 0;
    int view[6] = {0, 0, 0, 0, 0, 0};
    float aspectRatio = 1.0f;
    float aspect2d = 1.0f;
    float aspect3d = 1.0f;
    std::vector<FrameworkCall> calls;
};
