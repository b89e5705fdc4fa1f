// Selection states: combination by mode, undo, redo, clear, reset, the trim of
// old states, and the mask kept in step with the current state.
#include "framework/study/FerrowManager.h"
#include "density/EngineSwitches.h"
#include "geometry/AllocationFaults.h"
#include "geometry/IntersectionGeometry.h"
#include "geometry/MarchingCubesGeometry.h"
#include "geometry/MinusGeometry.h"
#include "geometry/SelectionGeometry.h"
#include "tests/support/SelectionSession.h"
#include "tests/support/SmoothedSurface.h"

#include <gtest/gtest.h>
#include <osg/Geometry>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

namespace {

SelectionSessionOptions MaskLongerThanTheDataset()
{
    SelectionSessionOptions options;
    options.extraMaskFlags = 7;
    return options;
}

// Cylinder lassos on a blob in noise, seen along −z through an orthographic
// camera; the lasso image is painted by hand, so no GL context is needed.
struct History : testing::Test {
    History()
        : session(DatasetFixture::BlobInNoise(3000, 3000).get(), MaskLongerThanTheDataset()), scene(session.scene),
          data(session.data), mask(session.mask), changed(session.changed), selection(*session.selection)
    {
        scene.viewer->getCamera()->setViewMatrixAsLookAt(osg::Vec3d(0, 0, 20), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
        scene.Ortho(-8, 8, -6, 6, 1, 40);
        FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    }

    // A rectangular lasso over data-space x0..x1, y0..y1; returns its window points.
    std::vector<osg::Vec2f> lasso(int mode, double x0, double y0, double x1, double y1)
    {
        const osg::Vec3d a = scene.Project(osg::Vec3d(x0, y0, 0)), b = scene.Project(osg::Vec3d(x1, y1, 0));
        std::vector<osg::Vec2f> poly = {osg::Vec2f(a.x(), a.y()), osg::Vec2f(b.x(), a.y()),
                                        osg::Vec2f(b.x(), b.y()), osg::Vec2f(a.x(), b.y())};
        EXPECT_TRUE(session.DrawLasso(mode, poly));
        session.Build();
        return poly;
    }
    std::vector<int> undo() const { return {selection.GetUndoStack().begin(), selection.GetUndoStack().end()}; }
    std::vector<int> redo() const { return {selection.GetRedoStack().begin(), selection.GetRedoStack().end()}; }
    const SelectionGeometry* state(size_t i) const { return selection.GetHistory()[i].get(); }
    size_t selectedCount() const { return session.Selected(); }
    // The mask holds the current state's membership for every particle.
    void expectMaskIsState(size_t k) const { EXPECT_EQ(session.MaskMismatch(*state(k)), -1) << "state " << k; }

    SelectionSession session;
    SceneFixture& scene;
    DatasetFixture& data;
    std::vector<bool>& mask;
    bool& changed;
    ParticleSelection& selection;
};

}  // namespace

TEST_F(History, WorkedSequenceHoldsStepByStep)
{
    // The caller's flags beyond the dataset are its own until a clear.
    for (size_t i = data.particles->size(); i < mask.size(); ++i) mask[i] = true;
    ASSERT_EQ(selection.GetHistory().size(), 1u);
    EXPECT_EQ(undo(), std::vector<int>({0}));
    EXPECT_TRUE(changed);
    EXPECT_EQ(selection.GetVolume(), 0.0);
    const SelectionGeometry* E = state(0);

    lasso(1, -3, -3, 3, 3);  // A
    ASSERT_EQ(selection.GetHistory().size(), 2u);
    EXPECT_EQ(undo(), std::vector<int>({0, 1}));
    const SelectionGeometry* A = state(1);
    expectMaskIsState(1);
    const size_t countA = selectedCount();
    EXPECT_GT(countA, 3000u);  // the blob and the noise in front of and behind it
    EXPECT_GT(selection.GetVolume(), 0.0);
    EXPECT_TRUE(selection.GetLassoPoints().empty());

    lasso(2, 0, -4, 4, 4);  // B, minus
    ASSERT_EQ(selection.GetHistory().size(), 3u);
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(state(1), A);
    expectMaskIsState(2);
    const size_t countAminusB = selectedCount();
    EXPECT_LT(countAminusB, countA);
    EXPECT_GT(countAminusB, 0u);
    for (size_t i = 0; i < data.particles->size(); ++i) {
        if (mask[i]) {
            ASSERT_TRUE(A->mask[i]) << "A−B selects particle " << i << " outside A";
        }
    }

    changed = false;
    selection.undoLastSelection();
    EXPECT_EQ(undo(), std::vector<int>({0, 1}));
    EXPECT_EQ(redo(), std::vector<int>({2}));
    expectMaskIsState(1);
    EXPECT_TRUE(changed);

    selection.redoLastSelection();
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 2}));
    EXPECT_TRUE(redo().empty());
    EXPECT_EQ(selectedCount(), countAminusB);
    for (size_t i = data.particles->size(); i < mask.size(); ++i) EXPECT_TRUE(mask[i]);  // written only below the count

    selection.undoLastSelection();
    selection.ClearSelection();
    ASSERT_EQ(selection.GetHistory().size(), 4u);
    EXPECT_EQ(state(3), E);
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 3}));
    EXPECT_TRUE(redo().empty());
    EXPECT_EQ(selectedCount(), 0u);
    for (size_t i = data.particles->size(); i < mask.size(); ++i) EXPECT_FALSE(mask[i]);  // clear writes every flag
    EXPECT_EQ(selection.GetVolumeGeometry()->getVertexArray()->getNumElements(), 0u);

    lasso(1, -1, -1, 1, 1);  // C
    ASSERT_EQ(selection.GetHistory().size(), 5u);
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 3, 4}));
    expectMaskIsState(4);
    EXPECT_GT(selectedCount(), 0u);
    // Undo of the clear brings the cleared selection back.
    selection.undoLastSelection();
    selection.undoLastSelection();
    EXPECT_EQ(selectedCount(), countA);
}

