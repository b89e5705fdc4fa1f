#pragma once
// Helpers of the study-runner tests: a scratch folder with files written in
// one call, and small labelled datasets put straight into the dataset manager.
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct StudyTestFolder {
    QTemporaryDir dir;
    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }
    std::string Write(const std::string& name, const std::string& text) const
    {
        const std::string p = Path(name);
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// Fresh singletons, then datasets named `names`: dataset k has 10 particles,
// labels 0 0 1 1 1 2 2 0 0 0 (structure 1: particles 2-4, structure 2: 5-6).
inline void ResetFrameworkWithDatasets(const std::vector<std::string>& names)
{
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
    for (const std::string& n : names) {
        osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
        for (int i = 0; i < 10; ++i) p->push_back(osg::Vec3(i, 0, 0));
        FerrowDatasetManager::Instance()->Add(n, p, {0, 0, 1, 1, 1, 2, 2, 0, 0, 0});
    }
}
