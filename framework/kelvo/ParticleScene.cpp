#include "framework/kelvo/ParticleScene.h"

#include "framework/runner/StartViewCamera.h"

#include <osg/BlendFunc>
#include <osg/Depth>
#include <osg/Point>
#include <osg/Viewport>

#include <algorithm>
#include <cmath>

const osg::Vec4ub ParticleScene::UnselectedColour(120, 150, 200, 255);
const osg::Vec4ub ParticleScene::SelectedColour(255, 150, 30, 255);
const osg::Vec4ub ParticleScene::TargetColour(60, 220, 90, 255);

namespace {
const osg::Vec4 BackgroundColour(0.05f, 0.06f, 0.08f, 1.0f);
const osg::Vec4 FrameColour(0.45f, 0.47f, 0.52f, 1.0f);
// After the selection surface's bin (11).
constexpr int SelectedPointsBin = 12;
} // namespace

ParticleScene::ParticleScene(int x, int y, int width, int height)
{
    // Scene nodes in scene order.
    root = new osg::Group;
    dataTransform = new osg::MatrixTransform;
    dataTransform->setDataVariance(osg::Object::DYNAMIC);
    root->addChild(dataTransform.get());

    dataGroup = new osg::Group;
    dataTransform->addChild(dataGroup.get());

    // Nested camera with identity matrices: draws its children with the
    // master camera's view, and is where the selection engine finds the plot.
    plotCamera = new osg::Camera;
    plotCamera->setRenderOrder(osg::Camera::NESTED_RENDER);
    plotCamera->setReferenceFrame(osg::Transform::RELATIVE_RF);
    plotCamera->setClearMask(0);
    dataGroup->addChild(plotCamera.get());

    frameGeode = new osg::Geode;
    frameGeometry = new osg::Geometry;
    frameGeometry->setUseDisplayList(false);
    frameGeometry->setUseVertexBufferObjects(true);
    osg::ref_ptr<osg::Vec4Array> frameColours = new osg::Vec4Array;
    frameColours->push_back(FrameColour);
    frameGeometry->setColorArray(frameColours.get(), osg::Array::BIND_OVERALL);
    frameGeometry->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    frameGeode->addDrawable(frameGeometry.get());
    plotCamera->addChild(frameGeode.get());

    particleGeode = new osg::Geode;
    particleGeometry = new osg::Geometry;
    // Hundreds of thousands of points: buffer objects, never display lists,
    // so recolouring re-uploads one array instead of recompiling a list.
    particleGeometry->setUseDisplayList(false);
    particleGeometry->setUseVertexBufferObjects(true);
    particleGeometry->setDataVariance(osg::Object::DYNAMIC);
    positions = new osg::Vec3Array;
    colours = new osg::Vec4ubArray;
    colours->setNormalize(true);
    colours->setDataVariance(osg::Object::DYNAMIC);
    particleGeometry->setVertexArray(positions.get());
    particleGeometry->setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    particlePoints = new osg::DrawArrays(GL_POINTS, 0, 0);
    previewPoints = new osg::DrawElementsUInt(GL_POINTS);
    particleGeometry->addPrimitiveSet(particlePoints.get());
    osg::StateSet* pointState = particleGeometry->getOrCreateStateSet();
    pointState->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    pointState->setMode(GL_BLEND, osg::StateAttribute::OFF);
    cloudPoint = new osg::Point(PointSize);
    pointState->setAttribute(cloudPoint.get());
    particleGeode->addDrawable(particleGeometry.get());
    plotCamera->addChild(particleGeode.get());

    // The selection surface blends over everything behind it; the selected
    // and highlighted points are drawn once more after it and over the
    // cloud, in their own colours, so millions of others cannot bury them.
    selectedGeode = new osg::Geode;
    selectedGeometry = new osg::Geometry;
    selectedGeometry->setUseDisplayList(false);
    selectedGeometry->setUseVertexBufferObjects(true);
    selectedGeometry->setDataVariance(osg::Object::DYNAMIC);
    selectedGeometry->setVertexArray(positions.get());
    selectedGeometry->setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    selectedPoints = new osg::DrawElementsUInt(GL_POINTS);
    selectedGeometry->addPrimitiveSet(selectedPoints.get());
    osg::StateSet* selectedState = selectedGeometry->getOrCreateStateSet();
    selectedState->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    selectedState->setMode(GL_BLEND, osg::StateAttribute::OFF);
    selectedState->setAttribute(new osg::Point(PointSize));
    selectedState->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    selectedState->setRenderBinDetails(SelectedPointsBin, "RenderBin");
    selectedGeode->addDrawable(selectedGeometry.get());
    plotCamera->addChild(selectedGeode.get());

    viewer = new osgViewer::Viewer;
    viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    viewer->setUpViewerAsEmbeddedInWindow(x, y, std::max(width, 1), std::max(height, 1));
    viewer->setKeyEventSetsDone(0);
    viewer->setQuitEventSetsDone(false);
    osg::Camera* master = viewer->getCamera();
    master->setClearColor(BackgroundColour);
    master->setClearMask(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Fixed near and far planes: the selection volumes project with the
    // camera's own projection matrix, which must match what was drawn.
    master->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    master->getOrCreateStateSet()->setMode(GL_DEPTH_TEST, osg::StateAttribute::ON);

    lassoCamera = new LassoCamera(master, dataTransform.get());
    root->addChild(lassoCamera.get());

    viewer->setSceneData(root.get());
    SetViewport(x, y, width, height);
    SetParticles(nullptr);
}

ParticleScene::~ParticleScene() = default;

LassoCaptureCallback* ParticleScene::GetLassoCapture() const
{
    return lassoCamera.valid() ? lassoCamera->GetCapture() : nullptr;
}

void ParticleScene::SetParticles(osg::Vec3Array* p)
{
    positions = p ? p : new osg::Vec3Array;
    particleGeometry->setVertexArray(positions.get());
    selectedGeometry->setVertexArray(positions.get());
    selectedPoints->clear();
    selectedPoints->dirty();
    colours->assign(positions->size(), UnselectedColour);
    applyCloudAlpha();
    particlePoints->setCount(static_cast<GLsizei>(positions->size()));
    particlePoints->dirty();
    previewPoints->clear();
    const size_t stride = (positions->size() + PreviewPointBudget - 1) / PreviewPointBudget;
    for (size_t i = 0; stride > 1 && i < positions->size(); i += stride) previewPoints->push_back(static_cast<GLuint>(i));
    previewPoints->dirty();
    preview = false;
    particleGeometry->setPrimitiveSet(0, particlePoints.get());
    selectedGeode->setNodeMask(~0u);
    particleGeometry->dirtyBound();

    osg::BoundingBox box;
    StartViewCamera::Frame(*positions, box, centre, radius);
    rebuildFrame(box);
    rotation = osg::Quat();
    zoom = 1.0;
    zoomShiftX = zoomShiftY = 0.0;
    updateDataMatrix();
    updateProjection();
}

void ParticleScene::rebuildFrame(const osg::BoundingBox& box)
{
    osg::ref_ptr<osg::Vec3Array> v = new osg::Vec3Array;
    for (int axis = 0; axis < 3; ++axis)
        for (int i = 0; i < 4; ++i) {
            // The four edges parallel to this axis.
            osg::Vec3 a, b;
            const int u = (axis + 1) % 3, w = (axis + 2) % 3;
            a[axis] = box._min[axis];
            b[axis] = box._max[axis];
            a[u] = b[u] = (i & 1) ? box._max[u] : box._min[u];
            a[w] = b[w] = (i & 2) ? box._max[w] : box._min[w];
            v->push_back(a);
            v->push_back(b);
        }
    frameGeometry->setVertexArray(v.get());
    frameGeometry->removePrimitiveSet(0, frameGeometry->getNumPrimitiveSets());
    frameGeometry->addPrimitiveSet(new osg::DrawArrays(GL_LINES, 0, static_cast<GLsizei>(v->size())));
}

void ParticleScene::SetView(const osg::Quat& r, double z)
{
    rotation = r;
    zoom = z > 0.0 ? z : 1.0;
    zoomShiftX = zoomShiftY = 0.0;
    updateDataMatrix();
    updateProjection();
}

void ParticleScene::ZoomAt(double factor, double x, double y)
{
    if (!(factor > 0.0) || !std::isfinite(factor)) return;
    const double next = std::clamp(zoom * factor, MinZoom, MaxZoom);
    if (next == zoom) return;
    // The pointer's place on the near plane, in halves of its zoom-1 size,
    // is shift + ndc / zoom; it stays where it is at the new zoom.
    const double ndcX = 2.0 * (x - vpX) / vpWidth - 1.0, ndcY = 2.0 * (y - vpY) / vpHeight - 1.0;
    zoomShiftX += ndcX * (1.0 / zoom - 1.0 / next);
    zoomShiftY += ndcY * (1.0 / zoom - 1.0 / next);
    zoom = next;
    updateProjection();
}

void ParticleScene::UpdateColours(const std::vector<bool>& selection, const std::vector<bool>* highlight)
{
    const size_t n = colours->size();
    const size_t shown = highlight ? highlight->size() : 0;
    const osg::Vec4ub cloud = cloudColour();
    selectedPoints->clear();
    for (size_t i = 0; i < n; ++i) {
        const bool selected = i < selection.size() && selection[i];
        const bool highlighted = !selected && i < shown && (*highlight)[i];
        (*colours)[i] = selected ? SelectedColour : highlighted ? TargetColour : cloud;
        if (selected || highlighted) selectedPoints->push_back(static_cast<GLuint>(i));
    }
    colours->dirty();
    selectedPoints->dirty();
    selectedGeometry->dirtyBound();
}

void ParticleScene::SetCloudAppearance(float pointSize, float opacity)
{
    cloudPointSize = std::clamp(std::isfinite(pointSize) ? pointSize : PointSize, 1.0f, 16.0f);
    cloudOpacity = std::clamp(std::isfinite(opacity) ? opacity : 1.0f, 0.02f, 1.0f);
    cloudPoint->setSize(cloudPointSize);
    osg::StateSet* state = particleGeometry->getOrCreateStateSet();
    if (cloudOpacity < 1.0f) {
        // A faint cloud lets what lies behind it through: blended, and no
        // depth written that would hide the points behind.
        state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), osg::StateAttribute::ON);
        state->setAttributeAndModes(new osg::Depth(osg::Depth::LESS, 0.0, 1.0, false));
    } else {
        state->removeAttribute(osg::StateAttribute::BLENDFUNC);
        state->removeAttribute(osg::StateAttribute::DEPTH);
        state->setMode(GL_BLEND, osg::StateAttribute::OFF);
    }
    applyCloudAlpha();
}

