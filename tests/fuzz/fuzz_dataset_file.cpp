// Particle files, both formats, from arbitrary bytes.
#include "framework/study/DatasetFile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<osg::Vec3f> positions;
    std::string error;
    for (int raw = 0; raw < 2; ++raw) {
        positions.clear();
        error.clear();
        const bool ok = raw ? DatasetFile::ParseRaw(data, size, "fuzz.raw", positions, error)
                            : DatasetFile::ParseText(reinterpret_cast<const char*>(data), size, "fuzz.txt", positions, error);
        // Accepted files hold finite particles only; rejected ones hold none and say why.
        if (ok) {
            if (positions.empty() || !error.empty()) std::abort();
            for (const osg::Vec3f& p : positions)
                if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) std::abort();
        } else if (!positions.empty() || error.empty()) {
            std::abort();
        }
    }
    return 0;
}
