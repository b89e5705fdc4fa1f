// Particle files, both formats, from arbitrary bytes.
#include "framework/study/DatasetFile.h"
#include "tests/fuzz/FuzzSupport.h"

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
        CheckReadOutcome(ok, positions, error);
    }
    return 0;
}
