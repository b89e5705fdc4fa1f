#pragma once
// Small helpers shared by the fuzz targets.
#include <osg/Vec3f>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>

// Writes the input to a private temporary file and returns its path, for
// parsers that read files by name.
inline std::string WriteTempFile(const uint8_t* data, size_t size, const char* suffix)
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/trellan-fuzz-XXXXXX";
        const char* d = mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    const std::string path = dir + "/input" + suffix;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// What every particle reader promises: an accepted file holds finite
// particles and no error; a rejected one holds none and says why. Aborts
// otherwise, which the fuzzer reports.
inline void CheckReadOutcome(bool ok, const std::vector<osg::Vec3f>& positions, const std::string& error)
{
    if (ok) {
        if (positions.empty() || !error.empty()) std::abort();
        for (const osg::Vec3f& p : positions)
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) std::abort();
    } else if (!positions.empty() || error.empty()) {
        std::abort();
    }
}
