// Selection states: combination by mode, undo, redo, clear, reset, the trim of
// old states, and the mask kept in step with the current state.
#include "framework/study/FerrowManager.h"
#include "geometry/SelectionGeometry.h"
#include "tests/support/SelectionSession.h"

#include <gtest/gtest.h>

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

    // A rectangular lasso over data-space x0..x1, y0..y1.
    void lasso(int mode, double x0, double y0, double x1, double y1)
    {
        const osg::Vec3d a = scene.Project(osg::Vec3d(x0, y0, 0)), b = scene.Project(osg::Vec3d(x1, y1, 0));
        std::vector<osg::Vec2f> poly = {osg::Vec2f(a.x(), a.y()), osg::Vec2f(b.x(), a.y()),
                                        osg::Vec2f(b.x(), b.y()), osg::Vec2f(a.x(), b.y())};
        ASSERT_TRUE(session.DrawLasso(mode, poly));
        session.Build();
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
