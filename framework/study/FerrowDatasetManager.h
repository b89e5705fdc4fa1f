#pragma once
// FerrowDatasetManager: the study framework's ordered list of particle
// datasets. Position i of `datasets` is dataset number i; every dataset is an
// array of single-precision positions in data coordinates. A slot whose file
// could not be loaded holds an empty array, so numbering never shifts.
//
// Sources: the built-in clouds (framework/study/BuiltInDatasets.h), served when
// nothing else is configured, and particle files (framework/study/DatasetFile.h).
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

    // Appends every built-in dataset in the order of BuiltInDatasets::Names();
    // returns the number of the first one.
    int LoadBuiltIns();
    // Appends the named built-in dataset and returns its number. An unknown name
    // prints one line naming it and the known names, and its slot stays empty.
    int AddBuiltIn(const std::string& name);
    // Appends the particles of a file (raw float32 or text) under the file's
    // path as name and returns its number. A file that cannot be read or is
    // malformed prints one line naming the file and the reason, and its slot
    // stays empty.
    int LoadFile(const std::string& path);
    // What a study or the command line configures: each entry is a built-in
    // name or, otherwise, a file path. With no entries at all, the built-ins.
    void LoadConfigured(const std::vector<std::string>& entries);

private:
    FerrowDatasetManager() = default;
    static FerrowDatasetManager* instance;
};
