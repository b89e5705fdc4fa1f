#include "framework/study/DatasetFile.h"

#include "framework/study/DatasetParsing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

using namespace DatasetParsing;

namespace {

const size_t kBytesPerParticle = 12;
const size_t kBytesPerF64Particle = 24;
// How many words of a raw file the layout guess looks at.
const size_t kHintWords = 1 << 20;

float LittleEndianFloat(const unsigned char* b)
{
    const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                          (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

float BigEndianFloat(const unsigned char* b)
{
    const unsigned char r[4] = {b[3], b[2], b[1], b[0]};
    return LittleEndianFloat(r);
}

double LittleEndianDouble(const unsigned char* b)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Share of values a plausible coordinate would never take: not finite,
// denormal, or of absurd magnitude.
template <class Value>
double OddShare(size_t count, Value value)
{
    if (count == 0) return 1.0;
    size_t odd = 0;
    for (size_t i = 0; i < count; ++i) {
        const double v = std::fabs(static_cast<double>(value(i)));
        if (!std::isfinite(v) || (v != 0.0 && (v < 1e-30 || v > 1e30))) ++odd;
    }
    return static_cast<double>(odd) / static_cast<double>(count);
}

bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == suffix;
}

std::string Extension(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot + 1));
}

bool IsHdf5Extension(const std::string& ext) { return ext == "h5" || ext == "hdf5" || ext == "hdf"; }

// Reads the whole file into bytes (sized once from the file's length).
bool ReadBytes(const std::string& path, std::vector<char>& bytes, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = FilePrefix(path) + "cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fileno(f), &info) == 0 && info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    const bool failed = std::ferror(f) != 0;
    const int readErrno = errno;
    std::fclose(f);
    if (failed) {
        error = FilePrefix(path) + "cannot be read: " + std::strerror(readErrno);
        return false;
    }
    return true;
}

// Raw float32 straight into the positions: the file's bytes are the array's.
bool ReadRawInPlace(const std::string& path, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                    std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = FilePrefix(path) + "cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat info;
    const size_t size = fstat(fileno(f), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
    if (size == 0 || size % kBytesPerParticle != 0) {
        std::fclose(f);
        std::vector<char> bytes;
        if (!ReadBytes(path, bytes, error)) return false;
        return DatasetFile::ParseRaw(bytes.data(), bytes.size(), path, positions, error);
    }
    positions.resize(size / kBytesPerParticle);
    unsigned char* out = reinterpret_cast<unsigned char*>(positions.data());
    size_t done = 0;
    while (done < size) {
        const size_t got = std::fread(out + done, 1, std::min<size_t>(size - done, 1 << 24), f);
        if (got == 0) break;
        done += got;
    }
    const int readErrno = errno;
    std::fclose(f);
    if (done != size) {
        positions.clear();
        error = FilePrefix(path) + "cannot be read: " + std::strerror(readErrno);
        return false;
    }
    // Host order differs from the file's only on a big-endian machine.
    const uint16_t probe = 1;
    if (*reinterpret_cast<const unsigned char*>(&probe) != 1) {
        for (size_t i = 0; i < size; i += 4) {
            std::swap(out[i], out[i + 3]);
            std::swap(out[i + 1], out[i + 2]);
        }
    }
    for (size_t i = 0; i < positions.size(); ++i) {
        const osg::Vec3f& p = positions[i];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
            const std::string hint = DatasetFile::RawLayoutHint(out, std::min(size, kHintWords * 4));
            error = FilePrefix(path) + "particle " + std::to_string(i) + " (byte offset " +
                    std::to_string(i * kBytesPerParticle) + ") has a non-finite coordinate" +
                    (hint.empty() ? "" : "\n" + FilePrefix(path) + hint);
            positions.clear();
            return false;
        }
    }
    const std::string hint = DatasetFile::RawLayoutHint(out, std::min(size, kHintWords * 4));
    if (!hint.empty()) extras.notes.push_back(FilePrefix(path) + hint);
    return true;
}

}  // namespace

