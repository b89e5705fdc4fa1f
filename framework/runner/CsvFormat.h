#pragma once
// CsvFormat: the comma-separated format of the results files. Fields are
// quoted only when they hold a comma, a quote, a line break or surrounding
// blanks, with inner quotes doubled; records end in "\n". Numbers are written
// and read independently of the process locale (a Qt program takes the
// user's locale, and a decimal comma would break every column).
#include <string>
#include <vector>

class CsvFormat {
public:
    static std::string Field(const std::string& text);
    // Joins already formatted fields into one record without its line end.
    static std::string Record(const std::vector<std::string>& fields);

    // Shortest-round-trip style "%.<digits>g", always with a '.'.
    static std::string Number(double value, int significantDigits = 17);
    static std::string Integer(long long value);

    // Parses a whole file's text into records of fields. A last record
    // without its line end is dropped: it is a row cut off by a crash.
    static std::vector<std::vector<std::string>> Parse(const std::string& text);
    // Locale-independent number; false when `text` is not entirely one.
    static bool ToNumber(const std::string& text, double& value);
};
