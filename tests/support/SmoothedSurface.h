#pragma once
// The literal display of a surface, for checking the selection's own normals
// and kept displays against: the mesh as one indexed triangle set, smoothed
// by the scene graph's SmoothingVisitor.
//
// In: a surface mesh. Out: a new geometry with vertices, elements and the
// smoothing's normals. Cost: the smoothing's search tree over every corner.
#include "density/SurfaceMesh.h"

#include <osg/Geometry>
#include <osgUtil/SmoothingVisitor>

inline osg::ref_ptr<osg::Geometry> SmoothedGeometry(const SurfaceMesh& mesh)
{
    osg::ref_ptr<osg::Geometry> g = new osg::Geometry;
    g->setVertexArray(new osg::Vec3Array(mesh.vertices.begin(), mesh.vertices.end()));
    osg::ref_ptr<osg::DrawElementsUInt> elements = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (const TriangleIndices& t : mesh.triangles) {
        elements->push_back(static_cast<GLuint>(t.v0));
        elements->push_back(static_cast<GLuint>(t.v1));
        elements->push_back(static_cast<GLuint>(t.v2));
    }
    g->addPrimitiveSet(elements.get());
    osgUtil::SmoothingVisitor::smooth(*g);
    return g;
}
