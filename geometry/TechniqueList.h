// The library's techniques, one line each, in the order they are offered:
// TECHNIQUE(X) needs a source file defining
//     std::unique_ptr<Technique> MakeXTechnique();
// Included by TechniqueRegistry.cpp only (no include guard on purpose).
TECHNIQUE(Density)
TECHNIQUE(Cylinder)
