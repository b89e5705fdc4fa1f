#pragma once
// LassoCaptureCallback: the final draw callback of the lasso camera. After the
// camera has drawn the filled lasso it reads the drawn viewport back: three
// bytes per pixel, rows of `width` pixels, row 0 at the bottom. Selection
// volumes read the three members below, in this order.
#include <osg/Camera>
#include <osg/GL>
#include <osg/RenderInfo>
#include <osg/Viewport>

#include <vector>

class LassoCaptureCallback : public osg::Camera::DrawCallback {
public:
    mutable std::vector<unsigned char> image;
    mutable int width = 0;
    mutable int height = 0;
    // Counts the frames captured; lets callers wait for a fresh image.
    mutable unsigned frames = 0;

    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::Camera* cam = renderInfo.getCurrentCamera();
        const osg::Viewport* vp = cam ? cam->getViewport() : nullptr;
        if (!vp) return;
        const int x = static_cast<int>(vp->x()), y = static_cast<int>(vp->y());
        const int w = static_cast<int>(vp->width()), h = static_cast<int>(vp->height());
        if (w <= 0 || h <= 0) return;
        image.assign(static_cast<size_t>(w) * h * 3, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, image.data());
        width = w;
        height = h;
        ++frames;
    }
};
