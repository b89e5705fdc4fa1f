// The cylinder lasso as a technique: CylinderGeometry unchanged.
#include "geometry/CylinderGeometry.h"
#include "geometry/Technique.h"

#include <boost/make_shared.hpp>
#include <memory>

namespace {

class CylinderTechnique : public Technique {
public:
    std::string Name() const override { return "cylinder"; }
    std::string Description() const override
    {
        return "cylinder lasso: everything under the lasso, from the near to the far plane";
    }
    Takes Input() const override { return Takes::Lasso; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return boost::make_shared<CylinderGeometry>(in.positions, in.viewer, in.lasso, in.modelMatrix, in.image);
    }
};

}  // namespace

std::unique_ptr<Technique> MakeCylinderTechnique() { return std::make_unique<CylinderTechnique>(); }