bool DatasetFile::IsRawName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "raw" || ext == "bin" || ext == "f32";
}

bool DatasetFile::ParseRaw(const void* bytes, size_t size, const std::string& name,
                           std::vector<osg::Vec3f>& positions, std::string& error)
{
    positions.clear();
    if (size == 0) {
        error = FilePrefix(name) + "holds no particles (the file is empty)";
        return false;
    }
    const std::string hint = RawLayoutHint(bytes, std::min(size - size % 4, kHintWords * 4));
    const std::string hintLine = hint.empty() ? "" : "\n" + FilePrefix(name) + hint;
    if (size % kBytesPerParticle != 0) {
        error = FilePrefix(name) + "its size of " + std::to_string(size) +
                " bytes is not a multiple of 12 (three little-endian float32 per particle)" + hintLine;
        return false;
    }
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    const size_t count = size / kBytesPerParticle;
    std::vector<osg::Vec3f> out(count);
    for (size_t i = 0; i < count; ++i, b += kBytesPerParticle) {
        const float x = LittleEndianFloat(b), y = LittleEndianFloat(b + 4), z = LittleEndianFloat(b + 8);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
            error = FilePrefix(name) + "particle " + std::to_string(i) + " (byte offset " +
                    std::to_string(i * kBytesPerParticle) + ") has a non-finite coordinate" + hintLine;
            return false;
        }
        out[i].set(x, y, z);
    }
    positions.swap(out);
    return true;
}

std::string DatasetFile::RawLayoutHint(const void* bytes, size_t size)
{
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    const size_t words = std::min(size / 4, kHintWords);
    if (words < 6) return "";
    const double little = OddShare(words, [&](size_t i) { return LittleEndianFloat(b + 4 * i); });
    // Small integers and round numbers as float64 leave their low words zero.
    size_t zeroEven = 0, zeroOdd = 0;
    for (size_t i = 0; i + 1 < words; i += 2) {
        zeroEven += LittleEndianFloat(b + 4 * i) == 0.0f;
        zeroOdd += LittleEndianFloat(b + 4 * i + 4) == 0.0f;
    }
    const size_t pairs = words / 2;
    const bool zeroEveryOther = zeroEven * 10 >= pairs * 9 && zeroOdd * 2 < pairs;
    if (little < 0.05 && !zeroEveryOther) return "";
    const double big = OddShare(words, [&](size_t i) { return BigEndianFloat(b + 4 * i); });
    const double f64 = OddShare(words / 2, [&](size_t i) { return LittleEndianDouble(b + 8 * i); });
    if (zeroEveryOther || (f64 < 0.01 && f64 < big)) return "its values look like little-endian float64; name it .f64";
    if (big < 0.01) return "its values look like big-endian float32; the raw format is little-endian float32";
    return "its values do not look like coordinates (many denormal, non-finite or absurdly large values); "
           "the raw format is little-endian float32 x y z";
}

bool DatasetFile::ParseF64(const void* bytes, size_t size, const std::string& name,
                           std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error)
{
    positions.clear();
    if (size == 0) {
        error = FilePrefix(name) + "holds no particles (the file is empty)";
        return false;
    }
    if (size % kBytesPerF64Particle != 0) {
        error = FilePrefix(name) + "its size of " + std::to_string(size) +
                " bytes is not a multiple of 24 (three little-endian float64 per particle)";
        return false;
    }
    const size_t count = size / kBytesPerF64Particle;
    std::vector<double> values(3 * count);
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < 3 * count; ++i) values[i] = LittleEndianDouble(b + 8 * i);
    for (size_t i = 0; i < 3 * count; ++i) {
        if (!std::isfinite(values[i])) {
            error = FilePrefix(name) + "particle " + std::to_string(i / 3) + " (byte offset " +
                    std::to_string(i / 3 * kBytesPerF64Particle) + ") has a non-finite coordinate";
            return false;
        }
    }
    if (!CentreDoubles(values.data(), count, name, positions, extras.offset, error)) return false;
    extras.centred = true;
    return true;
}

