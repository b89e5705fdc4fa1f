#pragma once
// FerrowDatasetManager: the study framework's ordered list of particle
// datasets. Position i of `datasets` is dataset number i; every dataset is an
// array of single-precision positions in data coordinates. A slot whose file
// could not be loaded holds an empty array, so numbering never shifts.
#include <osg/Array>
#include <osg/ref_ptr>

#include <string>
#include <vector>

class FerrowDatasetManager {
public:
    static FerrowDatasetManager* Instance();
    static void Destroy();

    // Read directly by the density precomputation, first to last.
    std::vector<osg::ref_ptr<osg::Vec3Array>> datasets;
    // Per dataset: its name and one structure label per particle (0 = background
    // noise, 1.. = the dense structures of a built-in dataset; empty for files).
    std::vector<std::string> names;
    std::vector<std::vector<int>> labels;

    // Appends a dataset and returns its number.
    int Add(const std::string& name, osg::ref_ptr<osg::Vec3Array> positions,
            std::vector<int> particleLabels = {});

private:
    FerrowDatasetManager() = default;
    static FerrowDatasetManager* instance;
};