osg::Vec4ub ParticleScene::cloudColour() const
{
    osg::Vec4ub c = UnselectedColour;
    c.a() = static_cast<unsigned char>(std::lround(cloudOpacity * 255.0f));
    return c;
}

void ParticleScene::applyCloudAlpha()
{
    const unsigned char alpha = cloudColour().a();
    for (osg::Vec4ub& c : *colours)
        if (c.r() == UnselectedColour.r() && c.g() == UnselectedColour.g() && c.b() == UnselectedColour.b()) c.a() = alpha;
    colours->dirty();
}

void ParticleScene::SetViewport(int x, int y, int width, int height)
{
    vpX = x;
    vpY = y;
    vpWidth = std::max(width, 1);
    vpHeight = std::max(height, 1);
    osg::Camera* master = viewer->getCamera();
    if (osg::Viewport* vp = master->getViewport())
        vp->setViewport(vpX, vpY, vpWidth, vpHeight);
    else
        master->setViewport(new osg::Viewport(vpX, vpY, vpWidth, vpHeight));
    updateProjection();
}

void ParticleScene::updateProjection()
{
    const StartViewCamera start(radius, vpWidth, vpHeight, zoom);
    osg::Camera* master = viewer->getCamera();
    if (zoomShiftX == 0.0 && zoomShiftY == 0.0) {
        master->setProjectionMatrix(start.Projection());
    } else {
        // Zoomed about a point off the axis: the same opening angle, its
        // window moved on the near plane.
        const double top = start.zNear * std::tan(start.halfY), right = top * start.aspect;
        master->setProjectionMatrixAsFrustum(right * (zoomShiftX - 1.0 / zoom), right * (zoomShiftX + 1.0 / zoom),
                                             top * (zoomShiftY - 1.0 / zoom), top * (zoomShiftY + 1.0 / zoom),
                                             start.zNear, start.zFar);
    }
    master->setViewMatrix(start.View());
    lassoCamera->Sync();
}

