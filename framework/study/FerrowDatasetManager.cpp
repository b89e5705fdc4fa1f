#include "framework/study/FerrowDatasetManager.h"

#include <utility>

FerrowDatasetManager* FerrowDatasetManager::instance = nullptr;

FerrowDatasetManager* FerrowDatasetManager::Instance()
{
    if (!instance) instance = new FerrowDatasetManager();
    return instance;
}

void FerrowDatasetManager::Destroy()
{
    delete instance;
    instance = nullptr;
}

int FerrowDatasetManager::Add(const std::string& name, osg::ref_ptr<osg::Vec3Array> positions,
                              std::vector<int> particleLabels)
{
    if (!positions) positions = new osg::Vec3Array;
    datasets.push_back(positions);
    names.push_back(name);
    labels.push_back(std::move(particleLabels));
    return static_cast<int>(datasets.size()) - 1;
}