bool DatasetFile::ParseText(const char* text, size_t size, const std::string& name,
                            std::vector<osg::Vec3f>& positions, std::string& error)
{
    positions.clear();
    std::vector<osg::Vec3f> out;
    out.reserve(static_cast<size_t>(std::count(text, text + size, '\n')) + 1);
    BadLines bad(name);
    LineCursor lines(text, size);
    const char *lineStart, *lineEnd;
    while (lines.Next(lineStart, lineEnd)) {
        const char* stop = static_cast<const char*>(std::memchr(lineStart, '#', static_cast<size_t>(lineEnd - lineStart)));
        if (!stop) stop = lineEnd;
        const char* c = lineStart;
        while (c < stop && IsBlank(*c)) ++c;
        const char* contentEnd = stop;
        while (contentEnd > c && (IsBlank(contentEnd[-1]) || contentEnd[-1] == '\r')) --contentEnd;
        if (c == contentEnd) continue;

        const std::string malformed = "expected three numbers as \"x y z\" or \"x,y,z\", found " +
                                      Quoted(Excerpt(lineStart, contentEnd));
        float v[3];
        bool ok = true;
        for (int k = 0; k < 3 && ok; ++k) {
            if (k > 0) {
                // Separator: blanks, or one comma with optional blanks around it.
                const char* sepStart = c;
                while (c < contentEnd && IsBlank(*c)) ++c;
                if (c < contentEnd && *c == ',') {
                    ++c;
                    while (c < contentEnd && IsBlank(*c)) ++c;
                }
                if (c == sepStart) {
                    bad.Add(lines.number, malformed);
                    ok = false;
                    break;
                }
            }
            const char* numberStart = c;
            const NumberResult r = ParseNumber(c, contentEnd, v[k]);
            if (r == NumberResult::NotANumber) {
                bad.Add(lines.number, malformed);
                ok = false;
            } else if (r == NumberResult::NotRepresentable) {
                bad.Add(lines.number, "coordinate " + Quoted(Excerpt(numberStart, c)) +
                                          " is not a finite single-precision number");
                ok = false;
            }
        }
        if (ok && c != contentEnd) {
            bad.Add(lines.number, malformed);
            ok = false;
        }
        if (ok) out.push_back(osg::Vec3f(v[0], v[1], v[2]));
    }
    if (bad.Any()) {
        error = bad.Error(out.size());
        return false;
    }
    if (out.empty()) {
        error = FilePrefix(name) + "holds no particles (only blank or comment lines)";
        return false;
    }
    positions.swap(out);
    return true;
}

bool DatasetFile::Read(const std::string& path, std::vector<osg::Vec3f>& positions, std::string& error)
{
    DatasetExtras extras;
    return Read(path, positions, extras, error);
}

