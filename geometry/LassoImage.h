#pragma once
// LassoImage: the lasso as the visualization drew it, the one thing the lasso
// volumes read from the framework that hosts them. The lasso camera's final
// draw callback implements it (the framework's LassoCaptureCallback), and so
// does the engine's own LassoCoverage, computed without drawing.
//
// In: nothing. Out: three bytes per pixel, rows of LassoImageWidth() pixels,
// row 0 at the bottom; a pixel lies inside the lasso where its first byte is
// not zero. Width and height are 0 before the first capture; a well-formed
// image holds at least width × height × 3 bytes. Cost: none, a view of the
// image the implementer keeps.
#include <vector>

class LassoImage {
public:
    virtual ~LassoImage() = default;
    virtual const std::vector<unsigned char>& LassoImageBytes() const = 0;
    virtual int LassoImageWidth() const = 0;
    virtual int LassoImageHeight() const = 0;
};