TEST_F(History, MinusOrIntersectionFirstAddsNoState)
{
    lasso(2, -3, -3, 3, 3);
    EXPECT_EQ(selection.GetHistory().size(), 1u);
    EXPECT_EQ(selectedCount(), 0u);
    selection.updateSelection(2.0f);  // stores the threshold and stops
    EXPECT_FLOAT_EQ(selection.GetThreshold(), 2.0f);
    EXPECT_EQ(selection.GetHistory().size(), 1u);
    lasso(3, -3, -3, 3, 3);
    EXPECT_EQ(selection.GetHistory().size(), 1u);
    lasso(1, -3, -3, 3, 3);
    EXPECT_EQ(selection.GetHistory().size(), 2u);
    EXPECT_GT(selectedCount(), 0u);
}

TEST_F(History, OnlyTheNewestFourStatesKeepTheirVolumes)
{
    for (int i = 0; i < 5; ++i) lasso(1, -4 + i, -4, -3 + i, 4);
    ASSERT_EQ(selection.GetHistory().size(), 6u);
    EXPECT_EQ(state(1), state(0));  // trimmed to the empty selection
    for (size_t i = 2; i < 6; ++i) EXPECT_NE(state(i), state(0));
    for (int i = 0; i < 3; ++i) selection.undoLastSelection();
    EXPECT_EQ(undo().back(), 2);
    EXPECT_GT(selectedCount(), 0u);
    selection.undoLastSelection();
    EXPECT_EQ(undo().back(), 1);
    EXPECT_EQ(selectedCount(), 0u);  // state 1 shows nothing now
    selection.undoLastSelection();
    selection.undoLastSelection();  // the initial state cannot be undone
    EXPECT_EQ(undo(), std::vector<int>({0}));

    // A new lasso after undos cuts the undone states and empties the redo stack.
    selection.redoLastSelection();
    selection.redoLastSelection();
    lasso(1, -1, -1, 1, 1);
    EXPECT_EQ(selection.GetHistory().size(), 4u);
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 2, 3}));
    EXPECT_TRUE(redo().empty());
}

