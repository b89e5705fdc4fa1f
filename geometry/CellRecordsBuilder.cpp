#include "geometry/CellRecordsBuilder.h"

#include <emmintrin.h>

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

CellRecordsBuilder::CellRecordsBuilder(ScalarField3D& field, double iso) : cells(field.cells)
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
    cells.classWords.clear();
    cells.cutBits.assign(bitWords, 0);
    cells.noCornerBelowBits.assign(bitWords, 0);
    cutBits = cells.cutBits.data();
    noCornerBelowBits = cells.noCornerBelowBits.data();
}

void CellRecordsBuilder::Finish()
{
    const size_t bitWords = cells.cutBits.size();
    cells.cutCellsBefore.resize(bitWords);
    uint32_t cutBefore = 0;
    for (size_t w = 0; w < bitWords; ++w) {
        cells.cutCellsBefore[w] = cutBefore;
        cutBefore += static_cast<uint32_t>(__builtin_popcountll(cells.cutBits[w]));
    }
    // Sixteen cells' cut bits and inside bits side by side, eight words of
    // them per interleaving of two 128-bit loads.
    cells.classWords.resize(bitWords * 4);
    const uint16_t* cut = reinterpret_cast<const uint16_t*>(cells.cutBits.data());
    const uint16_t* noCornerBelow = reinterpret_cast<const uint16_t*>(cells.noCornerBelowBits.data());
    uint32_t* classWords = cells.classWords.data();
    size_t u = 0;
    for (; u + 8 <= bitWords * 4; u += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cut + u));
        const __m128i inside = _mm_andnot_si128(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(noCornerBelow + u)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(classWords + u), _mm_unpacklo_epi16(c, inside));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(classWords + u + 4), _mm_unpackhi_epi16(c, inside));
    }
    for (; u < bitWords * 4; ++u)
        classWords[u] = cut[u] | static_cast<uint32_t>(noCornerBelow[u] & ~cut[u]) << 16;
    cells.complete = true;
}
