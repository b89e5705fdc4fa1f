#pragma once
// A CSV file a study runner wrote (trials or lassos log), read back: one map
// per record from column name to text. Header-only: only tests that link the
// study runner include it.
#include "framework/runner/CsvFormat.h"

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::map<std::string, std::string>> ReadCsvRecords(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<std::vector<std::string>> rows = CsvFormat::Parse(text.str());
    std::vector<std::map<std::string, std::string>> records;
    for (size_t r = 1; r < rows.size(); ++r) {
        std::map<std::string, std::string> record;
        for (size_t i = 0; i < rows[0].size() && i < rows[r].size(); ++i) record[rows[0][i]] = rows[r][i];
        records.push_back(record);
    }
    return records;
}
