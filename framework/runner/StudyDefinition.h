#pragma once
// StudyDefinition: what a study file says, as plain records, before the
// datasets are resolved and the trials are put in a participant's order.
// Every entry keeps the line it came from, so a problem found later (a label
// missing from a dataset, an empty target file) still names its place.
#include "framework/runner/Questionnaire.h"

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

// A questionnaire of the study file and where it is asked: after each
// technique's run of a block (a counterbalanced block asks it once per
// technique), after the whole block, or at the end of the study.
struct StudyQuestionnaireEntry {
    enum Placement { AfterTechnique, AfterBlock, AtEnd };
    int line = 0;
    Placement placement = AtEnd;
    int block = -1;            // index of its <block>; -1 at the end
    Questionnaire questionnaire;
};

// A pause between blocks, or inside a counterbalanced block between its
// techniques' runs: its screen says `text` and lets the participant go on
// once `seconds` have passed.
struct StudyBreakEntry {
    int line = 0;
    int block = -1;            // index of its <block>; -1 between blocks
    size_t afterTrials = 0;    // between blocks: trials of the file (file order) before it
    double seconds = 0.0;
    std::string text;
};

// One field of the participant form asked before the first trial: a whole
// number in [minimum, maximum] or one of `choices` (their text is the value).
struct FormField {
    enum Kind { Number, Choice };
    int line = 0;
    std::string id;            // the column of P<id>_participant.csv
    std::string label;
    Kind kind = Choice;
    int minimum = 0, maximum = 0;
    std::vector<std::string> choices;
    bool required = true;
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
    // In file order; those of one place are asked in that order.
    std::vector<StudyQuestionnaireEntry> questionnaires;
    std::vector<StudyBreakEntry> breaks;
    std::vector<FormField> form;  // empty: no participant form
};
