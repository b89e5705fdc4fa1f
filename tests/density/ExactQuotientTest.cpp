#include "density/ExactQuotient.h"
#include "density/SharedCpuFeatures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double WithFraction(double v, uint64_t fraction)
{
    const uint64_t b = (Bits(v) & ~((uint64_t(1) << 52) - 1)) | fraction;
    double out;
    std::memcpy(&out, &b, sizeof out);
    return out;
}

__attribute__((target("avx2,fma"))) void Quotients(const double* a, double b, double* q)
{
    _mm256_storeu_pd(q, density::ExactQuotient(_mm256_loadu_pd(a), _mm256_set1_pd(b), _mm256_set1_pd(1.0 / b)));
}

}  // namespace

// The kernel contributions (1 − Q) / N: every quotient equals the division's
// bits, for the divisors the estimate meets (products of three bandwidths)
// and for significands right at the edge of what the guard lets through.
TEST(ExactQuotient, EqualsTheDivisionBitForBit)
{
    if (SharedCpu::ProcessorLevel() < SharedCpu::Avx2) GTEST_SKIP() << "no AVX2 with FMA";
    std::mt19937_64 random(7);
    std::uniform_real_distribution<float> bandwidth(1e-3f, 50.0f);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const uint64_t edge = (uint64_t(1) << 52) - 17;
    size_t compared = 0;
    for (int round = 0; round < 250000; ++round) {
        double b = static_cast<double>(bandwidth(random)) * bandwidth(random) * bandwidth(random);
        if (round % 4 == 1) b = WithFraction(b, edge - (random() & 0xFFF));
        if (round % 4 == 2) b = WithFraction(b, random() & 0xFF);
        ASSERT_TRUE(density::QuotientWithoutDivision(b)) << b;
        // 1 − Q for Q ≤ 1 as the walk forms it, near 1 and near 0 alike.
        double a[4] = {1.0 - unit(random), 1.0 - (1.0 - std::ldexp(unit(random), -40)), unit(random), 0.0};
        if (round % 3 == 0) a[3] = 1.0 - std::nextafter(1.0, 0.0);
        double q[4];
        Quotients(a, b, q);
        for (int l = 0; l < 4; ++l, ++compared)
            ASSERT_EQ(Bits(q[l]), Bits(a[l] / b)) << a[l] << " / " << b;
    }
    EXPECT_EQ(compared, 1000000u);
    // Significands at 2 − 2⁻⁴⁸ and beyond, and exponents far out, divide.
    EXPECT_FALSE(density::QuotientWithoutDivision(WithFraction(3.0, edge + 1)));
    EXPECT_FALSE(density::QuotientWithoutDivision(std::nextafter(2.0, 0.0)));
    EXPECT_FALSE(density::QuotientWithoutDivision(0x1p600));
    EXPECT_FALSE(density::QuotientWithoutDivision(0x1p-600));
    EXPECT_FALSE(density::QuotientWithoutDivision(0.0));
    EXPECT_FALSE(density::QuotientWithoutDivision(std::nan("")));
}
