#include "framework/study/FerrowManager.h"

FerrowManager* FerrowManager::instance = nullptr;

FerrowManager* FerrowManager::Instance()
{
    if (!instance) instance = new FerrowManager();
    return instance;
}

void FerrowManager::Destroy()
{
    delete instance;
    instance = nullptr;
}

void FerrowManager::PravikSelectionStart()
{
    started = true;
}

void FerrowManager::LockTrial(int datasetNr, Technique t)
{
    currentDatasetNr = datasetNr;
    technique = t;
    trialLocked = true;
}
