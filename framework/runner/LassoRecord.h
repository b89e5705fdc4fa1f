#pragma once
// LassoRecord: one completed lasso as the visualization hands it to the study
// runner, right after the selection has been updated. With the three
// matrices, the viewport and the window points the lasso can be replayed
// exactly, outside the program.
#include <osg/Matrixd>
#include <osg/Vec2f>

#include <vector>

struct LassoRecord {
    // The engine's numbering of the ways a lasso combines with the selection.
    enum Mode { Plus = 1, Minus = 2, Intersection = 3 };

    Mode mode = Plus;
    double time = 0.0;            // seconds, on the clock given to StartTrial
    float threshold = 1.0f;       // the threshold the lasso's volume was built at
    int viewportWidth = 0;
    int viewportHeight = 0;
    // Origin of the master camera's viewport in the window. The points and the
    // window matrix include it, so a replay needs it unless it is 0.
    int viewportX = 0;
    int viewportY = 0;
    osg::Matrixd model;           // data transform: data -> world
    osg::Matrixd view;            // master camera view matrix
    osg::Matrixd projection;      // master camera projection matrix
    std::vector<osg::Vec2f> points;  // window coordinates, origin lower left
    long long selectedAfter = 0;  // particles selected once the lasso is applied
};
