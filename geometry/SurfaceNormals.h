#pragma once
// SurfaceNormals: the per-vertex normals a selection surface is lit with, the
// same as the scene graph's smoothing gives them (osgUtil::SmoothingVisitor at
// its default crease angle), without its search tree of vertex positions.
//
// In: a SurfaceMesh. Out: one normal per vertex: the sum, in triangle order,
// of (v1 − v0) × (v2 − v0) of every triangle with a corner at the vertex's
// position (once per such corner), normalised; vertices at one position get
// the same normal. Cost: a sort of the vertex positions and one pass over the
// triangles.
#include "density/SurfaceMesh.h"

#include <osg/Array>
#include <osg/ref_ptr>

osg::ref_ptr<osg::Vec3Array> SurfaceNormals(const SurfaceMesh& mesh);
