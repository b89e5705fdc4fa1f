#pragma once
// VisualizationBuildDirector: base of the program's director, which decides
// the arguments of the second build stage (KelvoVisBuilder::buildKelvo). It
// carries no state of its own; the director that derives from it holds the
// configuration and runs the build.
class VisualizationBuildDirector {
protected:
    VisualizationBuildDirector() = default;
    ~VisualizationBuildDirector() = default;
};