void ParticleScene::updateDataMatrix()
{
    // Data centre to the world origin, then the trackball rotation about it.
    dataTransform->setMatrix(StartViewCamera::DataMatrix(centre, rotation));
    lassoCamera->Sync();
}

osg::Vec2d ParticleScene::ToWindow(double viewX, double viewY) const
{
    return osg::Vec2d(viewX, viewY);
}

namespace {
// Holroyd's trackball: a sphere in the middle of the area, a hyperbolic sheet
// outside it, so drags beyond the sphere still turn smoothly.
osg::Vec3d TrackballPoint(double x, double y)
{
    const double r = 1.0, d2 = x * x + y * y;
    if (d2 <= r * r * 0.5) return osg::Vec3d(x, y, std::sqrt(r * r - d2));
    return osg::Vec3d(x, y, r * r * 0.5 / std::sqrt(d2));
}
} // namespace

void ParticleScene::Rotate(double ax, double ay, double bx, double by)
{
    const double cx = vpX + vpWidth * 0.5, cy = vpY + vpHeight * 0.5;
    const double s = std::min(vpWidth, vpHeight) * 0.5;
    osg::Vec3d a = TrackballPoint((ax - cx) / s, (ay - cy) / s);
    osg::Vec3d b = TrackballPoint((bx - cx) / s, (by - cy) / s);
    a.normalize();
    b.normalize();
    if ((a - b).length2() < 1e-14) return;
    osg::Quat q;
    q.makeRotate(a, b);
    // The view looks down -z without turning, so eye axes are world axes.
    rotation = rotation * q;
    updateDataMatrix();
}

void ParticleScene::SetPreview(bool on)
{
    // Small clouds are drawn whole anyway.
    if (previewPoints->empty()) on = false;
    if (on == preview) return;
    preview = on;
    particleGeometry->setPrimitiveSet(0, on ? static_cast<osg::PrimitiveSet*>(previewPoints.get())
                                            : static_cast<osg::PrimitiveSet*>(particlePoints.get()));
    // The sample shows the selection through its colours.
    selectedGeode->setNodeMask(on ? 0u : ~0u);
}

void ParticleScene::SetDefaultFboId(GLuint fbo)
{
    osg::Camera* master = viewer->getCamera();
    if (osg::GraphicsContext* gc = master->getGraphicsContext()) gc->setDefaultFboId(fbo);
    // Inside a framebuffer object there is no back buffer to select.
    const GLenum buffer = fbo ? GL_COLOR_ATTACHMENT0_EXT : GL_BACK;
    master->setDrawBuffer(buffer);
    master->setReadBuffer(buffer);
}
