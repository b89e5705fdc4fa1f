// The visualization over a small study dataset: the scene the selection binds
// to, event dispatch to the controls and to the selection, and drawing through
// an offscreen context (the test script runs under Xvfb).
#include "density/PreComputedDensity.h"
#include "framework/kelvo/ChangeNotifier.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/ombra/TextLabel.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "geometry/TechniqueRegistry.h"
#include "selection/ParticleSelection.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/VisTestSupport.h"

#include <QGuiApplication>
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <osg/MatrixTransform>

#include <cmath>
#include <memory>
#include <random>

using namespace vistest;

namespace {

const double kPi = 3.14159265358979323846;

struct VisFixture : testing::Test {
    VisFixture() : data(DatasetFixture::BlobInNoise(4000, 4000, 3, &labels).get(), labels)
    {
        FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
        vis.reset(new KelvoVis(nullptr, 0, ViewWidth, ViewHeight));
        vis->setLayout(TestLayout(), KelvoLayout());
    }
    ~VisFixture() override
    {
        vis.reset();
        FerrowManager::Destroy();
    }

    bool HaveGL() const { return context.gc.valid(); }

    // A lasso stroke in view pixels around the projection of a data point.
    void LassoAround(const std::string& family, const osg::Vec3d& centre, double dataRadius)
    {
        const osg::Vec3d c = Project(*vis, centre);
        const double r = (Project(*vis, centre + osg::Vec3d(dataRadius, 0, 0)) - c).length();
        Send(*vis, family + "S", c.x() + r, c.y());
        for (int i = 1; i < 90; ++i)
            Send(*vis, family, c.x() + r * std::cos(2 * kPi * i / 90), c.y() + r * std::sin(2 * kPi * i / 90));
        Send(*vis, family + "E", c.x() + r, c.y() - 0.5);
    }
    size_t Selected(int label) const
    {
        size_t n = 0;
        const std::vector<bool>& mask = vis->GetSelectionMask();
        for (size_t i = 0; i < mask.size(); ++i) n += mask[i] && labels[i] == label;
        return n;
    }
    size_t SelectedCount() const { return Selected(0) + Selected(1); }
    void Press(double x, double y)
    {
        Send(*vis, "PRESS", x, y);
        Send(*vis, "RELEASE", x, y);
    }

    std::vector<int> labels;
    DatasetFixture data;
    OffscreenContext context;
    std::unique_ptr<KelvoVis> vis;
};

} // namespace

TEST_F(VisFixture, SceneHasTheLayoutTheSelectionBindsTo)
{
    osgViewer::Viewer* viewer = vis->GetOsgViewer().at(0);
    auto* root = dynamic_cast<osg::Group*>(viewer->getSceneData());
    ASSERT_TRUE(root);
    auto* dataTransform = dynamic_cast<osg::MatrixTransform*>(root->getChild(0));
    ASSERT_TRUE(dataTransform);
    auto* group = dynamic_cast<osg::Group*>(dataTransform->getChild(0));
    ASSERT_TRUE(group);
    auto* plot = dynamic_cast<osg::Camera*>(group->getChild(0));
    ASSERT_TRUE(plot);
    auto* geode = dynamic_cast<osg::Geode*>(plot->getChild(1));
    ASSERT_TRUE(geode);
    auto* geometry = dynamic_cast<osg::Geometry*>(geode->getDrawable(0));
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->getVertexArray(), data.particles.get()) << "the dataset's own array, not a copy";
    EXPECT_FALSE(geometry->getUseDisplayList());
    EXPECT_TRUE(geometry->getUseVertexBufferObjects());
    auto* lassoCamera = dynamic_cast<osg::Camera*>(root->getChild(1));
    ASSERT_TRUE(lassoCamera);
    EXPECT_TRUE(dynamic_cast<LassoCaptureCallback*>(lassoCamera->getFinalDrawCallback()));

    // The selection is hosted over the dataset and its nodes hang in the scene.
    ParticleSelection* selection = vis->GetSelection();
    ASSERT_TRUE(selection);
    EXPECT_EQ(vis->GetSelectionMask().size(), data.particles->size());
    EXPECT_TRUE(dataTransform->containsNode(selection->GetSelectionNode()));
    EXPECT_TRUE(lassoCamera->containsNode(selection->GetFlatTriangles()));
    EXPECT_EQ(selection->GetLassoCamera(), lassoCamera) << "binding ran and found the lasso camera";
    EXPECT_EQ(selection->GetUndoStack().size(), 1u) << "reset once";

    // The viewer draws into the view's context in the 3D area.
    EXPECT_EQ(viewer->getThreadingModel(), osgViewer::ViewerBase::SingleThreaded);
    const osg::Viewport* vp = viewer->getCamera()->getViewport();
    // The main area 80..800 by 20..580, less the touch column at its right
    // (eleven cells of 47 in the 526 below the band, a gap of 4) and the
    // message band at its top (34; the view has no room above it).
    EXPECT_EQ(vp->x(), 80);
    EXPECT_EQ(vp->y(), 20);
    EXPECT_EQ(vp->width(), 720 - 47 - 4);
    EXPECT_EQ(vp->height(), 560 - 34);
    // The data centre sits in the middle of the area.
    const osg::Vec3d c = Project(*vis, vis->GetScene()->GetDataCentre());
    EXPECT_NEAR(c.x(), 80 + (720 - 51) * 0.5, 1e-6);
    EXPECT_NEAR(c.y(), 20 + (560 - 34) * 0.5, 1e-6);
}

