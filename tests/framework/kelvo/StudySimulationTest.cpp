// StudySimulation against Pravik's own 3D area: with the kelvo tests, since
// the reference is ParticleScene. Every trial is presented with the very
// matrices ParticleScene gives its start view, and the lassos and clicks land
// where Pravik shows the target.
#include "framework/kelvo/ParticleScene.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/StudySimulation.h"
#include "tests/framework/runner/StudyTestFiles.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#include <gtest/gtest.h>

#include <cstdint>

namespace {

namespace bg = boost::geometry;
using BPoint = bg::model::d2::point_xy<double>;

struct Presented {
    osg::Matrixd model, view, projection;
    int width = 0, height = 0;
    std::vector<std::vector<osg::Vec2f>> strokes;  // lassos and clicks, in order
};

// Selects the particles whose projection lies inside a lasso; a click
// selects nothing. Records what it was given.
class RecordingView : public SimulationView {
public:
    explicit RecordingView(const osg::Vec3Array& particles) : particles(particles) {}
    void Present(int, const osg::Matrixd& model, const osg::Matrixd& view, const osg::Matrixd& projection, int width,
                 int height, float) override
    {
        presented.push_back({model, view, projection, width, height, {}});
        mask.assign(particles.size(), false);
        history.clear();
    }
    bool Select(LassoRecord::Mode mode, const std::vector<osg::Vec2f>& points, std::string&) override
    {
        Presented& p = presented.back();
        p.strokes.push_back(points);
        history.push_back(mask);
        if (points.size() < 3) return true;
        bg::model::polygon<BPoint> lasso;
        for (const osg::Vec2f& q : points) bg::append(lasso.outer(), BPoint(q.x(), q.y()));
        bg::correct(lasso);
        const osg::Matrixd window = p.model * p.view * p.projection;
        for (size_t i = 0; i < particles.size(); ++i) {
            const osg::Vec3d c = osg::Vec3d(particles[i]) * window;
            const bool inside =
                bg::within(BPoint((c.x() + 1) * 0.5 * p.width, (c.y() + 1) * 0.5 * p.height), lasso);
            if (mode == LassoRecord::Plus) mask[i] = mask[i] || inside;
            else mask[i] = mask[i] && !inside;
        }
        return true;
    }
    void Undo() override
    {
        mask = history.back();
        history.pop_back();
    }
    const std::vector<bool>& Mask() const override { return mask; }

    std::vector<Presented> presented;

private:
    const osg::Vec3Array& particles;
    std::vector<bool> mask;
    std::vector<std::vector<bool>> history;
};

// Two blobs in noise, labels 1 and 2 (0 for the noise).
osg::ref_ptr<osg::Vec3Array> Blobs(std::vector<int>& labels)
{
    osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0f - 0.5f;
    };
    for (int i = 0; i < 900; ++i) {
        const int label = i % 3;
        const osg::Vec3 centre = label == 1 ? osg::Vec3(-3, 0, 0) : osg::Vec3(3, 2, 1);
        p->push_back(label == 0 ? osg::Vec3(next() * 16, next() * 12, next() * 10)
                                : centre + osg::Vec3(next(), next(), next()) * 2.0f);
        labels.push_back(label);
    }
    return p;
}

}  // namespace

