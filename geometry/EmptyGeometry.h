#pragma once
// EmptyGeometry: the empty selection. Every node holds the border value, no
// surface is extracted, every mask entry is false, Contains is always false.
#include "geometry/SelectionGeometry.h"

class EmptyGeometry : public SelectionGeometry {
public:
    explicit EmptyGeometry(osg::Vec3Array* positions);
    bool Contains(const osg::Vec3f& p) const override;
};
