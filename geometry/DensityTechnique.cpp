// The density-aware lasso as a technique: MarchingCubesGeometry unchanged.
#include "geometry/MarchingCubesGeometry.h"
#include "geometry/Technique.h"

#include <boost/make_shared.hpp>
#include <memory>

namespace {

class DensityTechnique : public Technique {
public:
    std::string Name() const override { return "density"; }
    std::string Description() const override
    {
        return "density-aware lasso: the dense parts of the cloud under the lasso, above the threshold";
    }
    Takes Input() const override { return Takes::Lasso; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return boost::make_shared<MarchingCubesGeometry>(in.positions, in.viewer, in.lasso, in.modelMatrix, in.image);
    }
};

}  // namespace

std::unique_ptr<Technique> MakeDensityTechnique() { return std::make_unique<DensityTechnique>(); }
