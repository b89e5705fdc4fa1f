#pragma once
// LassoProjection: the camera and lasso-image capture shared by the two lasso
// volumes, and the signed screen distance of a grid node to the lasso.
//
// In: the viewer (its master camera with a viewport; its scene data a Group
// whose child 1 is the lasso camera, with a LassoImage as final draw callback),
// the lasso in window coordinates (pixels, origin lower left) and
// the data-to-world matrix.
// Out: for a data-space point, a double whose sign says whether the point
// projects between the near and far plane onto a lasso pixel (+) or not (−)
// and whose magnitude is its pixel distance to the nearest lasso point; 0 for
// every point when the lasso is empty.
//
// Everything is copied at construction, so later camera motion, viewport
// changes or a new capture do not move the volume.
//
// Cost: construction copies the image (3 bytes per viewport pixel), keeps one
// bit per pixel of it and builds a k-d tree over the lasso points. FillField
// is four matrix products per node (four nodes at a time with AVX2), one tree
// search per 8 x 8-pixel screen tile that nodes fall in (the lasso points that
// can be nearest there) and a scan of that short list per node, four points at
// a time with AVX2 (a tree search for nodes far off the lasso), spread over
// parallel tasks by z-slabs. Exactly the doubles of the full scan come out.
#include "density/ScalarField3D.h"
#include "geometry/LassoImage.h"

#include <osg/Matrixd>
#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osg/Vec3d>
#include <osg/Viewport>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <cstdint>
#include <vector>

// Which window positions are looked up in the lasso image. The cylinder
// volume includes the viewport's left and bottom edge; the density-aware
// volume keeps every edge out.
enum class LassoImageBounds {
    IncludeLeftBottomEdge,  // viewportX ≤ x < viewportX + imageWidth, likewise y
    ExcludeEdges            // viewportX < x < viewportX + imageWidth, likewise y
};

class LassoProjection {
public:
    // Throws std::invalid_argument for a null viewer and std::runtime_error,
    // naming what is missing, when the scene has no lasso camera with a
    // LassoImage, the master camera has no viewport, or the captured
    // image holds fewer bytes than its width and height announce. A given
    // image (such as a LassoCoverage) takes the place of the lasso camera's.
    LassoProjection(osgViewer::Viewer* viewer, const std::vector<osg::Vec2f>& lassoPoints,
                    const osg::Matrixf& modelMatrix, LassoImageBounds bounds, const LassoImage* image = nullptr);

    // Position of grid node (ix, iy, iz): min + index·step per axis, rounded
    // to single precision as the particle positions are.
    static osg::Vec3f NodePosition(const ScalarField3D& grid, int ix, int iy, int iz);
    // (node × modelMatrix) × viewMatrix, row vectors with the homogeneous
    // divide; the model product is single precision like the model matrix.
    osg::Vec3d EyePosition(const osg::Vec3f& node) const;
    // (eye × projectionMatrix) × windowMatrix with the homogeneous divide:
    // x, y in window pixels, z the depth (0 near plane, 1 far plane).
    osg::Vec3d WindowPosition(const osg::Vec3d& eye) const;

    // The signed distance by a full scan over the lasso points.
    double ScreenSignedDistance(const osg::Vec3d& eye) const;
    // Writes ScreenSignedDistance(EyePosition(NodePosition(node))) into every
    // node of field, bit for bit, without scanning every lasso point per node.
    void FillField(ScalarField3D& field) const;
    // FillField's row transform and tile scan and the construction's pixel
    // flags take AVX2 where the processor and EngineSwitches::vectorLassoScan
    // allow; the plain paths give the same bits.

    osgViewer::Viewer* viewer;  // not owned
    osg::Matrixf modelMatrix;
    osg::Matrixd viewMatrix;
    osg::Matrixd projectionMatrix;
    osg::Matrixd windowMatrix;
    osg::ref_ptr<osg::Viewport> viewport;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t viewportX;
    int32_t viewportY;
    std::vector<osg::Vec2f> lassoPoints;
    std::vector<unsigned char> lassoImage;
    LassoImageBounds bounds;

private:
    // Node of the k-d tree over the lasso points: the bounding box of its
    // points and either two children or a run of points.
    struct TreeNode {
        double minX, minY, maxX, maxY;
        int32_t first, count;  // run in treePoints (leaves)
        int32_t left, right;   // children, −1 for a leaf
    };

    int32_t BuildTree(int32_t first, int32_t count);
    // The smallest squared distance from (x, y) to a lasso point, equal to the
    // full scan's; guess (an index into treePoints) seeds the search and is
    // updated to the nearest point found.
    double NearestSquaredDistance(double x, double y, int32_t& guess) const;
    // +1 or −1 from the lasso image under the bounds rule.
    double ImageSign(const osg::Vec3d& win) const;

    // Square screen tiles over the lasso's surroundings. Each tile that nodes
    // fall in gets the list of lasso points that can be nearest to some
    // position in it, so most nodes scan a short list instead of the tree.
    struct TileGrid {
        double x0 = 0.0, y0 = 0.0, size = 1.0;
        int32_t columns = 0, rows = 0;  // no tiles when 0
        // BoxOfTile's edges of each column and row, looked up per node.
        std::vector<double> columnMin, columnMax, rowMin, rowMax;
    };
    struct TileBox {
        double minX, minY, maxX, maxY;
    };
    TileGrid MakeTileGrid() const;
    static TileBox BoxOfTile(const TileGrid& tiles, int32_t column, int32_t row);
    // Index of the tile whose box holds (x, y), or −1.
    static int32_t TileOf(const TileGrid& tiles, double x, double y);
    // Every lasso point that can be nearest to some position in the tile's
    // box: their x, then their y, each padded to whole blocks of four with
    // points at infinity.
    std::vector<double> TileCandidates(const TileGrid& tiles, int32_t tile) const;
    // The smallest squared distance from (x, y) to count points (a multiple
    // of four).
    static double MinimumSquaredDistance(double x, double y, const double* xs, const double* ys, size_t count);

    // lassoImage reduced to its lasso flags, bit i for pixel i.
    std::vector<uint64_t> lassoBits;
    // Matrices whose homogeneous divisor is always 1 skip the division.
    bool modelAffine, viewAffine, projectionAffine, windowAffine;
    std::vector<osg::Vec2f> treePoints;  // lassoPoints reordered by the tree
    std::vector<TreeNode> tree;          // root at 0 when not empty
};
