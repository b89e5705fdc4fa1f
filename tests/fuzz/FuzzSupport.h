#pragma once
// Small helpers shared by the fuzz targets.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
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
