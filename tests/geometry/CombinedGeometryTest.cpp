// Union, minus and intersection of two volumes on the same grid.
#include "geometry/EmptyGeometry.h"
#include "geometry/IntersectionGeometry.h"
#include "geometry/MinusGeometry.h"
#include "geometry/UnionGeometry.h"
#include "tests/support/FunctionVolume.h"
#include "tests/support/GridFixture.h"

#include <gtest/gtest.h>

#include <osg/ref_ptr>

#include <cmath>
#include <random>
#include <stdexcept>

namespace {

double BallA(double x, double y, double z) { return 2.0 - std::sqrt((x - 3.5) * (x - 3.5) + (y - 4) * (y - 4) + (z - 4) * (z - 4)); }
double BallB(double x, double y, double z) { return 2.0 - std::sqrt((x - 5.6) * (x - 5.6) + (y - 4) * (y - 4) + (z - 4.2) * (z - 4.2)); }

osg::ref_ptr<osg::Vec3Array> Cloud()
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-0.5f, 9.5f);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (int i = 0; i < 4000; ++i)
        cloud->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
    cloud->push_back(osg::Vec3f(4.5f, 4, 4));   // in both balls
    cloud->push_back(osg::Vec3f(20, 4, 4));     // outside the grid's box
    return cloud;
}

void ExpectSameSurface(const SurfaceMesh& a, const SurfaceMesh& b)
{
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    ASSERT_EQ(a.triangles.size(), b.triangles.size());
    for (size_t v = 0; v < a.vertices.size(); ++v)
        ASSERT_EQ(a.vertices[v], b.vertices[v]);
    for (size_t t = 0; t < a.triangles.size(); ++t) {
        ASSERT_EQ(a.triangles[t].v0, b.triangles[t].v0);
        ASSERT_EQ(a.triangles[t].v1, b.triangles[t].v1);
        ASSERT_EQ(a.triangles[t].v2, b.triangles[t].v2);
    }
}

// Checks node values against op, and every mask entry against Contains and,
// away from both surfaces, against the set operation of the two functions.
template <typename NodeOp, typename SetOp>
void ExpectCombination(const SelectionGeometry& c, const SelectionGeometry& a, const SelectionGeometry& b,
                       NodeOp nodeOp, SetOp setOp)
{
    for (size_t n = 0; n < c.field->values.size(); ++n)
        ASSERT_EQ(c.field->values[n], nodeOp(a.field->values[n], b.field->values[n])) << n;
    EXPECT_FALSE(c.GetSurface().triangles.empty());
    int checked = 0;
    for (size_t i = 0; i < c.positions->size(); ++i) {
        const osg::Vec3f& p = (*c.positions)[i];
        ASSERT_EQ(c.mask[i], c.Contains(p));
        const double fa = BallA(p.x(), p.y(), p.z()), fb = BallB(p.x(), p.y(), p.z());
        if (std::fabs(fa) > 1.0 && std::fabs(fb) > 1.0) {
            EXPECT_EQ(c.mask[i], setOp(fa > 0, fb > 0)) << p.x() << " " << p.y() << " " << p.z();
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000);
    EXPECT_FALSE(c.mask.back());  // the particle outside the box
}

}  // namespace

TEST(CombinedGeometry, UnionTakesTheLargerValue)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = Cloud();
    FunctionVolume a(cloud.get(), BallA), b(cloud.get(), BallB);
    const std::vector<double> aBefore = a.field->values, bBefore = b.field->values;
    UnionGeometry u(cloud.get(), &a, &b);
    ExpectCombination(u, a, b, [](double x, double y) { return std::max(x, y); },
                      [](bool x, bool y) { return x || y; });
    EXPECT_TRUE(u.mask[4000]);
    EXPECT_EQ(a.field->values, aBefore);  // operands are only read
    EXPECT_EQ(b.field->values, bBefore);
    EXPECT_GT(u.VolumeFraction(), a.VolumeFraction());
}

TEST(CombinedGeometry, IntersectionTakesTheSmallerValue)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = Cloud();
    FunctionVolume a(cloud.get(), BallA), b(cloud.get(), BallB);
    IntersectionGeometry x(cloud.get(), &a, &b);
    ExpectCombination(x, a, b, [](double p, double q) { return std::min(p, q); },
                      [](bool p, bool q) { return p && q; });
    EXPECT_TRUE(x.mask[4000]);
    EXPECT_LT(x.VolumeFraction(), a.VolumeFraction());
}

TEST(CombinedGeometry, MinusRemovesTheSecondOperand)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = Cloud();
    FunctionVolume a(cloud.get(), BallA), b(cloud.get(), BallB);
    MinusGeometry m(cloud.get(), &a, &b);
    ExpectCombination(m, a, b, [](double p, double q) { return std::min(p, -q); },
                      [](bool p, bool q) { return p && !q; });
    EXPECT_FALSE(m.mask[4000]);
}

TEST(CombinedGeometry, EmptyOperands)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = Cloud();
    FunctionVolume a(cloud.get(), BallA);
    EmptyGeometry empty(cloud.get());

    // Union with the empty volume, either side, and minus the empty volume
    // reproduce the operand: same values, same surface, same mask.
    UnionGeometry u1(cloud.get(), &empty, &a), u2(cloud.get(), &a, &empty);
    MinusGeometry m(cloud.get(), &a, &empty);
    for (const SelectionGeometry* g : {static_cast<SelectionGeometry*>(&u1), static_cast<SelectionGeometry*>(&u2),
                                       static_cast<SelectionGeometry*>(&m)}) {
        EXPECT_EQ(g->field->values, a.field->values);
        ExpectSameSurface(g->GetSurface(), a.GetSurface());
        EXPECT_EQ(g->mask, a.mask);
    }

    // Intersection with the empty volume, and the empty volume minus anything, are empty.
    IntersectionGeometry x(cloud.get(), &a, &empty);
    MinusGeometry emptyMinus(cloud.get(), &empty, &a);
    for (const SelectionGeometry* g : {static_cast<SelectionGeometry*>(&x), static_cast<SelectionGeometry*>(&emptyMinus)}) {
        for (double v : g->field->values)
            ASSERT_EQ(v, kBorderValue);
        EXPECT_TRUE(g->GetSurface().triangles.empty());
        EXPECT_TRUE(g->GetSurface().vertices.empty());
        for (bool inside : g->mask)
            ASSERT_FALSE(inside);
        EXPECT_EQ(g->VolumeFraction(), 0.0);
    }
}

TEST(CombinedGeometry, RefusesOperandsOnAnotherGrid)
{
    osg::ref_ptr<osg::Vec3Array> cloud = Cloud();
    GridFixture small(0, 9, 8);
    FunctionVolume a(cloud.get(), BallA);
    GridFixture grid(0, 9, 10);
    FunctionVolume b(cloud.get(), BallB);
    EXPECT_THROW(UnionGeometry(cloud.get(), &a, &b), std::invalid_argument);
    EXPECT_THROW(MinusGeometry(cloud.get(), &b, nullptr), std::invalid_argument);
}