TEST_F(VisFixture, LassoEventsSelectTheClusterOnceAFrameHasDrawnTheLasso)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    Paint(*vis);
    LassoAround("SPLUS", osg::Vec3d(0, 0, 0), 1.3);
    EXPECT_EQ(FerrowManager::Instance()->GetTechnique(), FerrowManager::PravikTechnique)
        << "an S… stroke asks for the density-aware lasso";
    ASSERT_TRUE(vis->GetFrameStrategy()->IsBuildPending());
    EXPECT_EQ(SelectedCount(), 0u);

    Paint(*vis); // draws the flat lasso; nothing is built before that
    EXPECT_EQ(SelectedCount(), 0u);
    Paint(*vis);
    EXPECT_FALSE(vis->GetFrameStrategy()->IsBuildPending());
    EXPECT_FALSE(vis->GetSelection()->GetendPathTag());
    EXPECT_GT(Selected(1), 3600u) << "most of the blob";
    EXPECT_LT(Selected(0), 200u) << "little of the noise in front of and behind it";

    // Selected particles are drawn in the selection colour, the rest not.
    const osg::Vec4ubArray* colours = vis->GetScene()->GetColours();
    const std::vector<bool>& mask = vis->GetSelectionMask();
    for (size_t i = 0; i < mask.size(); ++i)
        ASSERT_EQ((*colours)[i], mask[i] ? ParticleScene::SelectedColour : ParticleScene::UnselectedColour) << i;
    // and drawn once more above the selection surface.
    const osg::DrawElementsUInt* again = vis->GetScene()->GetSelectedPoints();
    ASSERT_EQ(again->size(), SelectedCount());
    for (GLuint i : *again) ASSERT_TRUE(mask[i]) << i;
}

TEST_F(VisFixture, MinusAndIntersectionStrokesCombineWithTheSelection)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    Paint(*vis);
    LassoAround("CYSPLUS", osg::Vec3d(0, 0, 0), 1.3);
    EXPECT_EQ(FerrowManager::Instance()->GetTechnique(), FerrowManager::CylinderTechnique);
    Paint(*vis);
    Paint(*vis);
    const size_t all = SelectedCount();
    ASSERT_GT(Selected(1), 3600u);

    // Cut a tube through the left half away.
    LassoAround("CYSMINUS", osg::Vec3d(-1.0, 0, 0), 0.8);
    Paint(*vis);
    Paint(*vis);
    const size_t afterMinus = SelectedCount();
    EXPECT_LT(afterMinus, all);
    EXPECT_GT(afterMinus, all / 4);
    EXPECT_EQ(vis->GetSelection()->GetSelectionMode(), 2);

    LassoAround("CYSINT", osg::Vec3d(1.0, 0, 0), 0.5);
    Paint(*vis);
    Paint(*vis);
    EXPECT_EQ(vis->GetSelection()->GetSelectionMode(), 3);
    EXPECT_LT(SelectedCount(), afterMinus);
    EXPECT_GT(SelectedCount(), 0u);
}

TEST_F(VisFixture, UndoRedoAndClearButtonsActOnTheSelection)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    Paint(*vis);
    EXPECT_FALSE(vis->GetUndoButton()->isEnabled()) << "nothing to undo yet";
    LassoAround("CYSPLUS", osg::Vec3d(0, 0, 0), 1.3);
    Paint(*vis);
    Paint(*vis);
    const std::vector<bool> selected = vis->GetSelectionMask();
    ASSERT_GT(SelectedCount(), 3600u);
    Paint(*vis);
    EXPECT_TRUE(vis->GetUndoButton()->isEnabled());
    EXPECT_FALSE(vis->GetRedoButton()->isEnabled());

    Press(40, 140); // undo
    EXPECT_EQ(SelectedCount(), 0u);
    Paint(*vis);
    EXPECT_TRUE(vis->GetRedoButton()->isEnabled());
    EXPECT_EQ((*vis->GetScene()->GetColours())[0], ParticleScene::UnselectedColour);

    Press(40, 90); // redo
    EXPECT_EQ(vis->GetSelectionMask(), selected);

    Press(40, 40); // clear
    EXPECT_EQ(SelectedCount(), 0u);
    Press(40, 140); // clearing is a step of its own and can be undone
    EXPECT_EQ(vis->GetSelectionMask(), selected);
    EXPECT_FALSE(vis->GetUndoButton()->isHighlighted()) << "press feedback ends with the release";
}

