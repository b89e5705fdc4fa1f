// The view draws into a framebuffer object of its own (a GL widget does), not
// into the window: the 3D area and the lasso capture must both work there.
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/study/FerrowManager.h"
#include "selection/ParticleSelection.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/VisTestSupport.h"

#include <gtest/gtest.h>
#include <osg/GLExtensions>

#include <cmath>
#include <memory>

using namespace vistest;

TEST(ViewFramebuffer, SceneAndLassoWorkInsideTheViewsFramebufferObject)
{
    std::vector<int> labels;
    DatasetFixture data(DatasetFixture::BlobInNoise(4000, 4000, 5, &labels).get(), labels);
    OffscreenContext context;
    if (!context.gc.valid()) GTEST_SKIP() << "no OpenGL context (the test script runs under Xvfb)";
    osg::GLExtensions* gl = osg::GLExtensions::Get(context.gc->getState()->getContextID(), true);
    ASSERT_TRUE(gl && gl->isFrameBufferObjectSupported);

    GLuint fbo = 0, colour = 0, depth = 0;
    gl->glGenFramebuffers(1, &fbo);
    gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, fbo);
    gl->glGenRenderbuffers(1, &colour);
    gl->glBindRenderbuffer(GL_RENDERBUFFER_EXT, colour);
    gl->glRenderbufferStorage(GL_RENDERBUFFER_EXT, GL_RGBA8, ViewWidth, ViewHeight);
    gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, colour);
    gl->glGenRenderbuffers(1, &depth);
    gl->glBindRenderbuffer(GL_RENDERBUFFER_EXT, depth);
    gl->glRenderbufferStorage(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, ViewWidth, ViewHeight);
    gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, depth);
    ASSERT_EQ(gl->glCheckFramebufferStatus(GL_FRAMEBUFFER_EXT), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));

    FerrowManager::Instance()->SetTechnique(FerrowManager::CylinderTechnique);
    {
        KelvoVis vis(nullptr, 0, ViewWidth, ViewHeight);
        vis.setLayout(TestLayout(), KelvoLayout());
        // What the view does in every paint.
        auto paint = [&] {
            gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, fbo);
            glViewport(0, 0, ViewWidth, ViewHeight);
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            vis.setDefaultFboId(fbo);
            Paint(vis);
        };
        paint();
        const osg::Vec3d c = Project(vis, osg::Vec3d(0, 0, 0));
        const double r = (Project(vis, osg::Vec3d(1.3, 0, 0)) - c).length();
        Send(vis, "CYSPLUSS", c.x() + r, c.y());
        for (int i = 1; i < 90; ++i)
            Send(vis, "CYSPLUS", c.x() + r * std::cos(2 * M_PI * i / 90), c.y() + r * std::sin(2 * M_PI * i / 90));
        Send(vis, "CYSPLUSE", c.x() + r, c.y() - 0.5);
        paint();
        paint();
        ASSERT_FALSE(vis.GetFrameStrategy()->IsBuildPending());
        size_t blob = 0;
        for (size_t i = 0; i < labels.size(); ++i) blob += vis.GetSelectionMask()[i] && labels[i] == 1;
        EXPECT_GT(blob, 3600u);
        paint();

        // The frame landed in the view's framebuffer: the selection colour
        // near the blob's centre, the background at a corner of the 3D area,
        // and nothing of the scene outside it.
        gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, fbo);
        std::vector<unsigned char> px(static_cast<size_t>(ViewWidth) * ViewHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, ViewWidth, ViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        auto at = [&](int x, int y) { return &px[(static_cast<size_t>(y) * ViewWidth + x) * 4]; };
        size_t orange = 0;
        for (int y = int(c.y() - r / 2); y < int(c.y() + r / 2); ++y)
            for (int x = int(c.x() - r / 2); x < int(c.x() + r / 2); ++x) {
                const unsigned char* p = at(x, y);
                orange += p[0] > 200 && p[2] < 100;
            }
        EXPECT_GT(orange, 50u) << "selected particles drawn in the selection colour";
        EXPECT_EQ(at(85, 25)[0], 13) << "background of the 3D area";
        EXPECT_EQ(at(78, 300)[0], 0) << "left of the 3D area stays the view's";
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
    gl->glDeleteFramebuffers(1, &fbo);
    gl->glDeleteRenderbuffers(1, &colour);
    gl->glDeleteRenderbuffers(1, &depth);
    FerrowManager::Destroy();
}
