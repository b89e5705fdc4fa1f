#pragma once
// LassoCaptureCallback: the final draw callback of the lasso camera. After the
// camera has drawn the filled lasso it keeps the drawn viewport: three bytes per
// pixel, rows of `width` pixels, row 0 at the bottom. The selection volumes read
// it as the engine's LassoImage.
#include "geometry/LassoImage.h"

#include <osg/Camera>
#include <osg/GL>
#include <osg/Image>
#include <osg/RenderInfo>
#include <osg/Viewport>

#include <cstring>
#include <vector>

class LassoCaptureCallback : public osg::Camera::DrawCallback, public LassoImage {
public:
    mutable std::vector<unsigned char> image;
    mutable int width = 0;
    mutable int height = 0;
    // Frames captured so far; lets a caller wait for a fresh image.
    mutable unsigned frames = 0;

    const std::vector<unsigned char>& LassoImageBytes() const override { return image; }
    int LassoImageWidth() const override { return width; }
    int LassoImageHeight() const override { return height; }

    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::Camera* cam = renderInfo.getCurrentCamera();
        if (!cam) return;
        // A camera rendering offscreen has its colour buffer read back into an
        // attached image by the time this runs.
        auto it = cam->getBufferAttachmentMap().find(osg::Camera::COLOR_BUFFER);
        if (it != cam->getBufferAttachmentMap().end() && it->second._image.valid()) {
            const osg::Image* img = it->second._image.get();
            if (img->getPixelFormat() != GL_RGB || img->getDataType() != GL_UNSIGNED_BYTE || !img->data()) return;
            const int w = img->s(), h = img->t();
            image.resize(static_cast<size_t>(w) * h * 3);
            for (int row = 0; row < h; ++row)
                std::memcpy(&image[static_cast<size_t>(row) * w * 3], img->data(0, row), static_cast<size_t>(w) * 3);
            width = w;
            height = h;
            ++frames;
            return;
        }
        const osg::Viewport* vp = cam->getViewport();
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
