#pragma once
// LassoCamera: child 1 of the scene root. While switched on (node mask 1) it
// draws its children (the flat lasso triangles, in data coordinates) filled
// over black into an offscreen buffer the size of the master camera's
// viewport, with the master camera's view (after the data transform) and
// projection, so pixel (column, row) of the capture lies under window point
// (viewport x + column, viewport y + row). Its LassoCaptureCallback keeps the
// image for the selection volumes. Drawing offscreen leaves the visible frame
// untouched. Header-only so that tests and tools can build the same scene.
#include "framework/kelvo/LassoCaptureCallback.h"

#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/NodeCallback>
#include <osg/observer_ptr>

class LassoCamera : public osg::Camera {
public:
    LassoCamera(osg::Camera* master, osg::MatrixTransform* dataTransform)
        : masterCamera(master), dataTransform(dataTransform), capture(new LassoCaptureCallback)
    {
        setReferenceFrame(osg::Transform::ABSOLUTE_RF);
        setRenderOrder(osg::Camera::PRE_RENDER);
        setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
        setClearMask(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
        setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
        setCullingActive(false);
        osg::StateSet* ss = getOrCreateStateSet();
        ss->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
        ss->setMode(GL_BLEND, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
        ss->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
        ss->setMode(GL_CULL_FACE, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
        // The flat triangles lie on the near plane itself; rounding would clip
        // parts of them away, so depth is clamped instead of clipped.
        ss->setMode(kDepthClamp, osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
        setFinalDrawCallback(capture.get());
        setNodeMask(0);
        Sync();
        // Follow the master camera every frame, also while the data rotates.
        setUpdateCallback(new SyncCallback);
    }

    // Copies the master camera's matrices and viewport size; resizes the
    // offscreen buffer when the viewport changed.
    void Sync()
    {
        osg::ref_ptr<osg::Camera> master;
        if (!masterCamera.lock(master)) return;
        osg::Matrixd model;
        osg::ref_ptr<osg::MatrixTransform> data;
        if (dataTransform.lock(data)) model = data->getMatrix();
        setViewMatrix(model * master->getViewMatrix());
        setProjectionMatrix(master->getProjectionMatrix());
        const osg::Viewport* vp = master->getViewport();
        if (!vp) return;
        const int w = static_cast<int>(vp->width()), h = static_cast<int>(vp->height());
        if (w <= 0 || h <= 0) return;
        if (!target || target->s() != w || target->t() != h) {
            target = new osg::Image;
            target->allocateImage(w, h, 1, GL_RGB, GL_UNSIGNED_BYTE);
            target->setPacking(1);
            setViewport(0, 0, w, h);
            detach(osg::Camera::COLOR_BUFFER);
            attach(osg::Camera::COLOR_BUFFER, target.get());
            dirtyAttachmentMap();
        }
    }

    LassoCaptureCallback* GetCapture() const { return capture.get(); }

private:
    static const GLenum kDepthClamp = 0x864F;  // GL_DEPTH_CLAMP

    struct SyncCallback : public osg::NodeCallback {
        void operator()(osg::Node* node, osg::NodeVisitor* nv) override
        {
            static_cast<LassoCamera*>(node)->Sync();
            traverse(node, nv);
        }
    };

    osg::observer_ptr<osg::Camera> masterCamera;
    osg::observer_ptr<osg::MatrixTransform> dataTransform;
    osg::ref_ptr<LassoCaptureCallback> capture;
    osg::ref_ptr<osg::Image> target;
};
