// An example technique outside the library, built as a shared object and
// reached through TRELLAN_TECHNIQUES (docs/adding-a-technique.md):
//   ball        a lasso technique: a ball around the densest grid node whose
//               window position lies inside the lasso
//   ball-click  the same for a click: the densest node within 8 pixels of it
// The ball's radius is a tenth of the grid's smallest extent; the threshold
// slider leaves it as it is.
#include "geometry/TechniqueRegistry.h"

#include <boost/make_shared.hpp>
#include <osg/Viewport>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// Even-odd rule on the lasso polygon, window coordinates.
bool InsidePolygon(const std::vector<osg::Vec2f>& poly, double x, double y)
{
    bool inside = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const double xi = poly[i].x(), yi = poly[i].y(), xj = poly[j].x(), yj = poly[j].y();
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
    }
    return inside;
}

// The ball around the densest node whose window position `picked` accepts.
boost::shared_ptr<SelectionGeometry> BallAround(const TechniqueInputs& in,
                                                const std::function<bool(double, double)>& picked)
{
    if (!in.density) throw std::runtime_error("the dataset has no density field");
    const osg::Camera* camera = in.viewer ? in.viewer->getCamera() : nullptr;
    if (!camera || !camera->getViewport()) throw std::runtime_error("the camera has no viewport");
    const osg::Matrixd toWindow = osg::Matrixd(in.modelMatrix) * camera->getViewMatrix() *
                                  camera->getProjectionMatrix() * camera->getViewport()->computeWindowMatrix();
    const ScalarField3D& grid = *in.density;
    int best = -1;
    osg::Vec3d centre;
    for (int iz = 0; iz < grid.zCount; ++iz)
        for (int iy = 0; iy < grid.yCount; ++iy)
            for (int ix = 0; ix < grid.xCount; ++ix) {
                const osg::Vec3d node(grid.xMin + ix * grid.xStep, grid.yMin + iy * grid.yStep,
                                      grid.zMin + iz * grid.zStep);
                const osg::Vec3d w = node * toWindow;
                const int k = grid.NodeIndex(ix, iy, iz);
                if (w.z() < 0.0 || w.z() > 1.0 || !picked(w.x(), w.y())) continue;
                if (best < 0 || grid.values[k] > grid.values[best]) {
                    best = k;
                    centre = node;
                }
            }
    if (best < 0) throw std::runtime_error("no grid node lies under the stroke");
    const double radius = 0.1 * std::min({grid.xMax - grid.xMin, grid.yMax - grid.yMin, grid.zMax - grid.zMin});
    boost::shared_ptr<ScalarField3D> field = FieldGeometry::FieldOnDensityGrid();
    for (int iz = 0; iz < field->zCount; ++iz)
        for (int iy = 0; iy < field->yCount; ++iy)
            for (int ix = 0; ix < field->xCount; ++ix) {
                const osg::Vec3d node(field->xMin + ix * field->xStep, field->yMin + iy * field->yStep,
                                      field->zMin + iz * field->zStep);
                field->values[field->NodeIndex(ix, iy, iz)] = radius - (node - centre).length();
            }
    return boost::make_shared<FieldGeometry>(in.positions, field);
}

class BallTechnique : public Technique {
public:
    std::string Name() const override { return "ball"; }
    std::string Description() const override { return "a ball around the densest grid node under the lasso"; }
    Takes Input() const override { return Takes::Lasso; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return BallAround(in, [&in](double x, double y) { return InsidePolygon(in.lasso, x, y); });
    }
};

class BallClickTechnique : public Technique {
public:
    std::string Name() const override { return "ball-click"; }
    std::string Description() const override { return "a ball around the densest grid node near the click"; }
    Takes Input() const override { return Takes::Click; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return BallAround(in, [&in](double x, double y) {
            return std::hypot(x - in.click.x(), y - in.click.y()) <= 8.0;
        });
    }
};

}  // namespace

extern "C" void trellan_register_techniques(TechniqueRegistry& registry)
{
    registry.Add(std::make_unique<BallTechnique>());
    registry.Add(std::make_unique<BallClickTechnique>());
}