TEST_F(VisFixture, SliderLabelSaysWhenItsValueWaitsForTheNextLassoAndTheStatusLineCounts)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    const std::string follows = "density threshold", waits = follows + ": applies to the next density-aware lasso";
    auto status = [&] { return "fixture \xC2\xB7 8000 particles \xC2\xB7 " + std::to_string(SelectedCount()) + " selected"; };
    Paint(*vis);
    EXPECT_EQ(vis->GetThresholdLabel(), waits);
    EXPECT_EQ(vis->GetStatusLine(), status());
    LassoAround("SPLUS", osg::Vec3d(0, 0, 0), 1.3);
    Paint(*vis);
    Paint(*vis);
    ASSERT_GT(SelectedCount(), 0u);
    EXPECT_EQ(vis->GetThresholdLabel(), follows);
    EXPECT_EQ(vis->GetStatusLine(), status());
    // Undo, the redo of that lasso and a clear each leave no lasso that follows the slider.
    for (const double button : {140.0, 90.0, 40.0}) {
        if (button != 90.0) {
            LassoAround("SPLUS", osg::Vec3d(0, 0, 0), 1.3);
            Paint(*vis);
            Paint(*vis);
            EXPECT_EQ(vis->GetThresholdLabel(), follows);
        }
        Press(40, button);
        Paint(*vis);
        EXPECT_EQ(vis->GetThresholdLabel(), waits) << button;
        EXPECT_EQ(vis->GetStatusLine(), status()) << button;
    }
    // Nor does a cylinder lasso; a slider move then changes nothing.
    LassoAround("CYSPLUS", osg::Vec3d(0, 0, 0), 1.3);
    Paint(*vis);
    Paint(*vis);
    EXPECT_EQ(vis->GetThresholdLabel(), waits);
    const std::vector<bool> before = vis->GetSelectionMask();
    Press(40, 500);
    Paint(*vis);
    EXPECT_EQ(vis->GetSelectionMask(), before);
    EXPECT_EQ(vis->GetStatusLine(), status());
}

TEST_F(VisFixture, SliderSetsTheThresholdAndReThresholdsTheNewestLasso)
{
    SliderComponent* slider = vis->GetThresholdSlider();
    EXPECT_DOUBLE_EQ(slider->getValue(), 1.0);
    EXPECT_FLOAT_EQ(vis->GetSelection()->GetThreshold(), 1.0f);
    // Slider x 10..70, y 180..560 less its value line; the top end is 3.0.
    Press(40, 500);
    EXPECT_NEAR(slider->getValue(), slider->valueAt(40, 500), 1e-12);
    EXPECT_FLOAT_EQ(vis->GetSelection()->GetThreshold(), static_cast<float>(slider->valueAt(40, 500)));
    Press(40, 181);
    EXPECT_FLOAT_EQ(vis->GetSelection()->GetThreshold(), 0.0f);

    if (!HaveGL()) return;
    Press(40, slider->getBottom() + slider->getHeight() * 0.25); // a low threshold for the lasso
    Paint(*vis);
    LassoAround("SPLUS", osg::Vec3d(0, 0, 0), 2.5);
    Paint(*vis);
    Paint(*vis);
    const std::vector<bool> low = vis->GetSelectionMask();
    const size_t lowCount = SelectedCount();
    ASSERT_GT(lowCount, 0u);
    // Dragging to the top raises the threshold: the selection only shrinks.
    Send(*vis, "PRESS", 40, slider->getBottom() + slider->getHeight() * 0.25);
    Send(*vis, "DRAG", 40, 600);
    Send(*vis, "RELEASE", 40, 600);
    EXPECT_DOUBLE_EQ(slider->getValue(), 3.0);
    const std::vector<bool>& high = vis->GetSelectionMask();
    size_t highCount = 0;
    for (size_t i = 0; i < high.size(); ++i) {
        if (high[i]) {
            ASSERT_TRUE(low[i]) << i;
        }
        highCount += high[i];
    }
    EXPECT_LT(highCount, lowCount);
}

