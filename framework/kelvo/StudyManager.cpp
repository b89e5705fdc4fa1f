#include "framework/kelvo/StudyManager.h"

#include <utility>

StudyManager* StudyManager::instance = nullptr;

StudyManager* StudyManager::Instance()
{
    if (!instance) instance = new StudyManager();
    return instance;
}

void StudyManager::Destroy()
{
    delete instance;
    instance = nullptr;
}

void StudyManager::record(const char* name, std::vector<double> args)
{
    calls.push_back(FrameworkCall{name, std::move(args), FrameworkCall::nextSeq()});
}

void StudyManager::setConditionId(int id)
{
    conditionId = id;
    record("setConditionId", {double(id)});
}

void StudyManager::SetView(int width, int height, int centerX, int centerY, int viewWidth, int viewHeight)
{
    view[0] = width;
    view[1] = height;
    view[2] = centerX;
    view[3] = centerY;
    view[4] = viewWidth;
    view[5] = viewHeight;
    record("SetView", {double(width), double(height), double(centerX), double(centerY),
                       double(viewWidth), double(viewHeight)});
}

void StudyManager::SetAspectRatio(float ratio)
{
    aspectRatio = ratio;
    record("SetAspectRatio", {double(ratio)});
}

void StudyManager::Set2DwindowAspectRatio(float ratio)
{
    aspect2d = ratio;
    record("Set2DwindowAspectRatio", {double(ratio)});
}

void StudyManager::Set3DwindowAspectRatio(float ratio)
{
    aspect3d = ratio;
    record("Set3DwindowAspectRatio", {double(ratio)});
}
