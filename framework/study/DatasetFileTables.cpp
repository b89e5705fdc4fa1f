// The two tabular text formats of DatasetFile: CSV/TSV with a header, and
// molecular XYZ.
#include "framework/study/DatasetFile.h"

#include "framework/study/DatasetParsing.h"

#include <algorithm>
#include <map>
#include <utility>

using namespace DatasetParsing;

namespace {

using Field = std::pair<const char*, const char*>;

// Splits one line at the delimiter; a field in double quotes may hold the
// delimiter. Blanks around a field are dropped. False for an unclosed quote.
bool SplitFields(const char* begin, const char* end, char delimiter, std::vector<Field>& fields)
{
    fields.clear();
    const char* c = begin;
    while (true) {
        while (c < end && *c != delimiter && IsBlank(*c)) ++c;
        const char* start = c;
        const char* stop;
        if (c < end && *c == '"') {
            start = ++c;
            while (c < end && !(*c == '"' && (c + 1 == end || c[1] != '"'))) c += (*c == '"') ? 2 : 1;
            if (c >= end) return false;
            stop = c++;
            while (c < end && *c != delimiter) ++c;
        } else {
            while (c < end && *c != delimiter) ++c;
            stop = c;
            while (stop > start && IsBlank(stop[-1])) --stop;
        }
        fields.emplace_back(start, stop);
        if (c >= end) return true;
        ++c;  // the delimiter
    }
}

bool WholeNumber(const Field& f, float& value, bool& representable)
{
    const char* p = f.first;
    const NumberResult r = ParseNumber(p, f.second, value);
    representable = r != NumberResult::NotRepresentable;
    return r == NumberResult::Ok && p == f.second;
}

bool IsBlankLine(const char* begin, const char* end)
{
    for (const char* c = begin; c < end; ++c)
        if (!IsBlank(*c) && *c != '\r') return false;
    return true;
}

}  // namespace

bool DatasetFile::ParseCsv(const char* text, size_t size, const std::string& name, char delimiter,
                           const CsvColumns& columns, std::vector<osg::Vec3f>& positions, DatasetExtras& extras,
                           std::string& error)
{
    positions.clear();
    extras = DatasetExtras();
    LineCursor lines(text, size);
    const char *begin = nullptr, *end = nullptr;
    bool haveHeader = false;
    while (lines.Next(begin, end))
        if (!IsBlankLine(begin, end)) {
            haveHeader = true;
            break;
        }
    if (!haveHeader) {
        error = FilePrefix(name) + "holds no particles (no header line naming the columns)";
        return false;
    }
    std::vector<Field> fields;
    if (!SplitFields(begin, end, delimiter, fields)) {
        error = FilePrefix(name) + "line " + std::to_string(lines.number) + ": the header has an unclosed quote";
        return false;
    }
    const size_t columnCount = fields.size();
    std::string known;
    int index[3] = {-1, -1, -1};
    int labelIndex = -1;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string column = Lower(std::string(fields[i].first, fields[i].second));
        known += (known.empty() ? "" : ", ") + column;
        for (int a = 0; a < 3; ++a)
            if (index[a] < 0 && column == Lower(columns.axis[a])) index[a] = static_cast<int>(i);
        if (labelIndex < 0 && column == Lower(columns.label)) labelIndex = static_cast<int>(i);
    }
    for (int a = 0; a < 3; ++a) {
        if (index[a] < 0) {
            error = FilePrefix(name) + "line " + std::to_string(lines.number) + ": no column " +
                    Quoted(columns.axis[a]) + " (its columns: " + Excerpt(known.data(), known.data() + known.size()) +
                    "); choose columns as FILE?x=NAME&y=NAME&z=NAME";
            return false;
        }
    }
    if (labelIndex < 0 && Lower(columns.label) != "label") {
        error = FilePrefix(name) + "no label column " + Quoted(columns.label);
        return false;
    }

    std::vector<osg::Vec3f> out;
    std::vector<int> labels;
    out.reserve(static_cast<size_t>(std::count(text, text + size, '\n')) + 1);
    BadLines bad(name);
    const char separator = delimiter == '\t' ? 't' : ',';
    while (lines.Next(begin, end)) {
        if (IsBlankLine(begin, end)) continue;
        if (!SplitFields(begin, end, delimiter, fields)) {
            bad.Add(lines.number, "unclosed quote in " + Quoted(Excerpt(begin, end)));
            continue;
        }
        if (fields.size() != columnCount) {
            bad.Add(lines.number, "expected " + std::to_string(columnCount) + " fields as the header has, found " +
                                      std::to_string(fields.size()) + (separator == 't' ? " (tab-separated)" : "") +
                                      " in " + Quoted(Excerpt(begin, end)));
            continue;
        }
        float v[3];
        bool ok = true;
        for (int a = 0; a < 3 && ok; ++a) {
            const Field& f = fields[static_cast<size_t>(index[a])];
            bool representable = true;
            if (!WholeNumber(f, v[a], representable)) {
                bad.Add(lines.number, "column " + Quoted(columns.axis[a]) + ": " + Quoted(Excerpt(f.first, f.second)) +
                                          (representable ? " is not a number" : " is not a finite single-precision number"));
                ok = false;
            }
        }
        int label = 0;
        if (ok && labelIndex >= 0) {
            const Field& f = fields[static_cast<size_t>(labelIndex)];
            if (!ParseInt(f.first, f.second, label)) {
                bad.Add(lines.number, "label " + Quoted(Excerpt(f.first, f.second)) + " is not a whole number");
                ok = false;
            }
        }
        if (!ok) continue;
        out.push_back(osg::Vec3f(v[0], v[1], v[2]));
        if (labelIndex >= 0) labels.push_back(label);
    }
    if (bad.Any()) {
        error = bad.Error(out.size());
        return false;
    }
    if (out.empty()) {
        error = FilePrefix(name) + "holds no particles (a header and no rows)";
        return false;
    }
    positions.swap(out);
    extras.labels.swap(labels);
    return true;
}

