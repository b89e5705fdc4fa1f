#pragma once
// StudyFileReader: reads a study file (XML, format in docs/study-file.md) into
// a StudyDefinition and checks everything that can be checked without the
// datasets: element and attribute names, numbers, references between
// datasets and trials, counterbalanced blocks. Relative paths are taken from
// the study file's folder. Each problem is one line "file:line: what"; a
// malformed document stops the reading at its first error, every other
// problem is collected so a researcher sees them all at once.
#include "framework/runner/StudyDefinition.h"

#include <string>
#include <vector>

class StudyFileReader {
public:
    // Fills `study` and returns no problems, or returns the problems; `study`
    // is then incomplete and must not be used.
    static std::vector<std::string> Read(const std::string& path, StudyDefinition& study);
};
