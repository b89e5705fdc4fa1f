#include "framework/runner/CsvFormat.h"

#include <charconv>
#include <cmath>
#include <system_error>

std::string CsvFormat::Field(const std::string& text)
{
    const bool blankEdge = !text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                             text.front() == '\t' || text.back() == '\t');
    if (!blankEdge && text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvFormat::Record(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += fields[i];
    }
    return line;
}

std::string CsvFormat::Number(double value, int significantDigits)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                                 significantDigits);
    return std::string(buffer, r.ptr);
}

std::string CsvFormat::Integer(long long value)
{
    return std::to_string(value);
}

std::vector<std::vector<std::string>> CsvFormat::Parse(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false, fieldStarted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
            fieldStarted = false;
        } else if (c == '\n') {
            if (!field.empty() && field.back() == '\r') field.pop_back();
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            fieldStarted = false;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    return records;
}

bool CsvFormat::ToNumber(const std::string& text, double& value)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
    if (first < last && *first == '+') ++first;
    if (first == last) return false;
    const auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last;
}
