#include "geometry/CellIndexBuilder.h"

namespace {

// Node coordinates for node indices −1 … count, in double then rounded to
// float, so that every cell sharing a corner sees the same position.
std::vector<float> AxisPositions(double min, double step, int count)
{
    std::vector<float> positions(static_cast<size_t>(count) + 2);
    for (int n = -1; n <= count; ++n)
        positions[n + 1] = static_cast<float>(min + n * step);
    return positions;
}

}  // namespace

CellIndexBuilder::CellIndexBuilder(ScalarField3D& field, double iso) : cells(field.cells)
{
    const size_t cellCount = static_cast<size_t>(field.xCount + 1) * (field.yCount + 1) * (field.zCount + 1);
    bitWords = (cellCount + 63) / 64;
    if (!field.cellsBuilt) {
        cells.cornerX = AxisPositions(field.xMin, field.xStep, field.xCount);
        cells.cornerY = AxisPositions(field.yMin, field.yStep, field.yCount);
        cells.cornerZ = AxisPositions(field.zMin, field.zStep, field.zCount);
        cells.xInverseStep = 1.0 / field.xStep;
        cells.yInverseStep = 1.0 / field.yStep;
        cells.zInverseStep = 1.0 / field.zStep;
        field.cellsBuilt = true;
    }
    cells.complete = false;
    cells.iso = iso;
    cells.triangles.clear();
    cells.cutCells.clear();
    cells.cutBits.assign(bitWords, 0);
    cells.noCornerBelowBits.assign(bitWords, 0);
    cutBits = cells.cutBits.data();
    noCornerBelowBits = cells.noCornerBelowBits.data();
}

void CellIndexBuilder::Finish()
{
    const size_t bitWords = cells.cutBits.size();
    cells.cutCellsBefore.resize(bitWords);
    uint32_t cutBefore = 0;
    for (size_t w = 0; w < bitWords; ++w) {
        cells.cutCellsBefore[w] = cutBefore;
        cutBefore += static_cast<uint32_t>(__builtin_popcountll(cells.cutBits[w]));
    }
    cells.complete = true;
}
