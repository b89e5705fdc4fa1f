// Our own particle-file parsers (CSV, TSV, PLY, XYZ, .f64) from arbitrary bytes.
#include "framework/study/DatasetFile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Accepted files hold finite particles and a label per particle or none;
// rejected ones hold nothing and say why.
void Check(bool ok, const std::vector<osg::Vec3f>& positions, const DatasetExtras& extras, const std::string& error)
{
    CheckReadOutcome(ok, positions, error);
    // Labels, one per particle, and the offset come only with an accepted file.
    if (ok) {
        if (!extras.labels.empty() && extras.labels.size() != positions.size()) std::abort();
        if (!std::isfinite(extras.offset.x()) || !std::isfinite(extras.offset.y()) || !std::isfinite(extras.offset.z()))
            std::abort();
    } else if (!extras.labels.empty()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    CsvColumns columns;
    for (int format = 0; format < 5; ++format) {
        std::vector<osg::Vec3f> positions;
        DatasetExtras extras;
        std::string error;
        bool ok = false;
        switch (format) {
        case 0: ok = DatasetFile::ParseCsv(text, size, "fuzz.csv", ',', columns, positions, extras, error); break;
        case 1: ok = DatasetFile::ParseCsv(text, size, "fuzz.tsv", '\t', columns, positions, extras, error); break;
        case 2: ok = DatasetFile::ParsePly(data, size, "fuzz.ply", positions, extras, error); break;
        case 3: ok = DatasetFile::ParseXyz(text, size, "fuzz.xyz", positions, extras, error); break;
        default: ok = DatasetFile::ParseF64(data, size, "fuzz.f64", positions, extras, error); break;
        }
        Check(ok, positions, extras, error);
    }
    return 0;
}
