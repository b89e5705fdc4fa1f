// PLY for DatasetFile, our own reader: the scene graph's PLY plugin narrows
// double coordinates to float before we could centre them, drops a label
// property, and reports a malformed file only as "file not handled".
#include "framework/study/DatasetFile.h"

#include "framework/study/DatasetParsing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

using namespace DatasetParsing;

namespace {

enum class Format { Ascii, Little, Big };

struct Property {
    std::string name;
    int type = 0;      // size in bytes of the value (or of a list's items)
    bool floating = false;
    bool isSigned = false;
    bool list = false;
    int countType = 0;  // size of a list's count
    bool countSigned = false;
};

struct Element {
    std::string name;
    size_t count = 0;
    std::vector<Property> properties;
};

// Size, float-ness and sign of a PLY type name; size 0 for an unknown one.
int TypeOf(const std::string& t, bool& floating, bool& isSigned)
{
    floating = t == "float" || t == "float32" || t == "double" || t == "float64";
    isSigned = floating || t == "char" || t == "int8" || t == "short" || t == "int16" || t == "int" || t == "int32";
    if (t == "char" || t == "int8" || t == "uchar" || t == "uint8") return 1;
    if (t == "short" || t == "int16" || t == "ushort" || t == "uint16") return 2;
    if (t == "int" || t == "int32" || t == "uint" || t == "uint32" || t == "float" || t == "float32") return 4;
    if (t == "double" || t == "float64") return 8;
    return 0;
}

// One binary value as a double (integers up to 32 bits are exact).
double Decode(const unsigned char* b, int size, bool floating, bool isSigned, Format format)
{
    unsigned char v[8];
    for (int i = 0; i < size; ++i) v[i] = format == Format::Little ? b[i] : b[size - 1 - i];
    uint64_t bits = 0;
    for (int i = size - 1; i >= 0; --i) bits = (bits << 8) | v[i];
    if (floating) {
        if (size == 4) {
            const uint32_t u = static_cast<uint32_t>(bits);
            float f;
            std::memcpy(&f, &u, 4);
            return f;
        }
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    if (isSigned) {
        const int shift = 64 - 8 * size;
        return static_cast<double>(static_cast<int64_t>(bits << shift) >> shift);
    }
    return static_cast<double>(bits);
}

std::vector<std::string> Words(const char* begin, const char* end)
{
    std::vector<std::string> words;
    const char* c = begin;
    while (c < end) {
        while (c < end && (IsBlank(*c) || *c == '\r')) ++c;
        const char* start = c;
        while (c < end && !IsBlank(*c) && *c != '\r') ++c;
        if (c > start) words.emplace_back(start, c);
    }
    return words;
}

}  // namespace

bool DatasetFile::ParsePly(const void* bytes, size_t size, const std::string& name,
                           std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error)
{
    positions.clear();
    extras = DatasetExtras();
    const char* text = static_cast<const char*>(bytes);
    LineCursor lines(text, size);
    const char *begin = nullptr, *end = nullptr;
    auto fail = [&](const std::string& why) {
        error = FilePrefix(name) + "line " + std::to_string(lines.number) + ": " + why;
        return false;
    };
    if (!lines.Next(begin, end) || std::string(begin, end) != "ply") return fail("not a PLY file (no \"ply\" line)");
    Format format = Format::Ascii;
    bool haveFormat = false, ended = false;
    std::vector<Element> elements;
    while (!ended && lines.Next(begin, end)) {
        const std::vector<std::string> w = Words(begin, end);
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") continue;
        if (w[0] == "format") {
            if (w.size() != 3 || w[2] != "1.0") return fail("unsupported format line " + Quoted(Excerpt(begin, end)));
            if (w[1] == "ascii") format = Format::Ascii;
            else if (w[1] == "binary_little_endian") format = Format::Little;
            else if (w[1] == "binary_big_endian") format = Format::Big;
            else return fail("unknown format " + Quoted(w[1]));
            haveFormat = true;
        } else if (w[0] == "element") {
            unsigned long long count = 0;
            const char* p = w.size() == 3 ? w[2].c_str() : "";
            char* stop = nullptr;
            count = std::strtoull(p, &stop, 10);
            if (w.size() != 3 || *p == '\0' || *stop != '\0' || *p == '-' || count > (1ull << 40))
                return fail("expected \"element NAME COUNT\", found " + Quoted(Excerpt(begin, end)));
            elements.push_back({w[1], static_cast<size_t>(count), {}});
        } else if (w[0] == "property") {
            if (elements.empty()) return fail("a property before any element");
            Property prop;
            if (w.size() == 5 && w[1] == "list") {
                bool countFloating = false;
                prop.list = true;
                prop.countType = TypeOf(w[2], countFloating, prop.countSigned);
                prop.type = TypeOf(w[3], prop.floating, prop.isSigned);
                prop.name = w[4];
                if (!prop.countType || countFloating || !prop.type) return fail("unknown list types in " + Quoted(Excerpt(begin, end)));
            } else if (w.size() == 3) {
                prop.type = TypeOf(w[1], prop.floating, prop.isSigned);
                prop.name = w[2];
                if (!prop.type) return fail("unknown property type " + Quoted(w[1]));
            } else {
                return fail("expected \"property TYPE NAME\", found " + Quoted(Excerpt(begin, end)));
            }
            elements.back().properties.push_back(prop);
        } else if (w[0] == "end_header") {
            ended = true;
        } else {
            return fail("unknown header line " + Quoted(Excerpt(begin, end)));
        }
    }
    if (!ended) return fail("the header has no end_header line");
    if (!haveFormat) return fail("the header has no format line");

    // The vertex element and where its properties sit.
    size_t vertexIndex = elements.size();
    for (size_t e = 0; e < elements.size(); ++e)
        if (elements[e].name == "vertex") vertexIndex = e;
    if (vertexIndex == elements.size()) return fail("the header has no vertex element");
    const Element& vertex = elements[vertexIndex];
    int axis[3] = {-1, -1, -1}, label = -1;
    bool doubles = false;
    for (size_t i = 0; i < vertex.properties.size(); ++i) {
        const Property& p = vertex.properties[i];
        const int a = AxisOf(p.name);
        if (a >= 0) {
            if (p.list || !p.floating) return fail("vertex property " + p.name + " must be float or double");
            axis[a] = static_cast<int>(i);
            doubles = doubles || p.type == 8;
        }
        if (p.name == "label") {
            if (p.list || p.floating || (p.type == 4 && !p.isSigned)) return fail("vertex property label must be an integer of at most 32 bits (signed for 4 bytes)");
            label = static_cast<int>(i);
        }
    }
    for (int a = 0; a < 3; ++a)
        if (axis[a] < 0) return fail(std::string("the vertex element has no property ") + "xyz"[a]);
    if (vertex.count == 0) {
        error = FilePrefix(name) + "holds no particles (0 vertices)";
        return false;
    }
    // A count the rest of the file cannot hold is a lie that would only cost
    // memory or time before the file runs out. A record takes at least its
    // binary sizes (a list its count), or in ASCII a digit and a blank or line
    // end per value; and never less than a byte.
    const size_t body = size - static_cast<size_t>(lines.p - text);
    // The last ASCII line may lack its line end.
    const size_t room = body + (format == Format::Ascii ? 1 : 0);
    size_t claimed = 0;
    for (size_t e = 0; e <= vertexIndex; ++e) {
        size_t least = 0;
        for (const Property& p : elements[e].properties)
            least += format == Format::Ascii ? 2 : static_cast<size_t>(p.list ? p.countType : p.type);
        least = std::max<size_t>(least, 1);
        if (elements[e].count > (room - claimed) / least)
            return fail("element " + elements[e].name + " announces " + std::to_string(elements[e].count) +
                        " records, more than the file's " + std::to_string(body) + " bytes after its header could hold");
        claimed += elements[e].count * least;
    }

    std::vector<double> xyz(3 * vertex.count);
    std::vector<int> labels(label >= 0 ? vertex.count : 0);
    size_t offset = static_cast<size_t>(lines.p - text);
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    for (size_t e = 0; e <= vertexIndex; ++e) {
        const Element& el = elements[e];
        const bool keep = e == vertexIndex;
        for (size_t r = 0; r < el.count; ++r) {
            if (format == Format::Ascii) {
                if (!lines.Next(begin, end)) {
                    error = FilePrefix(name) + "the file ends after " + std::to_string(r) + " of " +
                            std::to_string(el.count) + " " + el.name + " lines";
                    return false;
                }
                const char* c = begin;
                for (size_t pi = 0; pi < el.properties.size(); ++pi) {
                    const Property& p = el.properties[pi];
                    size_t items = 1;
                    double value = 0.0;
                    for (size_t k = 0; k < items + (p.list ? 1 : 0); ++k) {
                        while (c < end && IsBlank(*c)) ++c;
                        const char* start = c;
                        if (ParseDouble(c, end, value) != NumberResult::Ok || (c < end && !IsBlank(*c)))
                            return fail("expected a number for " + el.name + " property " + p.name + ", found " +
                                        Quoted(Excerpt(start, end)));
                        if (p.list && k == 0) {
                            if (value < 0 || value > 1e6 || value != static_cast<double>(static_cast<size_t>(value)))
                                return fail("bad list length for property " + p.name);
                            items = static_cast<size_t>(value);
                            continue;
                        }
                    }
                    if (!keep) continue;
                    const int a = AxisOf(p.name);
                    if (static_cast<int>(pi) == axis[0] || static_cast<int>(pi) == axis[1] || static_cast<int>(pi) == axis[2])
                        xyz[3 * r + static_cast<size_t>(a)] = value;
                    if (static_cast<int>(pi) == label) {
                        // The range first: converting a value outside int's range is undefined.
                        if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()) ||
                            value != static_cast<double>(static_cast<int>(value)))
                            return fail("label " + std::to_string(value) + " is not a whole number");
                        labels[r] = static_cast<int>(value);
                    }
                }
                while (c < end && IsBlank(*c)) ++c;
                if (c != end) return fail("more values than the " + el.name + " element has properties");
            } else {
                for (size_t pi = 0; pi < el.properties.size(); ++pi) {
                    const Property& p = el.properties[pi];
                    size_t items = 1;
                    if (p.list) {
                        if (size - offset < static_cast<size_t>(p.countType)) goto truncated;
                        const double n = Decode(data + offset, p.countType, false, p.countSigned, format);
                        offset += static_cast<size_t>(p.countType);
                        if (n < 0) {
                            error = FilePrefix(name) + "byte offset " + std::to_string(offset) + ": negative list length";
                            return false;
                        }
                        items = static_cast<size_t>(n);
                    }
                    if ((size - offset) / static_cast<size_t>(p.type) < items) goto truncated;
                    if (keep && !p.list) {
                        const double value = Decode(data + offset, p.type, p.floating, p.isSigned, format);
                        const int a = AxisOf(p.name);
                        if (static_cast<int>(pi) == axis[0] || static_cast<int>(pi) == axis[1] || static_cast<int>(pi) == axis[2])
                            xyz[3 * r + static_cast<size_t>(a)] = value;
                        if (static_cast<int>(pi) == label) labels[r] = static_cast<int>(value);
                    }
                    offset += items * static_cast<size_t>(p.type);
                }
                continue;
            truncated:
                error = FilePrefix(name) + "byte offset " + std::to_string(offset) + ": the file ends inside " +
                        el.name + " " + std::to_string(r) + " of " + std::to_string(el.count);
                return false;
            }
        }
    }
    if (doubles) {
        if (!CentreDoubles(xyz.data(), vertex.count, name, positions, extras.offset, error)) return false;
        extras.centred = true;
    } else {
        positions.resize(vertex.count);
        for (size_t i = 0; i < vertex.count; ++i) {
            const double* v = &xyz[3 * i];
            // Float properties decode exactly; ASCII text is narrowed as in the text format.
            const float f[3] = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
            if (!std::isfinite(f[0]) || !std::isfinite(f[1]) || !std::isfinite(f[2])) {
                positions.clear();
                error = FilePrefix(name) + "vertex " + std::to_string(i) + " has a non-finite coordinate";
                return false;
            }
            positions[i].set(f[0], f[1], f[2]);
        }
    }
    extras.labels.swap(labels);
    return true;
}
