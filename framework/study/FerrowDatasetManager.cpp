#include "framework/study/FerrowDatasetManager.h"

#include "framework/study/BuiltInDatasets.h"
#include "framework/study/DatasetFile.h"

#include <cstdio>
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
                              std::vector<int> particleLabels, const osg::Vec3d& offset)
{
    offsets.push_back(offset);
    if (!positions) positions = new osg::Vec3Array;
    datasets.push_back(positions);
    names.push_back(name);
    labels.push_back(std::move(particleLabels));
    return static_cast<int>(datasets.size()) - 1;
}

int FerrowDatasetManager::LoadBuiltIns()
{
    const int first = static_cast<int>(datasets.size());
    for (const std::string& name : BuiltInDatasets::Names()) AddBuiltIn(name);
    return first;
}

int FerrowDatasetManager::AddBuiltIn(const std::string& name)
{
    BuiltInDataset built;
    if (!BuiltInDatasets::Generate(name, built)) {
        std::string known;
        for (const std::string& n : BuiltInDatasets::Names()) known += (known.empty() ? "" : ", ") + n;
        std::printf("Dataset %zu: no built-in dataset is named \"%s\" (known: %s); its slot stays empty\n",
                    datasets.size(), name.c_str(), known.c_str());
        return Add(name, nullptr);
    }
    return Add(built.name, built.positions, std::move(built.labels));
}

int FerrowDatasetManager::LoadFile(const std::string& path)
{
    std::string error;
    const int nr = TryLoadFile(path, error);
    if (nr >= 0) return nr;
    std::printf("Dataset %zu: %s; its slot stays empty\n", datasets.size(), error.c_str());
    std::fflush(stdout);
    return Add(path, nullptr);
}

int FerrowDatasetManager::TryLoadFile(const std::string& path, std::string& problem)
{
    // The reader fills the array's own storage, so no second copy is made.
    osg::ref_ptr<osg::Vec3Array> array = new osg::Vec3Array;
    DatasetExtras extras;
    if (!DatasetFile::Read(path, array->asVector(), extras, problem)) return -1;
    for (const std::string& note : extras.notes) std::printf("Dataset %zu: %s\n", datasets.size(), note.c_str());
    std::fflush(stdout);
    return Add(path, array, std::move(extras.labels), extras.offset);
}

void FerrowDatasetManager::LoadConfigured(const std::vector<std::string>& entries)
{
    if (entries.empty()) {
        LoadBuiltIns();
        return;
    }
    for (const std::string& entry : entries) {
        if (BuiltInDatasets::Find(entry) >= 0)
            AddBuiltIn(entry);
        else
            LoadFile(entry);
    }
}
