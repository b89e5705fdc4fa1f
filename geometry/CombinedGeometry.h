#pragma once
// CombinedGeometry: the common part of the set operations on two volumes.
// The new field takes, node by node, an operation of the two operands' values
// (both on the current dataset's grid), its surface is extracted at level 0
// and every particle is tested against it. The operands are read during
// construction only and not changed.
#include "geometry/SelectionGeometry.h"

class CombinedGeometry : public SelectionGeometry {
public:
    enum class NodeOperation {
        Union,         // max(a, b)
        Intersection,  // min(a, b)
        Minus,         // min(a, −b)
    };
    // Whether construction tests the particles or leaves the mask for a
    // later ComputeMask.
    enum class MaskTiming { Now, Later };

protected:
    // Throws std::invalid_argument when an operand has no field or its node
    // counts differ from the current grid's (it would be read out of range),
    // and std::out_of_range when the current dataset has no density field.
    CombinedGeometry(osg::Vec3Array* positions, const SelectionGeometry* a,
                     const SelectionGeometry* b, NodeOperation operation, MaskTiming timing);
};
