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

// Headers that declare up to 2^40 records over the input's bytes: a reader
// that believed the count would allocate far beyond -malloc_limit_mb.
void DeclaredHuge(const uint8_t* data, size_t size)
{
    if (size < 2) return;
    const unsigned long long count = (1ull << (data[0] % 41)) + data[1] % 3 - 1;
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const char* formats[] = {"ascii", "binary_little_endian", "binary_big_endian"};
    const std::string ply = "ply\nformat " + std::string(formats[data[1] % 3]) + " 1.0\nelement vertex " +
                            std::to_string(count) +
                            (data[1] & 4 ? "\nproperty double x\nproperty double y\nproperty double z\n"
                                         : "\nproperty float x\nproperty float y\nproperty float z\n") +
                            (data[1] & 8 ? "property int label\n" : "") + "end_header\n" + rest;
    const std::string xyz = std::to_string(count) + "\ncomment\n" + rest;
    std::vector<osg::Vec3f> positions;
    DatasetExtras extras;
    std::string error;
    Check(DatasetFile::ParsePly(ply.data(), ply.size(), "fuzz.ply", positions, extras, error), positions, extras, error);
    positions.clear();
    error.clear();
    Check(DatasetFile::ParseXyz(xyz.data(), xyz.size(), "fuzz.xyz", positions, extras, error), positions, extras, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeclaredHuge(data, size);
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
