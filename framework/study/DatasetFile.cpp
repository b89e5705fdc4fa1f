#include "framework/study/DatasetFile.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

const size_t kBytesPerParticle = 12;
// How much of an offending line an error message quotes.
const size_t kQuoteLimit = 40;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string FilePrefix(const std::string& name) { return "dataset file " + Quoted(name) + ": "; }

// A printable excerpt of a line for messages.
std::string Excerpt(const char* begin, const char* end)
{
    std::string out;
    for (const char* c = begin; c < end && out.size() < kQuoteLimit; ++c)
        out += std::isprint(static_cast<unsigned char>(*c)) ? *c : '?';
    if (end - begin > static_cast<std::ptrdiff_t>(kQuoteLimit)) out += "...";
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

float LittleEndianFloat(const unsigned char* b)
{
    const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                          (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

enum class NumberResult { Ok, NotANumber, NotRepresentable };

// One decimal number at p (an optional sign, then what from_chars accepts),
// narrowed to float; p is advanced past it.
NumberResult ParseNumber(const char*& p, const char* end, float& value)
{
    const char* start = p;
    if (p < end && *p == '+') {
        ++p;
        // A sign must be followed by the number itself.
        if (p == end || *p == '+' || *p == '-') return NumberResult::NotANumber;
    }
    double d = 0.0;
    const std::from_chars_result r = std::from_chars(p, end, d, std::chars_format::general);
    if (r.ptr == p) return NumberResult::NotANumber;
    p = r.ptr;
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow toward zero is harmless; only magnitudes beyond float are refused.
        bool tiny = false;
        for (const char* c = start; c < r.ptr; ++c)
            if ((*c == 'e' || *c == 'E') && c + 1 < r.ptr && c[1] == '-') tiny = true;
        if (!tiny) return NumberResult::NotRepresentable;
        d = 0.0;
    }
    if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(FLT_MAX)) return NumberResult::NotRepresentable;
    value = static_cast<float>(d);
    if (!std::isfinite(value)) return NumberResult::NotRepresentable;
    return NumberResult::Ok;
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
    if (size % kBytesPerParticle != 0) {
        error = FilePrefix(name) + "its size of " + std::to_string(size) +
                " bytes is not a multiple of 12 (three little-endian float32 per particle)";
        return false;
    }
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    const size_t count = size / kBytesPerParticle;
    std::vector<osg::Vec3f> out(count);
    for (size_t i = 0; i < count; ++i, b += kBytesPerParticle) {
        const float x = LittleEndianFloat(b), y = LittleEndianFloat(b + 4), z = LittleEndianFloat(b + 8);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
            error = FilePrefix(name) + "particle " + std::to_string(i) + " (byte offset " +
                    std::to_string(i * kBytesPerParticle) + ") has a non-finite coordinate";
            return false;
        }
        out[i].set(x, y, z);
    }
    positions.swap(out);
    return true;
}

bool DatasetFile::ParseText(const char* text, size_t size, const std::string& name,
                            std::vector<osg::Vec3f>& positions, std::string& error)
{
    positions.clear();
    std::vector<osg::Vec3f> out;
    const char* p = text;
    const char* const end = text + size;
    size_t lineNumber = 0;
    while (p < end) {
        ++lineNumber;
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!lineEnd) lineEnd = end;
        const char* next = lineEnd < end ? lineEnd + 1 : end;
        const char* stop = static_cast<const char*>(std::memchr(p, '#', static_cast<size_t>(lineEnd - p)));
        if (!stop) stop = lineEnd;
        const char* lineStart = p;

        const char* c = p;
        while (c < stop && IsBlank(*c)) ++c;
        const char* contentEnd = stop;
        while (contentEnd > c && (IsBlank(contentEnd[-1]) || contentEnd[-1] == '\r')) --contentEnd;
        p = next;
        if (c == contentEnd) continue;

        const std::string where = FilePrefix(name) + "line " + std::to_string(lineNumber) + ": ";
        const std::string malformed = where + "expected three numbers as \"x y z\" or \"x,y,z\", found " +
                                      Quoted(Excerpt(lineStart, contentEnd));
        float v[3];
        for (int k = 0; k < 3; ++k) {
            if (k > 0) {
                // Separator: blanks, or one comma with optional blanks around it.
                const char* sepStart = c;
                while (c < contentEnd && IsBlank(*c)) ++c;
                if (c < contentEnd && *c == ',') {
                    ++c;
                    while (c < contentEnd && IsBlank(*c)) ++c;
                }
                if (c == sepStart) {
                    error = malformed;
                    return false;
                }
            }
            const char* numberStart = c;
            const NumberResult r = ParseNumber(c, contentEnd, v[k]);
            if (r == NumberResult::NotANumber) {
                error = malformed;
                return false;
            }
            if (r == NumberResult::NotRepresentable) {
                error = where + "coordinate " + Quoted(Excerpt(numberStart, c)) +
                        " is not a finite single-precision number";
                return false;
            }
        }
        if (c != contentEnd) {
            error = malformed;
            return false;
        }
        out.push_back(osg::Vec3f(v[0], v[1], v[2]));
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
    positions.clear();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = FilePrefix(path) + "cannot be opened: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = FilePrefix(path) + "is not a regular file";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = FilePrefix(path) + "cannot be opened: " + std::strerror(errno);
        return false;
    }
    std::vector<char> bytes;
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
    if (IsRawName(path)) return ParseRaw(bytes.data(), bytes.size(), path, positions, error);
    return ParseText(bytes.data(), bytes.size(), path, positions, error);
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
