#include "framework/runner/TargetFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

std::vector<std::string> TargetFile::Read(const std::string& path, std::size_t particles, std::vector<bool>& target)
{
    std::vector<std::string> problems;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems.push_back(path + ": cannot open the target file: " + std::strerror(errno));
        return problems;
    }
    target.assign(particles, false);
    std::size_t count = 0;
    std::string line;
    // A wrong file (a dataset given by mistake) would bury the study file's
    // other problems under thousands of lines.
    const size_t kMostProblems = 10;
    for (int lineNr = 1; problems.size() < kMostProblems && std::getline(in, line); ++lineNr) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        for (char& c : line)
            if (c == ',' || c == '\r' || c == '\t') c = ' ';
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const std::string where = path + ":" + std::to_string(lineNr) + ": ";
            bool digits = !word.empty() && word.size() < 19;
            for (char c : word) digits = digits && c >= '0' && c <= '9';
            if (!digits) {
                problems.push_back(where + "\"" + word + "\" is not a particle index");
                continue;
            }
            const unsigned long long index = std::stoull(word);
            if (index >= particles) {
                problems.push_back(where + "particle index " + word + " is out of range (the dataset has " +
                                   std::to_string(particles) + " particles)");
                continue;
            }
            if (!target[index]) ++count;
            target[index] = true;
        }
    }
    if (problems.size() >= kMostProblems) problems.push_back(path + ": further problems not listed");
    if (problems.empty() && count == 0) problems.push_back(path + ": the target file holds no particle indices");
    return problems;
}
