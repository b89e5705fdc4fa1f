#pragma once
// TargetFile: a trial's target as a list of particle indices (0-based, in the
// order of the dataset's positions). Indices are separated by blanks, commas
// or line ends; "#" starts a comment running to the end of the line. A
// repeated index counts once. Problems name the file and its line.
#include <string>
#include <vector>

class TargetFile {
public:
    // Sets the flags of `target` (sized to `particles`) and returns no
    // problems, or returns them and leaves `target` unspecified.
    static std::vector<std::string> Read(const std::string& path, std::size_t particles, std::vector<bool>& target);
};