bool DatasetFile::ParseXyz(const char* text, size_t size, const std::string& name,
                           std::vector<osg::Vec3f>& positions, DatasetExtras& extras, std::string& error)
{
    positions.clear();
    extras = DatasetExtras();
    LineCursor lines(text, size);
    const char *begin = nullptr, *end = nullptr;
    int announced = 0;
    if (!lines.Next(begin, end)) {
        error = FilePrefix(name) + "holds no particles (the file is empty)";
        return false;
    }
    const char* countStart = begin;
    const char* countEnd = end;
    while (countStart < countEnd && IsBlank(*countStart)) ++countStart;
    while (countEnd > countStart && IsBlank(countEnd[-1])) --countEnd;
    if (!ParseInt(countStart, countEnd, announced) || announced < 1) {
        error = FilePrefix(name) + "line 1: expected the atom count, found " + Quoted(Excerpt(begin, end));
        return false;
    }
    if (!lines.Next(begin, end)) {
        error = FilePrefix(name) + "line 2: the comment line is missing (the file ends after the count)";
        return false;
    }

    std::vector<osg::Vec3f> out;
    std::vector<int> labels;
    std::map<std::string, int> numbers;
    std::vector<std::string> elements;
    // The count is the file's word, not a fact: never reserve beyond its lines.
    out.reserve(std::min(static_cast<size_t>(announced), static_cast<size_t>(std::count(text, text + size, '\n')) + 1));
    BadLines bad(name);
    size_t read = 0;
    while (read < static_cast<size_t>(announced) && lines.Next(begin, end)) {
        ++read;
        const char* c = begin;
        while (c < end && IsBlank(*c)) ++c;
        const char* elementStart = c;
        while (c < end && !IsBlank(*c)) ++c;
        const std::string element(elementStart, c);
        const std::string malformed = "expected \"element x y z\", found " + Quoted(Excerpt(begin, end));
        float v[3];
        bool ok = !element.empty();
        for (int a = 0; a < 3 && ok; ++a) {
            const char* sep = c;
            while (c < end && IsBlank(*c)) ++c;
            const char* numberStart = c;
            const NumberResult r = c == sep ? NumberResult::NotANumber : ParseNumber(c, end, v[a]);
            if (r == NumberResult::NotRepresentable) {
                bad.Add(lines.number, "coordinate " + Quoted(Excerpt(numberStart, c)) +
                                          " is not a finite single-precision number");
                ok = false;
                break;
            }
            ok = r == NumberResult::Ok && (c == end || IsBlank(*c));
            if (!ok) bad.Add(lines.number, malformed);
        }
        if (element.empty()) bad.Add(lines.number, malformed);
        if (!ok) continue;
        auto found = numbers.find(element);
        if (found == numbers.end()) {
            elements.push_back(element);
            found = numbers.emplace(element, static_cast<int>(elements.size())).first;
        }
        out.push_back(osg::Vec3f(v[0], v[1], v[2]));
        labels.push_back(found->second);
    }
    if (read < static_cast<size_t>(announced))
        bad.Add(lines.number + 1, "the file ends after " + std::to_string(read) + " of the " +
                                      std::to_string(announced) + " atoms line 1 announces");
    if (bad.Any()) {
        error = bad.Error(out.size());
        return false;
    }
    bool moreFrames = false;
    while (lines.Next(begin, end))
        if (!IsBlankLine(begin, end)) moreFrames = true;
    positions.swap(out);
    extras.labels.swap(labels);
    std::string numbering;
    // A note is one console line: name the first elements, count the rest.
    const size_t kNamedElements = 20;
    for (size_t i = 0; i < elements.size() && i < kNamedElements; ++i)
        numbering += (i ? ", " : "") + std::to_string(i + 1) + " = " + Excerpt(elements[i].data(), elements[i].data() + elements[i].size());
    if (elements.size() > kNamedElements) numbering += ", ... (" + std::to_string(elements.size()) + " elements)";
    extras.notes.push_back(FilePrefix(name) + "labels by element: " + numbering);
    if (moreFrames) extras.notes.push_back(FilePrefix(name) + "only the first frame is read; the lines after it are ignored");
    return true;
}