TEST(StudySimulation, TrialsAreShownWithPravikStartViewAndTheLassosGoAroundTheTarget)
{
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
    std::vector<int> labels;
    osg::ref_ptr<osg::Vec3Array> cloud = Blobs(labels);
    FerrowDatasetManager::Instance()->Add("blobs", cloud, labels);
    StudyTestFolder folder;
    const std::string study = folder.Write("study.xml", R"(<study results="out">
  <dataset id="b" builtin="blobs"/>
  <trial name="turned" dataset="b" targetLabel="1" technique="density">
    <view azimuth="40" elevation="25" zoom="1.3"/>
  </trial>
  <trial name="plain" dataset="b" targetLabel="2" technique="cylinder"/>
  <trial name="click" dataset="b" targetLabel="2" technique="point">
    <view azimuth="-70" elevation="10"/>
  </trial>
</study>
)");
    RecordingView view(*cloud);
    StudySimulation::Settings settings;
    settings.seed = 3;
    StudySimulation simulation(view, settings);
    ASSERT_TRUE(simulation.Load(study).empty());
    std::vector<std::string> lines;
    ASSERT_EQ(simulation.Run(1, lines), "");

    StudyRunner runner;
    ASSERT_TRUE(runner.Load(study).empty());
    const std::vector<StudyTrial> sequence = runner.PlanSequence(1);
    ASSERT_EQ(view.presented.size(), sequence.size());
    for (size_t k = 0; k < sequence.size(); ++k) {
        const StudyTrial& t = sequence[k];
        const Presented& p = view.presented[k];
        // Pravik's 3D area as StudyTrialControl sets it up for the trial.
        ParticleScene scene(0, 0, StudySimulation::ViewportWidth, StudySimulation::ViewportHeight);
        scene.SetParticles(cloud.get());
        if (t.view.given) scene.SetView(t.view.rotation, t.view.zoom);
        else scene.SetView(osg::Quat(), 1.0);
        EXPECT_EQ(p.model, scene.GetDataTransform()->getMatrix()) << t.name;
        EXPECT_EQ(p.view, scene.GetViewer()->getCamera()->getViewMatrix()) << t.name;
        EXPECT_EQ(p.projection, scene.GetViewer()->getCamera()->getProjectionMatrix()) << t.name;
        EXPECT_EQ(p.width, scene.GetViewportWidth());
        EXPECT_EQ(p.height, scene.GetViewportHeight());

        // Where Pravik draws the target's particles.
        const osg::Matrixd window = scene.GetDataTransform()->getMatrix() *
                                    scene.GetViewer()->getCamera()->getViewMatrix() *
                                    scene.GetViewer()->getCamera()->getProjectionMatrix() *
                                    scene.GetViewer()->getCamera()->getViewport()->computeWindowMatrix();
        ASSERT_FALSE(p.strokes.empty()) << t.name;
        const std::vector<osg::Vec2f>& first = p.strokes.front();
        const int label = t.name == "turned" ? 1 : 2;
        if (t.name == "click") {
            osg::Vec3d sum;
            int n = 0;
            for (size_t i = 0; i < cloud->size(); ++i)
                if (labels[i] == label) {
                    sum += osg::Vec3d((*cloud)[i]);
                    ++n;
                }
            const osg::Vec3d c = sum / n * window;
            ASSERT_EQ(first.size(), 1u);
            EXPECT_NEAR(first[0].x(), c.x(), 1e-3);
            EXPECT_NEAR(first[0].y(), c.y(), 1e-3);
            continue;
        }
        bg::model::polygon<BPoint> lasso;
        for (const osg::Vec2f& q : first) bg::append(lasso.outer(), BPoint(q.x(), q.y()));
        bg::correct(lasso);
        int outside = 0;
        for (size_t i = 0; i < cloud->size(); ++i) {
            if (labels[i] != label) continue;
            const osg::Vec3d c = osg::Vec3d((*cloud)[i]) * window;
            outside += !bg::within(BPoint(c.x(), c.y()), lasso);
        }
        EXPECT_EQ(outside, 0) << t.name << ": target particles outside the first lasso";
    }

    // One row per trial, with the simulated pointer and the simulated clock.
    const auto trials = CsvFormat::Parse(StudyTestFolder::Read(folder.Path("out/P1_trials.csv")));
    ASSERT_EQ(trials.size(), sequence.size() + 1);
    EXPECT_EQ(trials[1][24], StudySimulation::InputName);
    EXPECT_EQ(trials[1][22], "2030-01-07T09:00:03.000Z") << "the simulated clock starts the first trial after 3 s";
    FerrowDatasetManager::Destroy();
    FerrowManager::Destroy();
}
