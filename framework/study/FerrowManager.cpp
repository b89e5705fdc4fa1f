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

void FerrowManager::SetTechniqueOf(Technique t, const std::string& otherName)
{
    technique = t;
    switch (t) {
    case PravikTechnique: techniqueName = "density"; break;
    case CylinderTechnique: techniqueName = "cylinder"; break;
    case OtherTechnique: techniqueName = otherName; break;
    default: techniqueName.clear(); break;
    }
    if (t == OtherTechnique && otherName.empty()) technique = NoTechnique;
}

void FerrowManager::SetNamed(const std::string& name)
{
    if (name == "density") SetTechniqueOf(PravikTechnique, "");
    else if (name == "cylinder") SetTechniqueOf(CylinderTechnique, "");
    else SetTechniqueOf(OtherTechnique, name);
}

void FerrowManager::LockTrial(int datasetNr, Technique t)
{
    currentDatasetNr = datasetNr;
    SetTechniqueOf(t, "");
    trialLocked = true;
}

void FerrowManager::LockTrial(int datasetNr, const std::string& name)
{
    currentDatasetNr = datasetNr;
    SetNamed(name);
    trialLocked = true;
}
