#pragma once
// FerrowDatasetManager: the study framework's ordered list of particle
// datasets. Position i of `datasets` is dataset number i; every dataset is an
// array of single-precision positions in data coordinates. A slot whose file
// could not be loaded holds an empty array, so numbering never shifts.
//
// Sources: the built-in clouds (framework/study/BuiltInDatasets.h), served when
// nothing else is configured, and particle files (framework/study/DatasetFile.h).
#include <osg/Array>
#include <osg/Vec3d>
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
    // noise, 1.. = the dense structures of a built-in dataset or the labels a
    // file carries; empty for files without labels).
    std::vector<std::string> names;
    std::vector<std::vector<int>> labels;
    // Per dataset: what was subtracted from the file's double-precision
    // coordinates (file coordinates = position + offset); zero otherwise.
    std::vector<osg::Vec3d> offsets;

    // Whether density fields are read from and stored in the density cache
    // (density/DensityCache.h); --no-density-cache turns it off.
    bool densityCache = true;

    // Appends a dataset and returns its number.
    int Add(const std::string& name, osg::ref_ptr<osg::Vec3Array> positions,
            std::vector<int> particleLabels = {}, const osg::Vec3d& offset = osg::Vec3d(0, 0, 0));

    // Appends every built-in dataset in the order of BuiltInDatasets::Names();
    // returns the number of the first one.
    int LoadBuiltIns();
    // Appends the named built-in dataset and returns its number. An unknown name
    // prints one line naming it and the known names, and its slot stays empty.
    int AddBuiltIn(const std::string& name);
    // Appends the particles of a file (any format of DatasetFile, with its
    // labels and offset) under the file's name as given and returns its
    // number; the reader's notes are printed. A file that cannot be read or is
    // malformed prints a few lines naming the file and the reason, and its
    // slot stays empty.
    int LoadFile(const std::string& path);
    // The same, but a file that cannot be read adds no slot: returns -1 with
    // the reason in problem.
    int TryLoadFile(const std::string& path, std::string& problem);
    // What a study or the command line configures: each entry is a built-in
    // name or, otherwise, a file path. With no entries at all, the built-ins.
    void LoadConfigured(const std::vector<std::string>& entries);

private:
    FerrowDatasetManager() = default;
    static FerrowDatasetManager* instance;
};
