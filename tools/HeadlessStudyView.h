#pragma once
// HeadlessStudyView: the selection engine behind a HeadlessScene as a study
// simulation sees it: one scene and selection per dataset, built when the
// dataset is first presented, the lasso image computed (no display). Each
// presentation resets the selection and presets the threshold, as Pravik
// does when it shows a trial; lassos and clicks go through the same
// ParticleSelection calls as Pravik's, with FerrowManager's technique.
//
// In: the datasets of FerrowDatasetManager. Out: the selection mask. Cost:
// the density fields of datasets not estimated yet (on first use), then one
// volume per lasso.
#include "density/PreComputedDensity.h"
#include "framework/runner/StudySimulation.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "selection/ParticleSelection.h"
#include "tools/HeadlessScene.h"

#include <map>
#include <memory>

class HeadlessStudyView : public SimulationView {
public:
    void Present(int datasetNr, const osg::Matrixd& model, const osg::Matrixd& view, const osg::Matrixd& projection,
                 int width, int height, float threshold) override
    {
        PreComputedDensity::Instance()->computeDensities();
        std::unique_ptr<Scene>& s = scenes[datasetNr];
        if (!s) s = std::make_unique<Scene>(FerrowDatasetManager::Instance()->datasets[datasetNr].get(), width, height);
        current = s.get();
        osg::Camera* camera = current->scene.viewer->getCamera();
        camera->setViewport(0, 0, width, height);
        camera->setViewMatrix(view);
        camera->setProjectionMatrix(projection);
        current->scene.dataTransform->setMatrix(model);
        current->selection.ResetSelection();
        current->selection.ChangeThreshold(threshold);
    }

    bool Select(LassoRecord::Mode mode, const std::vector<osg::Vec2f>& points, std::string& refusal) override
    {
        ParticleSelection& s = current->selection;
        const osg::Vec2f& p0 = points.front();
        if (mode == LassoRecord::Plus) s.startPlusPath(p0.x(), p0.y());
        else if (mode == LassoRecord::Minus) s.startMinusPath(p0.x(), p0.y());
        else s.startIntersectionPath(p0.x(), p0.y());
        for (size_t i = 1; i < points.size(); ++i) s.addIntoPath(points[i].x(), points[i].y());
        s.endPath();
        if (s.GetendPathTag()) {
            s.BuildGeometry();
            s.SetendPathTag(false);
        }
        refusal = s.GetLassoRefusal();
        return refusal.empty();
    }

    void Undo() override { current->selection.undoLastSelection(); }

    const std::vector<bool>& Mask() const override { return current->mask; }

private:
    struct Scene {
        Scene(osg::Vec3Array* particles, int width, int height)
            : scene(particles, width, height, false), mask(particles->size(), false),
              selection(scene.viewer.get(), scene.viewer->getCamera(), &mask, &changed)
        {
            scene.dataTransform->addChild(selection.GetSelectionNode());
            scene.lassoCamera->addChild(selection.GetFlatTriangles());
            selection.SetLassoImageSource(ParticleSelection::LassoImageSource::Computed);
        }
        HeadlessScene scene;
        std::vector<bool> mask;
        bool changed = false;
        ParticleSelection selection;
    };
    std::map<int, std::unique_ptr<Scene>> scenes;
    Scene* current = nullptr;
};
