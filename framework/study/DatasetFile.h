#pragma once
// DatasetFile: reads a particle file into single-precision positions, with
// labels and a coordinate offset where the format has them. The one reader
// behind Pravik's command line, the study file and trellan-select; every
// format is described in docs/data-formats.md.
//
// Chosen by extension (case-insensitive):
//   .raw .bin .f32  raw little-endian float32 triples x y z, 12 bytes per
//                   particle, no header; the size must be a multiple of 12.
//                   Values that look like another layout (float64, big-endian)
//                   load but add a note saying which layout it probably is.
//   .f64            raw little-endian float64 triples, 24 bytes per particle.
//   .csv .tsv       a header line naming the columns; x, y, z (any case) or
//                   the columns chosen as FILE.csv?x=A&y=B&z=C; an integer
//                   "label" column (or ?label=NAME) gives labels.
//   .ply            ASCII or binary (either byte order); vertex x y z float or
//                   double, optional integer "label".
//   .xyz            molecular: count line, comment line, "element x y z"; the
//                   elements become labels 1, 2, ... in order of appearance.
//   .h5 .hdf5 .hdf  HDF5: FILE.hdf5:/path names an N×3 float32/float64 dataset
//                   or a group holding "Coordinates"; without a path, the
//                   file's only N×3 dataset.
//   anything else   text, one particle per line as "x y z" or "x,y,z"
//                   (spaces and tabs around the numbers are fine); "#" starts a
//                   comment that runs to the end of the line; blank lines are
//                   skipped; Windows line ends are accepted.
// Double-precision coordinates (.f64, PLY double, HDF5 float64) are stored
// relative to the centre of their bounding box, computed in double; the
// centre is the offset (file coordinates = position + offset). Text formats are
// parsed to float as they are.
//
// A file is all or nothing: a malformed line (text: up to five are named, then
// one summary line), a coordinate that is not finite or not representable as a
// float (nan, inf, 1e39), a truncated binary file, or a file without any
// particle rejects the whole file, and the error names the file and the line
// or byte offset. Nothing is returned from a rejected file. No count a file
// declares (PLY elements, XYZ atoms, HDF5 dimensions) is allocated before it
// is checked against what the file can hold, and a file too large for memory
// is refused in the same way.
//
// Cost: one pass over the file; raw float32 and HDF5 float32 are read straight
// into the positions, the other formats hold the file's bytes (or, HDF5
// float64, its values) once beside them while parsing.
#include <osg/Vec3d>
#include <osg/Vec3f>

#include <cstddef>
#include <string>
#include <vector>

// What a file holds beside its positions.
struct DatasetExtras {
    std::vector<int> labels;        // one per particle, or empty
    osg::Vec3d offset{0, 0, 0};     // file coordinates = position + offset
    bool centred = false;           // offset was taken from a double-precision file
    std::vector<std::string> notes; // console lines: label numbering, offset, layout hints
};

// Columns of a CSV/TSV file chosen by name (compared case-insensitively).
struct CsvColumns {
    std::string axis[3] = {"x", "y", "z"};
    std::string label = "label";
};

class DatasetFile {
public:
    // Reads a file named as above (with ?... or :/path where its format takes
    // one); on failure returns false, leaves positions and extras empty and
    // sets error to a few lines naming the file and the reason.
    static bool Read(const std::string& spec, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                     std::string& error);
    // The same without what the file holds beside its positions.
    static bool Read(const std::string& path, std::vector<osg::Vec3f>& positions, std::string& error);

    // The two parsers on bytes already in memory; name is used in messages.
    static bool ParseRaw(const void* bytes, size_t size, const std::string& name,
                         std::vector<osg::Vec3f>& positions, std::string& error);
    static bool ParseText(const char* text, size_t size, const std::string& name,
                          std::vector<osg::Vec3f>& positions, std::string& error);
    static bool ParseF64(const void* bytes, size_t size, const std::string& name,
                         std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error);
    // delimiter ',' or '\t'.
    static bool ParseCsv(const char* text, size_t size, const std::string& name, char delimiter,
                         const CsvColumns& columns, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                         std::string& error);
    static bool ParsePly(const void* bytes, size_t size, const std::string& name,
                         std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error);
    static bool ParseXyz(const char* text, size_t size, const std::string& name,
                         std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error);
    // object: the dataset or group path after "FILE.hdf5:", or empty.
    static bool ReadHdf5(const std::string& path, const std::string& object, std::vector<osg::Vec3f>& positions,
                         DatasetExtras& extras, std::string& error);

    // One line naming the layout a raw float32 file probably has when its
    // values do not look like little-endian float32; empty otherwise.
    static std::string RawLayoutHint(const void* bytes, size_t size);

    // True when the extension selects the raw float32 format.
    static bool IsRawName(const std::string& path);

private:
    static bool ReadFile(const std::string& spec, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                         std::string& error);

public:
    // Writes positions as a raw little-endian float32 file.
    static bool WriteRaw(const std::string& path, const std::vector<osg::Vec3f>& positions,
                         std::string& error);
};
