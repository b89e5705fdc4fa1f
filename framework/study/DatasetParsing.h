#pragma once
// DatasetParsing: pieces the particle-file readers share (framework/study/
// DatasetFile*.cpp); not used outside them.
//   ParseNumber    one decimal number narrowed to float, with the reason a
//                  number is refused; costs one from_chars call.
//   BadLines       collects the malformed lines of a text file: the first five
//                  are named, all are counted, and Error() ends with one
//                  summary line.
//   CentreDoubles  turns double coordinates into floats relative to their
//                  bounding box's centre (computed in double); two passes.
#include <osg/Vec3d>
#include <osg/Vec3f>

#include <cstddef>
#include <string>
#include <vector>

namespace DatasetParsing {

// How much of an offending line an error message quotes.
const size_t kQuoteLimit = 40;
// How many malformed lines an error names before it only counts them.
const size_t kNamedBadLines = 5;

std::string Quoted(const std::string& s);
// "dataset file "NAME": "
std::string FilePrefix(const std::string& name);
// A printable excerpt of [begin, end) for messages.
std::string Excerpt(const char* begin, const char* end);
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

enum class NumberResult { Ok, NotANumber, NotRepresentable };
// One decimal number at p (an optional sign, then what from_chars accepts),
// narrowed to float; p is advanced past it.
NumberResult ParseNumber(const char*& p, const char* end, float& value);
// The same as a double (finite values only).
NumberResult ParseDouble(const char*& p, const char* end, double& value);
// A whole decimal integer that fits an int, the whole of [begin, end).
bool ParseInt(const char* begin, const char* end, int& value);

// Walks text line by line: the line's bounds without its end, and its number.
struct LineCursor {
    const char* p;
    const char* end;
    size_t number = 0;
    LineCursor(const char* text, size_t size) : p(text), end(text + size) {}
    // False at the end of the text; otherwise [begin, stop) is the next line
    // without "\n" or "\r\n".
    bool Next(const char*& begin, const char*& stop);
};

class BadLines {
public:
    explicit BadLines(const std::string& name) : name(name) {}
    void Add(size_t line, const std::string& reason);
    bool Any() const { return count > 0; }
    // One line per named bad line; more than one bad line adds a summary that
    // counts them against the lines read (goodLines particles were fine).
    std::string Error(size_t goodLines) const;

private:
    std::string name;
    std::vector<std::string> named;
    size_t count = 0;
};

// Stores xyz (3·n doubles) as floats relative to the centre of their bounding
// box. False with an error naming the particle when a value is not finite or
// the data spans more than a float can hold. `what` names the file in errors.
bool CentreDoubles(const double* xyz, size_t n, const std::string& name, std::vector<osg::Vec3f>& positions,
                   osg::Vec3d& offset, std::string& error);

// Sets an element of the three-letter column/axis names x, y, z to its index.
int AxisOf(const std::string& lowerName);
std::string Lower(std::string s);

}  // namespace DatasetParsing