TEST_F(History, ThresholdChangesFollowOnlyTheNewestLasso)
{
    lasso(1, -3, -3, 3, 3);
    changed = false;
    selection.undoLastSelection();
    changed = false;
    selection.updateSelection(0.5f);  // no current volume after undo
    EXPECT_FALSE(changed);
    EXPECT_FLOAT_EQ(selection.GetThreshold(), 0.5f);
    selection.ChangeThreshold(1.5f);
    EXPECT_FLOAT_EQ(selection.GetThreshold(), 1.5f);
    EXPECT_FALSE(changed);
    // Right after reset, undo and redo change nothing at all.
    selection.ResetSelection();
    changed = false;
    selection.undoLastSelection();
    selection.redoLastSelection();
    EXPECT_FALSE(changed);
    EXPECT_EQ(undo(), std::vector<int>({0}));
}

TEST_F(History, MinusOrIntersectionOnAnEmptyStateStaysEmpty)
{
    lasso(1, -3, -3, 3, 3);
    lasso(1, -1, -4, 1, 4);
    selection.undoLastSelection();
    selection.undoLastSelection();  // back at state 0, both lassos on the redo stack
    const std::vector<const SelectionGeometry*> states = {state(0), state(1), state(2)};
    const osg::Array* shown = selection.GetVolumeGeometry()->getVertexArray();
    for (int mode : {2, 3}) {
        changed = false;
        lasso(mode, -3, -3, 3, 3);
        ASSERT_EQ(selection.GetHistory().size(), 3u) << "mode " << mode;
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(state(i), states[i]);
        EXPECT_EQ(undo(), std::vector<int>({0}));
        EXPECT_EQ(redo(), std::vector<int>({2, 1}));
        EXPECT_EQ(selectedCount(), 0u);
        EXPECT_FALSE(changed);
        EXPECT_NE(selection.GetLassoRefusal().find(mode == 2 ? "a minus lasso on the empty selection"
                                                             : "an intersection lasso on the empty selection"),
                  std::string::npos)
            << selection.GetLassoRefusal();
        EXPECT_EQ(selection.GetVolumeGeometry()->getVertexArray(), shown);
        EXPECT_FALSE(selection.GetCurrentVolume());
        selection.updateSelection(2.0f);  // nothing to follow the threshold
        EXPECT_FALSE(changed);
        EXPECT_EQ(state(2), states[2]);
    }
    selection.redoLastSelection();
    EXPECT_EQ(undo(), std::vector<int>({0, 1}));
    expectMaskIsState(1);

    // A cleared state and a state trimmed to the empty selection lie beyond
    // state 0; they combine with the lasso, into the empty selection.
    selection.ClearSelection();
    for (int mode : {2, 3}) {
        const size_t before = selection.GetHistory().size();
        lasso(mode, -3, -3, 3, 3);
        EXPECT_EQ(selection.GetLassoRefusal(), "");
        EXPECT_EQ(selection.GetHistory().size(), before + 1) << "mode " << mode;
        EXPECT_EQ(selectedCount(), 0u) << "mode " << mode;
    }
    selection.ResetSelection();
    for (int i = 0; i < 5; ++i) lasso(1, -4 + i, -4, -3 + i, 4);
    for (int i = 0; i < 4; ++i) selection.undoLastSelection();
    ASSERT_EQ(undo().back(), 1);
    ASSERT_EQ(state(1), state(0));
    lasso(2, -3, -3, 3, 3);
    EXPECT_EQ(undo(), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(selectedCount(), 0u);
}

TEST_F(History, RethresholdingACombinedStateEqualsAFreshConstruction)
{
    FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    for (int mode : {2, 3}) {
        selection.ResetSelection();
        selection.updateSelection(1.0f);
        lasso(1, -3, -3, 3, 3);
        const std::vector<osg::Vec2f> poly = lasso(mode, -0.5, -4, 4, 4);
        ASSERT_EQ(selection.GetHistory().size(), 3u);
        const SelectionGeometry* previous = state(1);
        const std::vector<bool> previousMask = previous->mask;
        const std::vector<double> previousValues = previous->field->values;
        const std::vector<bool> before = state(2)->mask;

        // A rejected lasso of another mode (a tap) changes nothing of what the
        // newest lasso's state is made of.
        selection.startPlusPath(10, 10);
        selection.endPath();
        ASSERT_FALSE(selection.GetendPathTag());
        selection.updateSelection(2.0f);
        EXPECT_EQ(state(1), previous) << "mode " << mode;
        EXPECT_EQ(previous->mask, previousMask);
        EXPECT_EQ(previous->field->values, previousValues);
        EXPECT_NE(state(2)->mask, before) << "mode " << mode << ": the threshold changed nothing";

        MarchingCubesGeometry fresh(data.particles.get(), scene.viewer.get(), poly, osg::Matrixf());
        fresh.UpdateThreshold(2.0);
        EXPECT_EQ(selection.GetCurrentVolume()->field->values, fresh.field->values);
        const CombinedGeometry::MaskTiming now = CombinedGeometry::MaskTiming::Now;
        std::unique_ptr<SelectionGeometry> expected;
        if (mode == 2) expected.reset(new MinusGeometry(data.particles.get(), selection.GetHistory()[1].get(), &fresh, now));
        else expected.reset(new IntersectionGeometry(data.particles.get(), selection.GetHistory()[1].get(), &fresh, now));
        EXPECT_EQ(state(2)->field->values, expected->field->values) << "mode " << mode;
        EXPECT_EQ(state(2)->mask, expected->mask);
        expectMaskIsState(2);
    }
}

namespace {

// Everything a history command may change.
struct Everything {
    std::vector<const SelectionGeometry*> history;
    std::vector<int> undo, redo;
    std::vector<bool> mask;
    const SelectionGeometry* current = nullptr;
    std::vector<double> currentValues;
    std::vector<bool> currentMask;
    size_t currentVertices = 0;
    const osg::Array* vertices = nullptr;
    const osg::Array* normals = nullptr;
    const osg::PrimitiveSet* elements = nullptr;
    bool operator==(const Everything& o) const
    {
        return history == o.history && undo == o.undo && redo == o.redo && mask == o.mask && current == o.current &&
               currentValues == o.currentValues && currentMask == o.currentMask &&
               currentVertices == o.currentVertices && vertices == o.vertices && normals == o.normals &&
               elements == o.elements;
    }
};

}  // namespace

TEST_F(History, AFailingCommandLeavesEverythingAsBefore)
{
    FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    auto everything = [&] {
        Everything e;
        for (const auto& v : selection.GetHistory()) e.history.push_back(v.get());
        e.undo = undo();
        e.redo = redo();
        e.mask = mask;
        if (const SelectionGeometry* c = selection.GetCurrentVolume().get()) {
            e.current = c;
            e.currentValues = c->field->values;
            e.currentMask = c->mask;
            e.currentVertices = c->GetSurface().vertices.size();
        }
        const osg::Geometry* g = selection.GetVolumeGeometry();
        e.vertices = g->getVertexArray();
        e.normals = g->getNormalArray();
        e.elements = g->getNumPrimitiveSets() > 0 ? g->getPrimitiveSet(0) : nullptr;
        return e;
    };
    // Lines of the engine's own in the console output (the triangulator has its own).
    auto messages = [](const std::string& out) {
        int lines = 0;
        for (size_t at = out.find("ParticleSelection:"); at != std::string::npos;
             at = out.find("ParticleSelection:", at + 1))
            ++lines;
        return lines;
    };
    // Runs the command with the n-th allocation check failing, n = 0, 1, …,
    // until it gets through; every failed run must leave everything as it
    // was and say so in one line.
    auto failEverywhere = [&](const std::string& name, const std::function<void()>& command) {
        int failures = 0;
        for (int n = 0; n < 10; ++n) {
            const Everything before = everything();
            changed = false;
            EngineSwitches::Scoped<int> fault(EngineSwitches::allocationFaultAfter, n);
            testing::internal::CaptureStdout();
            command();
            std::fflush(stdout);
            const std::string out = testing::internal::GetCapturedStdout();
            fault.Set(-1);
            if (messages(out) == 0) break;
            ++failures;
            EXPECT_EQ(messages(out), 1) << name << ": " << out;
            EXPECT_TRUE(everything() == before) << name << " failing at check " << n;
            EXPECT_FALSE(changed) << name;
        }
        EXPECT_GT(failures, 0) << name << " met no allocation check";
        EXPECT_TRUE(changed) << name << " never got through";
    };
    // A dataset without a density field, the real cause.
    auto withoutDensity = [&](const std::string& name, const std::function<void()>& command) {
        const Everything before = everything();
        FerrowManager::Instance()->SetCurrentDatasetNr(7);
        testing::internal::CaptureStdout();
        command();
        std::fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        FerrowManager::Instance()->SetCurrentDatasetNr(0);
        EXPECT_EQ(messages(out), 1) << name << ": " << out;
        EXPECT_TRUE(everything() == before) << name;
    };

    failEverywhere("first lasso", [&] { lasso(1, -3, -3, 3, 3); });
    failEverywhere("threshold on the first lasso", [&] { selection.updateSelection(0.6f); });
    {
        // Every check failing, a putting back that computes would fail too.
        const Everything before = everything();
        std::string out;
        {
            EngineSwitches::Scoped<int> repeats(EngineSwitches::allocationFaultRepeats, 1000);
            EngineSwitches::Scoped<int> fault(EngineSwitches::allocationFaultAfter, 0);
            testing::internal::CaptureStdout();
            selection.updateSelection(0.7f);
            std::fflush(stdout);
            out = testing::internal::GetCapturedStdout();
        }
        EXPECT_EQ(messages(out), 1) << out;
        EXPECT_TRUE(everything() == before) << "threshold on the first lasso, failing throughout";
        EXPECT_FLOAT_EQ(selection.GetThreshold(), 0.7f);  // the slider's, for the next lasso
        selection.undoLastSelection();
        selection.redoLastSelection();
        expectMaskIsState(1);
    }
    failEverywhere("minus lasso", [&] { lasso(2, -0.5, -4, 4, 4); });
    withoutDensity("minus lasso", [&] { lasso(2, -0.5, -4, 4, 4); });
    withoutDensity("threshold on a combined state", [&] { selection.updateSelection(0.5f); });
    failEverywhere("threshold on a combined state", [&] { selection.updateSelection(0.5f); });
    selection.updateSelection(0.8f);
    failEverywhere("undo", [&] { selection.undoLastSelection(); });
    failEverywhere("redo", [&] { selection.redoLastSelection(); });
    failEverywhere("clear", [&] { selection.ClearSelection(); });
    selection.undoLastSelection();
    withoutDensity("reset", [&] { selection.ResetSelection(); });
    failEverywhere("reset", [&] { selection.ResetSelection(); });
}

namespace {

// The display a state gets when built from scratch: its surface, smoothed.
osg::ref_ptr<osg::Geometry> FreshDisplay(const SelectionGeometry& state)
{
    return SmoothedGeometry(state.GetSurface());
}

std::vector<osg::Vec3f> Values(const osg::Array* a)
{
    const osg::Vec3Array* v = dynamic_cast<const osg::Vec3Array*>(a);
    return v ? std::vector<osg::Vec3f>(v->begin(), v->end()) : std::vector<osg::Vec3f>();
}

std::vector<GLuint> Indices(const osg::Geometry* g)
{
    const osg::DrawElementsUInt* e =
        g->getNumPrimitiveSets() > 0 ? dynamic_cast<const osg::DrawElementsUInt*>(g->getPrimitiveSet(0)) : nullptr;
    return e ? std::vector<GLuint>(e->begin(), e->end()) : std::vector<GLuint>();
}

}  // namespace

// Undo and redo show a state again with the arrays it was shown with, which
// equal a display built from scratch; a threshold change replaces them.
TEST_F(History, UndoAndRedoShowEachStatesKeptDisplay)
{
    FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    const osg::Geometry* shown = selection.GetVolumeGeometry();
    auto expectShows = [&](size_t k, const char* when) {
        ASSERT_EQ(undo().back(), static_cast<int>(k)) << when;
        const osg::ref_ptr<osg::Geometry> fresh = FreshDisplay(*state(k));
        EXPECT_EQ(Values(shown->getVertexArray()), Values(fresh->getVertexArray())) << when;
        EXPECT_EQ(Values(shown->getNormalArray()), Values(fresh->getNormalArray())) << when;
        EXPECT_EQ(Indices(shown), Indices(fresh.get())) << when;
    };
    lasso(1, -3, -3, 3, 3);
    const osg::Array* first = shown->getVertexArray();
    lasso(2, -0.5, -4, 4, 4);
    selection.updateSelection(0.6f);
    expectShows(2, "after the threshold change");
    const osg::Array* vertices = shown->getVertexArray();
    const osg::Array* normals = shown->getNormalArray();
    selection.undoLastSelection();
    expectShows(1, "after undo");
    EXPECT_EQ(shown->getVertexArray(), first);
    selection.redoLastSelection();
    expectShows(2, "after redo");
    EXPECT_EQ(shown->getVertexArray(), vertices);
    EXPECT_EQ(shown->getNormalArray(), normals);

    // Trimmed states show the empty selection, however often shown.
    for (int i = 0; i < 4; ++i) lasso(1, -4 + i, -4, -3 + i, 4);
    ASSERT_EQ(state(2), state(0));
    for (int i = 0; i < 4; ++i) selection.undoLastSelection();
    expectShows(2, "a trimmed state");
    EXPECT_EQ(shown->getVertexArray()->getNumElements(), 0u);
    selection.redoLastSelection();
    selection.undoLastSelection();
    expectShows(2, "a trimmed state again");
    selection.redoLastSelection();
    expectShows(3, "the oldest state kept");
}

// Every lasso after the first finds its particles' cells already: the first
// lasso's, kept across a reset of the selection.
TEST_F(History, LassoVolumesTakeTheCellsAnEarlierVolumeFound)
{
    FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    lasso(1, -3, -3, 3, 3);
    const boost::shared_ptr<const ParticleCells> cells = state(1)->particleCells;
    ASSERT_TRUE(cells);
    selection.ResetSelection();
    const std::vector<osg::Vec2f> poly = lasso(1, -1, -4, 1, 4);
    EXPECT_EQ(state(1)->particleCells, cells);
    // The same answers as a volume that searches the cells itself.
    MarchingCubesGeometry fresh(data.particles.get(), scene.viewer.get(), poly, osg::Matrixf());
    fresh.UpdateThreshold(selection.GetThreshold());
    EXPECT_NE(fresh.particleCells, cells);
    EXPECT_EQ(state(1)->mask, fresh.mask);
    lasso(2, -0.5, -4, 4, 4);
    EXPECT_EQ(selection.GetCurrentVolume()->particleCells, cells);
    expectMaskIsState(2);
}
