#pragma once
// KelvoVisBuildDirector: turns the configuration record into the second build
// stage of the visualization. The view derives from it and runs createVis
// once, at its first GL initialisation, after the builder's buildVis.
#include "framework/kelvo/VisualizationBuildDirector.h"

class Configuration;
class KelvoVis;
class KelvoVisBuilder;

class KelvoVisBuildDirector : public VisualizationBuildDirector {
public:
    explicit KelvoVisBuildDirector(Configuration* configuration) : configuration(configuration) {}

    // Null when buildVis produced no visualization; then nothing else is
    // built. Otherwise lays out the kelvo and operate windows (35 values:
    // display centre and size, then per window its centre, size, main, side
    // and extra area as centre x, centre y, width, height, and the size unit)
    // and returns the builder's visualization.
    KelvoVis* createVis(KelvoVisBuilder* builder);

protected:
    Configuration* configuration; // not owned
};
