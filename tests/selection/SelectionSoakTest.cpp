// Soak: a long random session of lassos, threshold changes, undos, redos,
// clears and resets on a 100,000-particle dataset. After every step the mask
// equals the current state's volume mask, a state the newest lasso made
// equals a fresh construction of the same combination (masks cannot be
// compared by set algebra: combinations work on node values, which differ
// near the boundary), minus or intersection on an empty state stays empty,
// and the history holds at most four volumes of its own. TRELLAN_SOAK_STEPS sets the length (CI runs a short one
// under the sanitizers; run thousands by hand).
#include "framework/study/FerrowManager.h"
#include "geometry/IntersectionGeometry.h"
#include "geometry/MinusGeometry.h"
#include "geometry/UnionGeometry.h"
#include "tests/support/DrawLasso.h"
#include "tests/support/SelectionSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>

TEST(SelectionSoak, RandomSessionKeepsMaskAndHistoryConsistent)
{
    const char* env = std::getenv("TRELLAN_SOAK_STEPS");
    const int steps = env ? std::atoi(env) : 120;
    SelectionSessionOptions options;
    options.viewportWidth = 320;
    options.viewportHeight = 240;
    SelectionSession session(DatasetFixture::BlobInNoise(50000, 50000, 3).get(), options);
    session.scene.LookAt(osg::Vec3d(0, 0, 18), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 40.0, 1.0, 60.0);
    ParticleSelection& s = *session.selection;

    std::mt19937 rng(12345);
    auto uniform = [&](double a, double b) { return a + (b - a) * ((rng() >> 8) * (1.0 / 16777216.0)); };
    int lassos = 0;
    int lassoMode = 1;  // the mode of the newest lasso's volume
    for (int step = 0; step < steps; ++step) {
        const double op = uniform(0, 1);
        const bool emptyBefore = s.GetHistory()[static_cast<size_t>(s.GetUndoStack().back())] == s.GetHistory()[0];
        bool setOperationOnEmpty = false;
        if (op < 0.55) {
            // A star-shaped lasso, sometimes self-intersecting, sometimes tiny.
            const double cx = uniform(-20, 340), cy = uniform(-20, 260), r = uniform(1, 160);
            const int n = 3 + static_cast<int>(uniform(0, 120));
            const bool wild = uniform(0, 1) < 0.1;
            std::vector<osg::Vec2f> p;
            for (int i = 0; i < n; ++i) {
                const double a = wild ? uniform(0, 6.283) : 6.283 * i / n;
                const double rr = r * uniform(0.5, 1.0);
                p.push_back(osg::Vec2f(cx + rr * std::cos(a), cy + rr * std::sin(a)));
            }
            const int mode = static_cast<int>(uniform(1, 4));
            FerrowManager::Instance()->SetTechnique(uniform(0, 1) < 0.5 ? FerrowManager::PravikTechnique
                                                                        : FerrowManager::CylinderTechnique);
            DrawLasso(s, mode, p);
            setOperationOnEmpty = emptyBefore && mode != 1;
            const SelectionGeometry* before = s.GetCurrentVolume().get();
            if (session.BuildKeptLasso()) {
                ++lassos;
                if (s.GetCurrentVolume() && s.GetCurrentVolume().get() != before) lassoMode = mode;
            }
        } else if (op < 0.67) {
            s.updateSelection(static_cast<float>(uniform(0, 3)));
        } else if (op < 0.72) {
            s.ChangeThreshold(static_cast<float>(uniform(0, 3)));
        } else if (op < 0.84) {
            s.undoLastSelection();
        } else if (op < 0.93) {
            s.redoLastSelection();
        } else if (op < 0.98) {
            s.ClearSelection();
        } else {
            s.ResetSelection();
        }

        const auto& history = s.GetHistory();
        ASSERT_FALSE(s.GetUndoStack().empty());
        const int current = s.GetUndoStack().back();
        ASSERT_LT(static_cast<size_t>(current), history.size());
        const SelectionGeometry* state = history[static_cast<size_t>(current)].get();
        ASSERT_NE(state, nullptr) << "step " << step;
        ASSERT_EQ(session.MaskMismatch(*state), -1) << "step " << step;
        if (setOperationOnEmpty) {
            ASSERT_EQ(session.Selected(), 0u) << "step " << step;
        }
        const boost::shared_ptr<SelectionGeometry>& lasso = s.GetCurrentVolume();
        if (lasso && current >= 2) {
            ASSERT_EQ(static_cast<size_t>(current), history.size() - 1) << "step " << step;
            SelectionGeometry* previous = history[static_cast<size_t>(current) - 1].get();
            const CombinedGeometry::MaskTiming now = CombinedGeometry::MaskTiming::Now;
            osg::Vec3Array* particles = session.data.particles.get();
            std::unique_ptr<SelectionGeometry> fresh;
            if (lassoMode == 2) fresh.reset(new MinusGeometry(particles, previous, lasso.get(), now));
            else if (lassoMode == 3) fresh.reset(new IntersectionGeometry(particles, previous, lasso.get(), now));
            else fresh.reset(new UnionGeometry(particles, previous, lasso.get(), now));
            ASSERT_EQ(session.MaskMismatch(*fresh), -1) << "step " << step;
        }
        std::set<const SelectionGeometry*> own;
        for (const auto& v : history)
            if (v.get() != history[0].get()) own.insert(v.get());
        ASSERT_LE(own.size(), 4u) << "step " << step;
        for (int k : s.GetRedoStack()) ASSERT_LT(static_cast<size_t>(k), history.size());
    }
    EXPECT_GT(lassos, steps / 4);
}
