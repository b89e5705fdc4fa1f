// Lasso completion from arbitrary point sequences (NaN, huge, repeated and
// self-intersecting points included) through endPath and BuildGeometry on a
// small dataset, with every mode, technique, threshold, undo, redo and clear.
#include "framework/study/FerrowManager.h"
#include "tests/support/SelectionSession.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

SelectionSession* NewSession()
{
    SelectionSessionOptions options;
    options.viewportWidth = 320;
    options.viewportHeight = 240;
    SelectionSession* session = new SelectionSession(DatasetFixture::BlobInNoise(2000, 2000).get(), options);
    session->scene.LookAt(osg::Vec3d(0, 0, 20), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 40.0, 1.0, 60.0);
    return session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SelectionSession* session = NewSession();  // lives for the whole run, like the program's
    ParticleSelection& s = *session->selection;
    if (size < 2) return 0;
    const uint8_t command = data[0];
    data += 1;
    size -= 1;
    switch (command % 8) {
    case 5: s.undoLastSelection(); return 0;
    case 6: s.redoLastSelection(); return 0;
    case 7: s.ClearSelection(); return 0;
    default: break;
    }
    FerrowManager::Instance()->SetTechnique(command & 8 ? FerrowManager::CylinderTechnique
                                                        : FerrowManager::PravikTechnique);
    // Raw floats (NaN, infinities, huge values) for one input in four; the
    // others map two bytes per coordinate onto the viewport and a margin, so
    // most inputs reach the triangulator and the volumes.
    std::vector<osg::Vec2f> pts;
    const bool raw = (command & 0x60) == 0x60;
    const size_t step = raw ? 8 : 4;
    for (size_t i = 0; i + step <= size && pts.size() < 300; i += step) {
        if (raw) {
            float xy[2];
            std::memcpy(xy, data + i, 8);
            pts.push_back(osg::Vec2f(xy[0], xy[1]));
        } else {
            const int x = data[i] | (data[i + 1] << 8), y = data[i + 2] | (data[i + 3] << 8);
            pts.push_back(osg::Vec2f(x % 400 - 40 + (x >> 9) * 0.25f, y % 320 - 40 + (y >> 9) * 0.25f));
        }
    }
    if (pts.empty()) return 0;
    const int mode = command % 3;
    if (mode == 0) s.startPlusPath(pts[0].x(), pts[0].y());
    if (mode == 1) s.startMinusPath(pts[0].x(), pts[0].y());
    if (mode == 2) s.startIntersectionPath(pts[0].x(), pts[0].y());
    for (size_t i = 1; i < pts.size(); ++i) {
        if (command & 16) s.startPlusPath(pts[i].x(), pts[i].y());  // bypasses the spacing rule
        else s.addIntoPath(pts[i].x(), pts[i].y());
    }
    s.endPath();
    if (s.GetendPathTag()) {
        s.ChangeThreshold((command >> 6) * 0.75f);
        session->BuildKeptLasso();
    }
    // The mask always equals the current state's volume mask.
    if (session->MaskMismatch(*session->CurrentState()) >= 0) std::abort();
    if (s.GetHistory().size() > 64) s.ResetSelection();
    return 0;
}
