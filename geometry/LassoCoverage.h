#pragma once
// LassoCoverage: the lasso image computed instead of captured. The flat
// triangles of a lasso (window coordinates, before they are unprojected for
// the lasso camera) are rasterized as OpenGL rasterizes them into the lasso
// camera's buffer, so the volumes can read the same image without a GL
// context, an X display or a GPU, and get the same image on every machine.
//
// In: three window points per triangle and the viewport (origin and size).
// Out: a LassoImage of viewport width × height pixels, row 0 at the bottom;
// pixel (column, row) is covered (bytes 255, 0, 0, as the lasso camera draws
// it; else 0, 0, 0) where its centre, window point (x + column + ½, y + row + ½),
// lies inside a triangle. A centre on an edge counts for the triangle the
// edge is a left or top edge of (rows grow upward: top is the larger y), so
// a centre on an edge two triangles share counts exactly once; degenerate
// triangles cover nothing. Edge functions are evaluated in double.
// Cost: one pass over each triangle's bounding box within the viewport, and
// clearing 3 bytes per viewport pixel.
#include "geometry/LassoImage.h"

#include <osg/Vec2f>

#include <vector>

class LassoCoverage : public LassoImage {
public:
    // How a pixel centre lying exactly on an edge counts. Only TopLeft is the
    // rasterization rule; the other is for showing that the comparison with
    // a captured image can tell rules apart.
    enum class EdgeRule {
        TopLeft,  // left and top edges in, right and bottom edges out
        NoEdges   // every edge out: centres on a shared edge are lost
    };

    void Rasterize(const std::vector<osg::Vec2f>& corners, int x, int y, int width, int height,
                   EdgeRule rule = EdgeRule::TopLeft);
    // Width and height 0 again, as before the first lasso.
    void Clear();

    const std::vector<unsigned char>& LassoImageBytes() const override { return image; }
    int LassoImageWidth() const override { return width; }
    int LassoImageHeight() const override { return height; }

private:
    std::vector<unsigned char> image;
    int width = 0;
    int height = 0;
};
