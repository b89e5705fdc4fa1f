#pragma once
// ExactQuotient: a / b for four doubles at once, correctly rounded (the very
// bits a division gives), from multiplications and fused multiply-adds, which
// cost a fraction of a vector division.
//
// In: a = 0 or a in [2⁻⁶⁰, 2] (the splat's contributions 1 − Q are 0 or lie
// in [2⁻⁵³, 1] up to rounding), b for which QuotientWithoutDivision(b) holds, and
// y = 1.0 / b (correctly rounded). Out: a / b rounded to nearest.
// Cost: one multiplication and four fused multiply-adds.
//
// Why it is exact. q0 = a·y is within 1.5 units in the last place of a/b;
// one correction q1 = q0 + (a − b·q0)·y brings it within half a unit plus
// 2⁻⁵¹ of one. Then a − b·q1 is exact in a fused multiply-add, and the second
// correction gives a/b + (a/b − q1)·ε with |ε| = |b·y − 1| ≤ m·2⁻⁵⁴, m the
// significand of b. A quotient of doubles lies at least 2⁻⁵³/m units from the
// midpoint between two doubles, so the error cannot cross one while
// (½ + 2⁻⁵¹)·m² < 2, which holds for every significand below 2 − 2⁻⁴⁸. The
// exponent bounds keep every intermediate value normal for a in [2⁻⁶⁰, 2];
// a = 0 gives 0 at every step.
#include <cstdint>
#include <cstring>
#include <immintrin.h>

namespace density {

// Whether ExactQuotient may divide by b: b normal, well inside the exponent
// range, and its significand not within 2⁻⁴⁸ of 2.
inline bool QuotientWithoutDivision(double b)
{
    if (!(b >= 0x1p-500 && b <= 0x1p500)) return false;
    uint64_t bits;
    std::memcpy(&bits, &b, sizeof bits);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    return fraction < (uint64_t(1) << 52) - 16;
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256d ExactQuotient(__m256d a, __m256d b, __m256d y)
{
    __m256d q = _mm256_mul_pd(a, y);
    q = _mm256_fmadd_pd(_mm256_fnmadd_pd(q, b, a), y, q);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q, b, a), y, q);
}

__attribute__((target("avx512f"), always_inline)) inline __m512d ExactQuotient512(__m512d a, __m512d b, __m512d y)
{
    __m512d q = _mm512_mul_pd(a, y);
    q = _mm512_fmadd_pd(_mm512_fnmadd_pd(q, b, a), y, q);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q, b, a), y, q);
}

}  // namespace density
