#pragma once
// DurableCsvFile: an append-only results file whose every record is on the
// disk before Append returns (write, then fsync). It is always a new file: an
// existing one is never opened, so no earlier session can be overwritten, and
// the folder entry is synced too, so the file itself survives a power cut.
#include <string>

class DurableCsvFile {
public:
    DurableCsvFile() = default;
    ~DurableCsvFile();
    DurableCsvFile(const DurableCsvFile&) = delete;
    DurableCsvFile& operator=(const DurableCsvFile&) = delete;

    enum CreateResult { Created, Exists, Failed };
    // Creates `path` (never an existing file) and writes the header record.
    CreateResult Create(const std::string& path, const std::string& header, std::string& error);
    // Writes one record (its line end added here) and syncs it.
    bool Append(const std::string& record, std::string& error);
    void Close();
    bool IsOpen() const { return fd >= 0; }
    const std::string& Path() const { return path; }

private:
    bool WriteAll(const std::string& bytes, std::string& error);
    int fd = -1;
    std::string path;
};