TEST_F(VisFixture, ComponentsAreFoundAtTheirRectanglesAndNowhereElse)
{
    EXPECT_EQ(vis->getComponentAt(440, 300, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(80, 20, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(720, 540, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(799, 579 - 34, true),
              static_cast<VisComponent*>(vis->GetModeButton(KelvoVis::RotateMode)));
    EXPECT_EQ(vis->getComponentAt(799, 579 - 34 - 53, true),
              static_cast<VisComponent*>(vis->GetModeButton(KelvoVis::PlusMode)));
    EXPECT_EQ(vis->getComponentAt(40, 300, true), static_cast<VisComponent*>(vis->GetThresholdSlider()));
    EXPECT_EQ(vis->getComponentAt(40, 140, true), static_cast<VisComponent*>(vis->GetUndoButton()));
    EXPECT_EQ(vis->getComponentAt(40, 90, true), static_cast<VisComponent*>(vis->GetRedoButton()));
    EXPECT_EQ(vis->getComponentAt(40, 40, true), static_cast<VisComponent*>(vis->GetClearButton()));
    EXPECT_EQ(vis->getComponentAt(40, 40, true)->getId(), KelvoVis::ClearId);
    // Outside every area.
    for (auto p : {std::pair<double, double>{5, 5}, {75, 300}, {440, 590}, {440, 19}, {40, 170}, {40, 590},
                   {800, 300}, {-1, -1}})
        EXPECT_EQ(vis->getComponentAt(p.first, p.second, true), nullptr) << p.first << ", " << p.second;

    // A view of half the display size halves every area, but a control a
    // finger must hit stays at least 40 pixels wide and high: the buttons
    // (30 x 25 when halved) grow about their area, inside the view.
    vis->resizeVis(ViewWidth / 2, ViewHeight / 2);
    EXPECT_EQ(vis->getComponentAt(220, 150, true), vis->GetFrameComponent());
    EXPECT_EQ(vis->getComponentAt(20, 100, true), static_cast<VisComponent*>(vis->GetUndoButton()));
    EXPECT_EQ(vis->getComponentAt(20, 10, true), static_cast<VisComponent*>(vis->GetClearButton()));
    for (const VisComponent* c : {static_cast<const VisComponent*>(vis->GetUndoButton()),
                                  static_cast<const VisComponent*>(vis->GetRedoButton()),
                                  static_cast<const VisComponent*>(vis->GetClearButton())}) {
        EXPECT_GE(c->getWidth(), 40.0);
        EXPECT_GE(c->getHeight(), 40.0);
        EXPECT_GE(c->getBottom(), 0.0);
    }
    EXPECT_EQ(vis->getComponentAt(440, 300, true), nullptr);
    const osg::Viewport* vp = vis->GetOsgViewer()[0]->getCamera()->getViewport();
    EXPECT_EQ(vp->x(), 40);
    // Too short for one column of eleven cells: two columns of 40 (the touch
    // size), a gap of 6.
    EXPECT_EQ(vp->width(), 360 - 2 * 40 - 6);
}

TEST_F(VisFixture, PlainDragTurnsTheDataAboutItsCentreAndFollowsThePress)
{
    const osg::Matrixd before = vis->GetScene()->GetDataTransform()->getMatrix();
    // Across the middle of the 3D area (80 + 669 / 2, 20 + 526 / 2).
    Send(*vis, "PRESS", 414.5, 283);
    Send(*vis, "DRAG", 514.5, 283);
    Send(*vis, "RELEASE", 514.5, 283);
    const osg::Matrixd after = vis->GetScene()->GetDataTransform()->getMatrix();
    EXPECT_NE(before, after);
    // The data centre stays where it was on screen, the middle of the area.
    const osg::Vec3d c = Project(*vis, vis->GetScene()->GetDataCentre());
    EXPECT_NEAR(c.x(), 80 + (720 - 51) * 0.5, 1e-6);
    EXPECT_NEAR(c.y(), 20 + (560 - 34) * 0.5, 1e-6);
    // A horizontal drag turns about the vertical axis: y is unchanged.
    const osg::Vec3d p = vis->GetScene()->GetDataCentre() + osg::Vec3d(1, 0, 0);
    EXPECT_NEAR((p * after).y(), 0.0, 1e-9);
    EXPECT_LT((p * after).x(), 1.0);

    // A stroke that starts on the slider stays with the slider.
    Send(*vis, "PRESS", 40, 300);
    Send(*vis, "DRAG", 440, 560);
    EXPECT_EQ(vis->GetScene()->GetDataTransform()->getMatrix(), after);
    EXPECT_DOUBLE_EQ(vis->GetThresholdSlider()->getValue(), 3.0);
    Send(*vis, "RELEASE", 440, 560);

    // Moves with no press before them go nowhere.
    Send(*vis, "DRAG", 500, 400, 7);
    EXPECT_EQ(vis->GetScene()->GetDataTransform()->getMatrix(), after);
}

namespace {

// A click technique that selects every particle on the grid and keeps the
// click it was given.
class EverythingAtAClick : public Technique {
public:
    static osg::Vec2f lastClick;
    std::string Name() const override { return "everything-click"; }
    std::string Description() const override { return "every particle, at a click"; }
    Takes Input() const override { return Takes::Click; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        lastClick = in.click;
        boost::shared_ptr<ScalarField3D> field = FieldGeometry::FieldOnDensityGrid();
        std::fill(field->values.begin(), field->values.end(), 1.0);
        return boost::make_shared<FieldGeometry>(in.positions, field);
    }
};
osg::Vec2f EverythingAtAClick::lastClick;

}  // namespace

TEST_F(VisFixture, AClickTechniqueTakesATapInALassoModeAndRefusesAStroke)
{
    if (!TechniqueRegistry::Instance().Find("everything-click"))
        TechniqueRegistry::Instance().Add(std::make_unique<EverythingAtAClick>());
    FerrowManager::Instance()->SetTechniqueName("everything-click");
    vis->GetFrameStrategy()->SetTechniqueLocked(true);  // as in a trial
    Paint(*vis);
    EverythingAtAClick::lastClick.set(-1, -1);
    const osg::Vec3d c = Project(*vis, osg::Vec3d(0, 0, 0));
    Send(*vis, "SPLUSS", c.x(), c.y());
    Send(*vis, "SPLUS", c.x() + 2, c.y() + 1);  // within a few pixels: still a click
    Send(*vis, "SPLUSE", c.x() + 2, c.y() + 1);
    ASSERT_TRUE(vis->GetSelection()->IsClick());
    Paint(*vis);  // a click waits for no drawing of a lasso
    EXPECT_FALSE(vis->GetFrameStrategy()->IsBuildPending());
    EXPECT_GT(SelectedCount(), 7000u);
    const osg::Vec2d w = vis->GetScene()->ToWindow(c.x(), c.y());
    EXPECT_FLOAT_EQ(EverythingAtAClick::lastClick.x(), static_cast<float>(w.x())) << "at the press";
    EXPECT_FLOAT_EQ(EverythingAtAClick::lastClick.y(), static_cast<float>(w.y()));
    const size_t states = vis->GetSelection()->GetUndoStack().size();

    LassoAround("SMINUS", osg::Vec3d(0, 0, 0), 1.3);
    EXPECT_FALSE(vis->GetFrameStrategy()->IsBuildPending());
    EXPECT_EQ(vis->GetSelection()->GetLassoRefusal(), "the everything-click technique takes clicks, not lassos");
    EXPECT_EQ(vis->GetSelection()->GetUndoStack().size(), states);
    vis->GetFrameStrategy()->SetTechniqueLocked(false);
}

TEST_F(VisFixture, TechniqueFollowsTheStrokeUnlessLocked)
{
    Send(*vis, "CYSINTS", 440, 300);
    Send(*vis, "CYSINTE", 440, 300);
    EXPECT_EQ(FerrowManager::Instance()->GetTechnique(), FerrowManager::CylinderTechnique);
    EXPECT_FALSE(vis->GetFrameStrategy()->IsBuildPending()) << "a tap is no lasso";
    vis->GetFrameStrategy()->SetTechniqueLocked(true);
    Send(*vis, "SPLUSS", 440, 300);
    Send(*vis, "SPLUSE", 440, 300);
    EXPECT_EQ(FerrowManager::Instance()->GetTechnique(), FerrowManager::CylinderTechnique);
    // A lasso stroke on a control acts as a press on it.
    Send(*vis, "SPLUSS", 40, 40);
    Send(*vis, "SPLUSE", 40, 40);
    EXPECT_EQ(vis->GetSelection()->GetUndoStack().size(), 2u) << "the clear button took it";
}

namespace {

// Red pixels of the lasso line in the 3D area of the last frame.
size_t LassoLinePixels()
{
    std::vector<unsigned char> px(static_cast<size_t>(ViewWidth) * ViewHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, ViewWidth, ViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    size_t red = 0;
    for (size_t i = 0; i < px.size(); i += 4) red += px[i] > 200 && px[i + 1] < 60 && px[i + 2] < 60;
    return red;
}

// The views a participant meets: the example study's trials and a few seeded
// random turns.
std::vector<osg::Quat> StudyAndRandomViews()
{
    const double degree = kPi / 180.0;
    auto angles = [&](double azimuth, double elevation) {
        return osg::Quat(azimuth * degree, osg::Vec3d(0, 1, 0)) * osg::Quat(elevation * degree, osg::Vec3d(1, 0, 0));
    };
    std::vector<osg::Quat> views = {angles(30, 20), angles(45, 15), angles(-60, 30), angles(10, 70),
                                    osg::Quat(0, 0.3826834, 0, 0.9238795), angles(120, -20)};
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 4; ++i) {
        osg::Vec3d axis(unit(random), unit(random), unit(random));
        axis.normalize();
        views.push_back(osg::Quat(kPi * unit(random), axis));
    }
    return views;
}

} // namespace

TEST_F(VisFixture, LassoLineIsDrawnInEveryViewOverTheSelectionAndItsImageIsUnchanged)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    // Half a circle around the blob, then the frame drawn mid-stroke; then
    // the whole stroke and the lasso image it leaves.
    Paint(*vis);
    const osg::Vec3d c = Project(*vis, osg::Vec3d(0, 0, 0));
    const double r = 60;
    auto stroke = [&](size_t* midStroke, std::vector<unsigned char>* image) {
        Paint(*vis);
        Send(*vis, "SPLUSS", c.x() + r, c.y());
        for (int i = 1; i < 45; ++i)
            Send(*vis, "SPLUS", c.x() + r * std::cos(2 * kPi * i / 90), c.y() + r * std::sin(2 * kPi * i / 90));
        Paint(*vis);
        *midStroke = LassoLinePixels();
        for (int i = 45; i < 90; ++i)
            Send(*vis, "SPLUS", c.x() + r * std::cos(2 * kPi * i / 90), c.y() + r * std::sin(2 * kPi * i / 90));
        Send(*vis, "SPLUSE", c.x() + r, c.y() - 0.5);
        Paint(*vis); // the lasso camera captures the flat triangles
        *image = vis->GetScene()->GetLassoCapture()->LassoImageBytes();
        Paint(*vis);
        EXPECT_FALSE(vis->GetFrameStrategy()->IsBuildPending());
        vis->GetSelection()->undoLastSelection();
    };

    // First over the bare cloud, then over a selection's surface and points.
    for (bool overSelection : {false, true}) {
        if (overSelection) {
            vis->GetScene()->SetView(osg::Quat(), 1.0);
            LassoAround("SPLUS", osg::Vec3d(0, 0, 0), 1.3);
            Paint(*vis);
            Paint(*vis);
            ASSERT_GT(Selected(1), 3600u);
        }
        vis->GetScene()->SetView(osg::Quat(), 1.0);
        size_t frontLine = 0;
        std::vector<unsigned char> frontImage;
        stroke(&frontLine, &frontImage);
        // Half of a circle of radius 60 drawn 2.5 pixels wide.
        ASSERT_GT(frontLine, 350u) << (overSelection ? "over the selection" : "over the cloud");

        const std::vector<osg::Quat> views = StudyAndRandomViews();
        for (size_t view = 0; view < views.size(); ++view) {
            vis->GetScene()->SetView(views[view], 1.0);
            size_t line = 0;
            std::vector<unsigned char> image;
            stroke(&line, &image);
            EXPECT_GE(line, frontLine * 95 / 100) << "view " << view << (overSelection ? " over the selection" : "");
            EXPECT_LE(line, frontLine * 105 / 100) << "view " << view << (overSelection ? " over the selection" : "");
            // The flat lasso lies in window coordinates, so a turned view
            // leaves its image as it was.
            EXPECT_TRUE(image == frontImage) << "view " << view;
        }
    }
}

namespace {

osg::ref_ptr<osg::Vec3Array> Cube(int n, float offset)
{
    osg::ref_ptr<osg::Vec3Array> p = new osg::Vec3Array;
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y)
            for (int z = 0; z < n; ++z) p->push_back(osg::Vec3(x + offset, y * 0.5f, z * 0.25f + 0.01f * x));
    return p;
}

struct TwoDatasets : testing::Test {
    TwoDatasets()
    {
        PreComputedDensity::Destroy();
        FerrowDatasetManager::Destroy();
        FerrowDatasetManager::Instance()->Add("first", Cube(12, 0.0f));
        FerrowDatasetManager::Instance()->Add("second", Cube(10, 100.0f));
        FerrowManager::Instance()->SetCurrentDatasetNr(0);
    }
    ~TwoDatasets() override
    {
        PreComputedDensity::Destroy();
        FerrowDatasetManager::Destroy();
        FerrowManager::Destroy();
    }
    OffscreenContext context;
};

} // namespace

TEST_F(TwoDatasets, DensitiesAreComputedAfterOneFrameShowsTheMessage)
{
    if (!context.gc.valid()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    {
        KelvoVis vis(nullptr, 0, ViewWidth, ViewHeight);
        vis.setLayout(TestLayout(), KelvoLayout());
        EXPECT_FALSE(vis.DensitiesReady());
        EXPECT_EQ(vis.GetMessage(), "Computing densities\xE2\x80\xA6");
        EXPECT_EQ(vis.GetSelection(), nullptr);
        // Lassos wait for the densities; rotation does not.
        Send(vis, "SPLUSS", 440, 300);
        EXPECT_FALSE(vis.GetFrameStrategy()->IsLassoActive());
        Send(vis, "SPLUSE", 440, 300);

        Paint(vis);
        EXPECT_TRUE(PreComputedDensity::Instance()->densities.empty()) << "the message frame comes first";
        // The estimate runs beside the frames; the view keeps painting.
        const auto start = std::chrono::steady_clock::now();
        do Paint(vis);
        while (!vis.DensitiesReady() && std::chrono::steady_clock::now() - start < std::chrono::seconds(60));
        EXPECT_TRUE(vis.DensitiesReady());
        EXPECT_EQ(PreComputedDensity::Instance()->densities.size(), 2u);
        EXPECT_EQ(vis.GetMessage(), "");
        ASSERT_TRUE(vis.GetSelection());
        Paint(vis);
        EXPECT_EQ(PreComputedDensity::Instance()->densities.size(), 2u) << "computed once";
    }
    EXPECT_TRUE(PreComputedDensity::Instance()->densities.empty()) << "released with the visualization";
}

TEST_F(TwoDatasets, ChangingTheTrialsDatasetShowsItWithAFreshSelection)
{
    if (!context.gc.valid()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    PreComputedDensity::Instance()->computeDensities();
    KelvoVis vis(nullptr, 0, ViewWidth, ViewHeight);
    vis.setLayout(TestLayout(), KelvoLayout());
    Paint(vis);
    ASSERT_TRUE(vis.GetSelection());
    EXPECT_EQ(vis.GetShownDataset(), 0);

    FerrowManager::Instance()->SetCurrentDatasetNr(1);
    Paint(vis);
    osg::Array* shown = vis.GetScene()->GetParticleGeometry()->getVertexArray();
    EXPECT_EQ(shown, FerrowDatasetManager::Instance()->datasets[1].get());
    EXPECT_EQ(vis.GetSelectionMask().size(), 1000u);
    ASSERT_TRUE(vis.GetSelection());
    EXPECT_EQ(vis.GetSelection()->GetUndoStack().size(), 1u);
    EXPECT_EQ(vis.GetScene()->GetColours()->size(), 1000u);
    // The new data is centred in the area.
    const osg::Vec3d c = Project(vis, vis.GetScene()->GetDataCentre());
    EXPECT_NEAR(c.x(), 80 + (720 - 51) * 0.5, 1e-6);
    // Only one selection node hangs below the data transform.
    EXPECT_EQ(vis.GetScene()->GetDataTransform()->getNumChildren(), 2u);

    // In free exploration switching back brings the first dataset's
    // selection back with its history; the other keeps its own.
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
    Paint(vis);
    const osg::Vec3d centre = Project(vis, vis.GetScene()->GetDataCentre());
    Send(vis, "CYSPLUSS", centre.x() - 60, centre.y() - 60);
    Send(vis, "CYSPLUS", centre.x() + 60, centre.y() - 60);
    Send(vis, "CYSPLUS", centre.x() + 60, centre.y() + 60);
    Send(vis, "CYSPLUSE", centre.x() - 60, centre.y() + 60);
    Paint(vis);
    Paint(vis);
    const std::vector<bool> selected = vis.GetSelectionMask();
    const size_t count = std::count(selected.begin(), selected.end(), true);
    ASSERT_GT(count, 0u);
    ASSERT_EQ(vis.GetSelection()->GetUndoStack().size(), 2u);
    FerrowManager::Instance()->SetCurrentDatasetNr(1);
    Paint(vis);
    EXPECT_EQ(std::count(vis.GetSelectionMask().begin(), vis.GetSelectionMask().end(), true), 0);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
    Paint(vis);
    EXPECT_EQ(vis.GetSelectionMask(), selected);
    ASSERT_EQ(vis.GetSelection()->GetUndoStack().size(), 2u);
    EXPECT_EQ(vis.GetScene()->GetSelectedPoints()->size(), count) << "shown in the selection's colour again";
    EXPECT_EQ(vis.GetScene()->GetDataTransform()->getNumChildren(), 2u);
    vis.GetSelection()->undoLastSelection();
    EXPECT_EQ(std::count(vis.GetSelectionMask().begin(), vis.GetSelectionMask().end(), true), 0);
}

TEST_F(VisFixture, ASecondFingerOnTheAreaDoesNotDisturbTheFirstStroke)
{
    Send(*vis, "PRESS", 440, 300, 1);
    Send(*vis, "PRESS", 600, 450, 2); // a second finger lands while the first turns
    Send(*vis, "DRAG", 540, 300, 1);
    const osg::Matrixd turned = vis->GetScene()->GetDataTransform()->getMatrix();
    Send(*vis, "DRAG", 300, 100, 2);
    EXPECT_EQ(vis->GetScene()->GetDataTransform()->getMatrix(), turned);
    Send(*vis, "RELEASE", 300, 100, 2);
    Send(*vis, "DRAG", 560, 300, 1); // the first still turns after the second left
    EXPECT_NE(vis->GetScene()->GetDataTransform()->getMatrix(), turned);
    Send(*vis, "RELEASE", 560, 300, 1);

    // A lasso keeps its own points only.
    Send(*vis, "SPLUSS", 400, 300, 3);
    Send(*vis, "SPLUSS", 500, 300, 4);
    Send(*vis, "SPLUS", 420, 340, 3);
    Send(*vis, "SPLUS", 700, 500, 4);
    EXPECT_EQ(vis->GetSelection()->GetLassoPoints().size(), 2u);
    // A finger on the undo button meanwhile goes nowhere and leaves it unlit.
    Send(*vis, "PRESS", 40, 140, 5);
    EXPECT_FALSE(vis->GetUndoButton()->isHighlighted());
    Send(*vis, "RELEASE", 40, 140, 5);
    EXPECT_EQ(vis->GetSelection()->GetLassoPoints().size(), 2u);
    Send(*vis, "SPLUSE", 400, 301, 4);
    EXPECT_TRUE(vis->GetFrameStrategy()->IsLassoActive()) << "only its own finger ends it";
    Send(*vis, "SPLUSE", 400, 301, 3);
    EXPECT_FALSE(vis->GetFrameStrategy()->IsLassoActive());
}

TEST_F(VisFixture, ALongInstructionWrapsWithinTheBandAtAReadableSize)
{
    if (!HaveGL()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    // Text is measured with the GUI application's fonts.
    vistest::EnsureGuiApplication();
    const std::string shortText = "Select the blob";
    vis->SetMessage(shortText);
    Paint(*vis);
    ASSERT_EQ(vis->GetTexts().GetMessageLines().size(), 1u);
    const int fullHeight = vis->GetTexts().GetMessageLines()[0].height();

    std::string text;
    for (int i = 0; i < 40; ++i) text += (i ? " " : "") + std::string("word") + std::to_string(i);
    vis->SetMessage(text);
    Paint(*vis);
    const std::vector<TextLabel>& lines = vis->GetTexts().GetMessageLines();
    ASSERT_GT(lines.size(), 1u);
    std::string joined;
    for (const TextLabel& line : lines) {
        EXPECT_LE(line.width(), 720) << line.getText();  // the band across the main area
        EXPECT_GE(line.height(), fullHeight * 2 / 3) << "no tiny print";
        joined += (joined.empty() ? "" : " ") + line.getText();
    }
    EXPECT_EQ(joined, text) << "every word, in order";
}

TEST_F(VisFixture, APressAfterALostReleaseStartsAfresh)
{
    Send(*vis, "SPLUSS", 400, 300, 5);
    Send(*vis, "SPLUS", 450, 300, 5);
    // The release of pointer 5 never arrives; its next press still works.
    Send(*vis, "PRESS", 440, 300, 5);
    EXPECT_FALSE(vis->GetFrameStrategy()->IsLassoActive());
    const osg::Matrixd before = vis->GetScene()->GetDataTransform()->getMatrix();
    Send(*vis, "DRAG", 540, 300, 5);
    EXPECT_NE(vis->GetScene()->GetDataTransform()->getMatrix(), before);
    Send(*vis, "RELEASE", 540, 300, 5);
}

TEST_F(VisFixture, ImmediateRepaintsAreAskedForStrokeStartsAndEndsNotForMoves)
{
    int repaints = 0;
    QObject::connect(vis->changeNotifier, &ChangeNotifier::valueChanged, [&] { ++repaints; });
    Send(*vis, "PRESS", 40, 300); // slider
    EXPECT_EQ(repaints, 1);
    Send(*vis, "DRAG", 40, 400);
    Send(*vis, "DRAG", 40, 450);
    EXPECT_EQ(repaints, 1);
    Send(*vis, "RELEASE", 40, 450);
    EXPECT_EQ(repaints, 2);
    Send(*vis, "SCROLL", 40, 450); // registered, never meaningful
    EXPECT_EQ(repaints, 2);
}

TEST_F(TwoDatasets, ADatasetAtOnePointSaysOnScreenThatNothingCanBeSelected)
{
    if (!context.gc.valid()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    osg::ref_ptr<osg::Vec3Array> point = new osg::Vec3Array;
    point->resize(50, osg::Vec3(1, 2, 3));
    FerrowDatasetManager::Instance()->Add("point", point);
    KelvoVis vis(nullptr, 0, ViewWidth, ViewHeight);
    vis.setLayout(TestLayout(), KelvoLayout());
    testing::internal::CaptureStdout();
    vis.ComputeDensitiesNow();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(vis.GetMessage(), "");
    FerrowManager::Instance()->SetCurrentDatasetNr(2);
    Paint(vis);
    EXPECT_EQ(vis.GetMessage(), "All particles lie at one point: nothing can be selected");
    FerrowManager::Instance()->SetCurrentDatasetNr(1);
    Paint(vis);
    EXPECT_EQ(vis.GetMessage(), "") << "a dataset that can be selected clears it";

    // One loaded after the estimate has no field: shown, not selectable, no crash.
    FerrowDatasetManager::Instance()->Add("late", point);
    FerrowManager::Instance()->SetCurrentDatasetNr(3);
    testing::internal::CaptureStdout();
    Paint(vis);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Dataset 3 cannot be selected: it has no density field\n");
    EXPECT_EQ(vis.GetMessage(), "No density for this dataset: nothing can be selected");
}
