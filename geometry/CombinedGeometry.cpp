#include "geometry/CombinedGeometry.h"

#include <algorithm>
#include <stdexcept>

namespace {

void CheckOperand(const SelectionGeometry* operand, const ScalarField3D& grid)
{
    if (!operand || !operand->field)
        throw std::invalid_argument("CombinedGeometry: operand has no field");
    const ScalarField3D& f = *operand->field;
    if (f.xCount != grid.xCount || f.yCount != grid.yCount || f.zCount != grid.zCount)
        throw std::invalid_argument("CombinedGeometry: operand lies on a different grid");
}

// The operation is a template argument so the node loop carries no branch.
// Each node is combined on its own, so the visiting order does not matter;
// the operands have the new field's counts (checked), hence the same index.
template <typename Operation>
void CombineNodes(ScalarField3D& out, const ScalarField3D& a, const ScalarField3D& b, Operation op)
{
    const size_t count = out.values.size();
    for (size_t n = 0; n < count; ++n)
        out.values[n] = op(a.values[n], b.values[n]);
}

}  // namespace

CombinedGeometry::CombinedGeometry(osg::Vec3Array* positions, const SelectionGeometry* a,
                                   const SelectionGeometry* b, NodeOperation operation, MaskTiming timing)
    : SelectionGeometry(positions)
{
    field = CreateFieldOnCurrentGrid();
    CheckOperand(a, *field);
    CheckOperand(b, *field);
    const ScalarField3D& fa = *a->field;
    const ScalarField3D& fb = *b->field;
    switch (operation) {
    case NodeOperation::Union:
        CombineNodes(*field, fa, fb, [](double va, double vb) { return std::max(va, vb); });
        break;
    case NodeOperation::Intersection:
        CombineNodes(*field, fa, fb, [](double va, double vb) { return std::min(va, vb); });
        break;
    case NodeOperation::Minus:
        CombineNodes(*field, fa, fb, [](double va, double vb) { return std::min(va, -vb); });
        break;
    }
    field->ExtractIsoSurface(0.0);
    // The operands lie on this grid; where they tested these very positions,
    // their cells are this volume's too (the mask checks the grid again).
    for (const SelectionGeometry* operand : {a, b})
        if (!particleCells && operand->positions == positions) particleCells = operand->particleCells;
    if (timing == MaskTiming::Now) ComputeMaskFromField();
}
