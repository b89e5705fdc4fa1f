#pragma once
// DatasetFile: reads a particle file into single-precision positions.
//
// Two formats, chosen by extension:
//   .raw .bin .f32  raw little-endian float32 triples x y z, 12 bytes per
//                   particle, no header; the size must be a multiple of 12.
//   anything else   text, one particle per line as "x y z" or "x,y,z"
//                   (spaces and tabs around the numbers are fine); "#" starts a
//                   comment that runs to the end of the line; blank lines are
//                   skipped; Windows line ends are accepted.
//
// A file is all or nothing: a malformed line (not exactly three numbers), a
// coordinate that is not finite or not representable as a float (nan, inf,
// 1e39), a truncated raw file, or a file without any particle rejects the whole
// file, and the error names the file and, for text, the line. Nothing is
// returned from a rejected file.
#include <osg/Vec3f>

#include <cstddef>
#include <string>
#include <vector>

class DatasetFile {
public:
    // Reads path; on failure returns false, leaves positions empty and sets
    // error to one line naming the file and the reason.
    static bool Read(const std::string& path, std::vector<osg::Vec3f>& positions, std::string& error);

    // The two parsers on bytes already in memory; name is used in messages.
    static bool ParseRaw(const void* bytes, size_t size, const std::string& name,
                         std::vector<osg::Vec3f>& positions, std::string& error);
    static bool ParseText(const char* text, size_t size, const std::string& name,
                          std::vector<osg::Vec3f>& positions, std::string& error);

    // True when the extension selects the raw float32 format.
    static bool IsRawName(const std::string& path);

    // Writes positions as a raw little-endian float32 file.
    static bool WriteRaw(const std::string& path, const std::vector<osg::Vec3f>& positions,
                         std::string& error);
};