bool DatasetFile::Read(const std::string& spec, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                       std::string& error)
{
    // Every count a reader allocates from is checked against what the file
    // can hold; a file that is simply larger than memory ends here, as a
    // refusal like any other.
    try {
        return ReadFile(spec, positions, extras, error);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    std::vector<osg::Vec3f>().swap(positions);
    extras = DatasetExtras();
    error = FilePrefix(spec) + "does not fit in this machine's memory";
    return false;
}

bool DatasetFile::ReadFile(const std::string& spec, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                           std::string& error)
{
    positions.clear();
    extras = DatasetExtras();
    // A name that exists as a file is taken whole; otherwise a suffix after
    // the extension chooses what to read in it.
    std::string path = spec, object, query;
    struct stat info;
    if (stat(spec.c_str(), &info) != 0) {
        const size_t question = spec.rfind('?');
        if (question != std::string::npos &&
            (EndsWith(spec.substr(0, question), ".csv") || EndsWith(spec.substr(0, question), ".tsv"))) {
            path = spec.substr(0, question);
            query = spec.substr(question + 1);
        }
        for (const char* ext : {".hdf5:", ".h5:", ".hdf:"}) {
            const size_t at = Lower(spec).find(ext);
            if (at != std::string::npos) {
                path = spec.substr(0, at + std::strlen(ext) - 1);
                object = spec.substr(at + std::strlen(ext));
                break;
            }
        }
    }
    if (stat(path.c_str(), &info) != 0) {
        error = FilePrefix(path) + "cannot be opened: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = FilePrefix(path) + "is not a regular file";
        return false;
    }
    const std::string ext = Extension(path);
    bool ok = false;
    if (IsHdf5Extension(ext)) {
        ok = ReadHdf5(path, object, positions, extras, error);
    } else if (IsRawName(path)) {
        ok = ReadRawInPlace(path, positions, extras, error);
    } else {
        CsvColumns columns;
        if (!query.empty()) {
            // x=A&y=B&z=C&label=D, each optional.
            size_t start = 0;
            while (start <= query.size()) {
                size_t amp = query.find('&', start);
                if (amp == std::string::npos) amp = query.size();
                const std::string item = query.substr(start, amp - start);
                const size_t eq = item.find('=');
                const std::string key = Lower(item.substr(0, eq));
                const int axis = AxisOf(key);
                if (eq == std::string::npos || eq + 1 == item.size() || (axis < 0 && key != "label")) {
                    error = FilePrefix(path) + "cannot read the column choice " + Quoted(item) +
                            " (expected x=NAME, y=NAME, z=NAME or label=NAME joined by &)";
                    return false;
                }
                (axis >= 0 ? columns.axis[axis] : columns.label) = item.substr(eq + 1);
                start = amp + 1;
            }
        }
        std::vector<char> bytes;
        if (!ReadBytes(path, bytes, error)) return false;
        if (ext == "f64")
            ok = ParseF64(bytes.data(), bytes.size(), path, positions, extras, error);
        else if (ext == "csv" || ext == "tsv")
            ok = ParseCsv(bytes.data(), bytes.size(), path, ext == "tsv" ? '\t' : ',', columns, positions, extras,
                          error);
        else if (ext == "ply")
            ok = ParsePly(bytes.data(), bytes.size(), path, positions, extras, error);
        else if (ext == "xyz")
            ok = ParseXyz(bytes.data(), bytes.size(), path, positions, extras, error);
        else
            ok = ParseText(bytes.data(), bytes.size(), path, positions, error);
    }
    if (!ok) {
        positions.clear();
        extras = DatasetExtras();
        return false;
    }
    if (extras.centred) {
        char line[200];
        std::snprintf(line, sizeof line, "centred on (%.17g, %.17g, %.17g); file coordinates = position + this offset",
                      extras.offset.x(), extras.offset.y(), extras.offset.z());
        extras.notes.push_back(FilePrefix(path) + line);
    }
    return true;
}

bool DatasetFile::WriteRaw(const std::string& path, const std::vector<osg::Vec3f>& positions,
                           std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = FilePrefix(path) + "cannot be created: " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (const osg::Vec3f& p : positions) {
        unsigned char b[kBytesPerParticle];
        for (int k = 0; k < 3; ++k) {
            uint32_t bits;
            const float v = p[k];
            std::memcpy(&bits, &v, sizeof bits);
            for (int i = 0; i < 4; ++i) b[4 * k + i] = static_cast<unsigned char>(bits >> (8 * i));
        }
        if (std::fwrite(b, 1, sizeof b, f) != sizeof b) {
            ok = false;
            break;
        }
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) error = FilePrefix(path) + "cannot be written: " + std::strerror(errno);
    return ok;
}
