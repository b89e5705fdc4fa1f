#pragma once
// CellNumbers: the arithmetic that turns a point into its cell and a cell
// number back into (i, j, k), for the point test. In: an offset from the
// grid's first node with the node step and its reciprocal; a cell number
// with the cells per row and per plane. Out: the cell index on the axis, or
// −1 outside; (i, j, k). Cost: a multiplication per axis (a division only
// next to node planes); two 64-bit multiplications per split.
#include <cmath>
#include <cstddef>
#include <cstdint>

// The cell index trunc(offset/step) + 1 along one axis, or −1 when it lies
// outside [0, count − 1]. A division per axis and point dominated the test,
// so the quotient is first taken with the reciprocal: two roundings (the
// reciprocal's and the product's), each within 2⁻⁵³ of the value, put it
// within 2.2e-10 of the true quotient for |q| < 1e6, so when its fraction
// stays more than 1e-9 away from an integer the truncation cannot differ
// from the division's. Otherwise
// (points on or within rounding of a node plane, far points, NaN) the exact
// division decides. The range check runs on doubles, so a far point or a NaN
// coordinate cannot overflow the conversion to int.
inline int CellIndexOnAxis(double offset, double step, double inverseStep, int count)
{
    const double q = offset * inverseStep;
    if (q > -1e6 && q < 1e6) {
        const int whole = static_cast<int>(q);
        const double fraction = std::fabs(q - whole);
        if (fraction > 1e-9 && fraction < 1.0 - 1e-9) {
            const int index = whole + 1;
            return index >= 0 && index <= count - 1 ? index : -1;
        }
    }
    const double exact = std::trunc(offset / step) + 1.0;
    return exact >= 0.0 && exact <= count - 1 ? static_cast<int>(exact) : -1;
}

// A cell number split into (i, j, k) without dividing: for n, d < 2^32 and
// m = ⌈2^64 / d⌉, the high half of n·m is ⌊n / d⌋ (m exceeds 2^64 / d by less
// than 1, which moves n·m / 2^64 by less than 2^-32 < 1/d, too little to
// reach the next multiple of 1/d). Two 32-bit divisions per cut point were a
// tenth of the range test's time.
struct CellSplit {
    uint64_t rowMagic, planeMagic;
    uint32_t rowCells, planeCells;
    CellSplit(size_t row, size_t plane)
        : rowMagic(~uint64_t{0} / row + 1), planeMagic(~uint64_t{0} / plane + 1),
          rowCells(static_cast<uint32_t>(row)), planeCells(static_cast<uint32_t>(plane))
    {
    }
    static uint32_t Quotient(uint32_t n, uint64_t magic)
    {
        return static_cast<uint32_t>((static_cast<unsigned __int128>(n) * magic) >> 64);
    }
    void Split(uint32_t cell, int& i, int& j, int& k) const
    {
        const uint32_t plane = Quotient(cell, planeMagic);
        const uint32_t inPlane = cell - plane * planeCells;
        const uint32_t row = Quotient(inPlane, rowMagic);
        k = static_cast<int>(plane);
        j = static_cast<int>(row);
        i = static_cast<int>(inPlane - row * rowCells);
    }
};
