#include "framework/study/DatasetParsing.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace DatasetParsing {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string FilePrefix(const std::string& name) { return "dataset file " + Quoted(name) + ": "; }

std::string Excerpt(const char* begin, const char* end)
{
    std::string out;
    for (const char* c = begin; c < end && out.size() < kQuoteLimit; ++c)
        out += std::isprint(static_cast<unsigned char>(*c)) ? *c : '?';
    if (end - begin > static_cast<std::ptrdiff_t>(kQuoteLimit)) out += "...";
    return out;
}

namespace {

// The power of ten of a decimal number's leading digit ("123e4": 6,
// "0.05": -2), saturated far beyond double's range.
long long DecimalOrder(const char* c, const char* end)
{
    const long long kFar = 1000000000;
    if (c < end && (*c == '+' || *c == '-')) ++c;
    long long lead = 0;
    bool seen = false;  // a nonzero digit
    for (; c < end && *c >= '0' && *c <= '9'; ++c) {
        if (*c != '0') seen = true;
        if (seen && lead < kFar) ++lead;
    }
    lead -= 1;  // "123": 2
    if (c < end && *c == '.') {
        for (++c; c < end && *c >= '0' && *c <= '9'; ++c) {
            if (!seen && *c != '0') seen = true;
            else if (!seen && lead > -kFar) --lead;
        }
    }
    long long exponent = 0;
    if (c < end && (*c == 'e' || *c == 'E')) {
        ++c;
        const bool negative = c < end && *c == '-';
        if (c < end && (*c == '+' || *c == '-')) ++c;
        for (; c < end && *c >= '0' && *c <= '9'; ++c) exponent = std::min(kFar, exponent * 10 + (*c - '0'));
        if (negative) exponent = -exponent;
    }
    return lead + exponent;
}

}  // namespace

NumberResult ParseDouble(const char*& p, const char* end, double& value)
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
        // Underflow toward zero is harmless; only overflow is refused. Which
        // one it is follows from the magnitude, not from a "-" in the text:
        // "1000...0e-5" with 400 zeros is huge.
        if (DecimalOrder(start, r.ptr) > 0) return NumberResult::NotRepresentable;
        d = 0.0;
    }
    if (!std::isfinite(d)) return NumberResult::NotRepresentable;
    value = d;
    return NumberResult::Ok;
}

NumberResult ParseNumber(const char*& p, const char* end, float& value)
{
    double d = 0.0;
    const NumberResult r = ParseDouble(p, end, d);
    if (r != NumberResult::Ok) return r;
    if (std::fabs(d) > static_cast<double>(FLT_MAX)) return NumberResult::NotRepresentable;
    value = static_cast<float>(d);
    if (!std::isfinite(value)) return NumberResult::NotRepresentable;
    return NumberResult::Ok;
}

bool ParseInt(const char* begin, const char* end, int& value)
{
    if (begin < end && *begin == '+') ++begin;
    const std::from_chars_result r = std::from_chars(begin, end, value);
    return r.ec == std::errc() && r.ptr == end && begin < end;
}

bool LineCursor::Next(const char*& begin, const char*& stop)
{
    if (p >= end) return false;
    ++number;
    begin = p;
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lineEnd) lineEnd = end;
    p = lineEnd < end ? lineEnd + 1 : end;
    stop = lineEnd;
    if (stop > begin && stop[-1] == '\r') --stop;
    return true;
}

void BadLines::Add(size_t line, const std::string& reason)
{
    ++count;
    if (named.size() < kNamedBadLines) named.push_back(FilePrefix(name) + "line " + std::to_string(line) + ": " + reason);
}

std::string BadLines::Error(size_t goodLines) const
{
    std::string out;
    for (const std::string& line : named) out += (out.empty() ? "" : "\n") + line;
    if (count > 1) {
        out += "\n" + FilePrefix(name) + std::to_string(count) + " malformed lines (" +
               (count > named.size() ? "the first " + std::to_string(named.size()) + " named above"
                                     : std::string("all named above")) +
               ") beside " + std::to_string(goodLines) + " good ones; the whole file is refused";
    }
    return out;
}

bool CentreDoubles(const double* xyz, size_t n, const std::string& name, std::vector<osg::Vec3f>& positions,
                   osg::Vec3d& offset, std::string& error)
{
    double lower[3] = {0, 0, 0}, upper[3] = {0, 0, 0};
    for (size_t i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) {
            const double v = xyz[3 * i + a];
            if (!std::isfinite(v)) {
                error = FilePrefix(name) + "particle " + std::to_string(i) + " has a non-finite coordinate";
                return false;
            }
            if (i == 0 || v < lower[a]) lower[a] = v;
            if (i == 0 || v > upper[a]) upper[a] = v;
        }
    }
    for (int a = 0; a < 3; ++a) {
        // Halves first, so the centre of a box near ±DBL_MAX stays finite.
        offset[a] = lower[a] * 0.5 + upper[a] * 0.5;
        if (!(upper[a] * 0.5 - lower[a] * 0.5 <= static_cast<double>(FLT_MAX))) {
            error = FilePrefix(name) + "its coordinates span more than single precision can hold";
            return false;
        }
    }
    positions.resize(n);
    for (size_t i = 0; i < n; ++i)
        positions[i].set(static_cast<float>(xyz[3 * i] - offset[0]), static_cast<float>(xyz[3 * i + 1] - offset[1]),
                         static_cast<float>(xyz[3 * i + 2] - offset[2]));
    return true;
}

int AxisOf(const std::string& lowerName)
{
    if (lowerName == "x") return 0;
    if (lowerName == "y") return 1;
    if (lowerName == "z") return 2;
    return -1;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace DatasetParsing
