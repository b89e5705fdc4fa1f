#pragma once
// StudyDefinition: what a study file says, as plain records, before the
// datasets are resolved and the trials are put in a participant's order.
// Every entry keeps the line it came from, so a problem found later (a label
// missing from a dataset, an empty target file) still names its place.
#include <osg/Quat>

#include <string>
#include <vector>

// How the cloud is turned and scaled when a trial is shown. `rotation` turns
// the data about its centre in eye space (x right, y up, looking down -z).
struct StartView {
    osg::Quat rotation;  // identity unless the file gives one
    double zoom = 1.0;   // 1.0: the whole cloud fits the view; 2.0: twice as large
    bool given = false;  // false: the visualization keeps its own default view
};

struct StudyDatasetEntry {
    int line = 0;
    std::string id;       // name the trials refer to
    std::string builtIn;  // name of a built-in dataset, or empty
    std::string file;     // absolute path of a dataset file, or empty
};

// Density and Cylinder: the two techniques of the design; Other: any other
// registered technique, by name; Counterbalanced: the group's techniques.
enum class TechniqueChoice { Density, Cylinder, Counterbalanced, Other };

struct StudyTrialEntry {
    int line = 0;
    std::string name;          // the file's name for the trial, or "line N"
    std::string dataset;       // id of a StudyDatasetEntry
    int targetLabel = -1;      // structure label of a built-in dataset, or -1
    std::string targetFile;    // absolute path of a particle-index file, or empty
    bool practice = false;
    TechniqueChoice technique = TechniqueChoice::Density;
    // The fixed technique's name, or (Counterbalanced) the techniques the
    // Latin square orders, in the file's order: "density cylinder" unless
    // the file lists others.
    std::vector<std::string> techniques{"density"};
    // Trials of one counterbalanced group run once per technique, all of them
    // with the participant's first technique, then all with the second, ...
    int group = -1;            // -1 for a trial with a fixed technique
    int block = -1;            // index of its <block>, -1 outside one
    // The block's measured trials run in an order drawn per participant and
    // per technique; practice trials keep their places.
    bool shuffle = false;
    StartView view;
    float startThreshold = 1.0f;
    std::string instruction;   // text to show with the target, may be empty
};

struct StudyDefinition {
    std::string path;          // the study file as given
    std::string name;
    std::string resultsDir;    // absolute; where the per-participant files go
    std::vector<StudyDatasetEntry> datasets;
    std::vector<StudyTrialEntry> trials;  // file order
    int groupCount = 0;
    int blockCount = 0;
    // The same view for every participant: zoom only where allowed (a
    // confounder otherwise), the rest of the cloud drawn as the file says
    // (0: as the program's configuration says).
    bool allowZoom = false;
    // Whether the target's highlight and the instruction stay once Start is
    // pressed (else both go, as a participant selects from memory), and
    // whether the instruction band names the trial's technique (blind
    // designs leave it out).
    bool targetDuringTrial = false;
    bool instructionDuringTrial = false;
    bool nameTechnique = false;
    float cloudPointSize = 0.0f;
    float cloudOpacity = 0.0f;
};
