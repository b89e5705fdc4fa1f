// The structure lasso as a technique: of the dense structures under the
// lasso, the one drawn around (StructureGeometry).
#include "geometry/StructureGeometry.h"
#include "geometry/Technique.h"

#include <boost/make_shared.hpp>
#include <memory>

namespace {

class StructureTechnique : public Technique {
public:
    std::string Name() const override { return "structure"; }
    std::string Description() const override
    {
        return "structure lasso: of the dense structures under the lasso, the one whose outline matches it";
    }
    Takes Input() const override { return Takes::Lasso; }
    boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const override
    {
        return boost::make_shared<StructureGeometry>(in.positions, in.viewer, in.lasso, in.modelMatrix, in.image);
    }
};

}  // namespace

std::unique_ptr<Technique> MakeStructureTechnique() { return std::make_unique<StructureTechnique>(); }
