// The point click as a technique: the dense structure nearest the viewer
// along the ray through the click (PointGeometry).
#include "geometry/PointGeometry.h"
#include "geometry/Technique.h"

#include <boost/make_shared.hpp>
#include <memory>

namespace {

class PointTechnique : public Technique {
public:
    std::string Name() const override { return "point"; }
    std::string Description() const override
    {
        return "point click: the dense structure nearest the viewer under the pointer";
    }
    Takes Input() const override { return Takes::Click; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return boost::make_shared<PointGeometry>(in.positions, in.viewer, in.click, in.modelMatrix);
    }
};

}  // namespace

std::unique_ptr<Technique> MakePointTechnique() { return std::make_unique<PointTechnique>(); }
